#include "mib/get_first_provider.h"

#include "mib/get_all.h"
#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"

Data* GetFirstProvider::getData() {
    orla::message request = platformRequest(orla::CMD_GETALL, path);
    for (orla::message const& object : getAll(request)) {
        Data* rec = build(object);
        if (rec) {
            firstObjId = object.get(orla::OBJ_ID, 0xffffffff);
            return rec;
        }
    }
    return nullptr;
}

bool GetFirstProvider::setData(Data*) {
    return false;
}

uint32_t GetFirstProvider::getFirstObjId() {
    accessData();
    return firstObjId;
}
