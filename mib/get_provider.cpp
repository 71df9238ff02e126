#include "mib/get_provider.h"

#include <iostream>

#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"
#include "platform/orla/printable.h"

Data* GetProvider::getData() {
    orla::message request = platformRequest(getCmd, path);
    orla::message reply = exchangeWithPlatform(request);
    if (orla::getErrorCode(reply) == ERR_ANSWER_PENDING) return nullptr;
    if (orla::isError(reply)) {
        std::cerr << "GetProvider::getData error: " << orla::printable(orla::getError(reply))
                  << std::endl;
        return build(orla::message());
    }
    return build(reply);
}

bool GetProvider::setData(Data* rec) {
    orla::message request = platformRequest(setCmd, path);
    if (rec) rec->reverseBuild(request);
    return !orla::isError(exchangeWithPlatform(request));
}
