// benchmib: the MIB plug-in of the agent benchmarks, never shipped. It serves
// three tables of the same shape, fed through GetAllProvider and MapTable by
// the stand-in service bench/fake_rows.cpp (service 212, handlers 1 to 3),
// under the experimental arc 1.3.6.1.3.9998 (RFC 1155 3.1):
//
//   .T.1.C.I    table T (1, 2, 3 = fake_rows' first, second, third count),
//               indexed by the row id I: C = 1 id (INTEGER),
//               2 name (OCTET STRING), 3 packets (Counter32)
//
// Everything goes through the SDK's own table path, so a walk of these
// tables costs what a walk of a real platform table costs.
#include <string>
#include <vector>

#include "mib/sdk.h"

namespace {

constexpr unsigned SERVICE = 212;
constexpr unsigned TABLES = 3;
constexpr orla::StringKey ROW_NAME{1};
constexpr orla::U32Key ROW_PACKETS{2};

struct RowRecord : Data {
    int id = 0;
    std::string name;
    int packets = 0;
};

void parseRow(orla::message const& object, std::vector<Data*>* records) {
    if (!object.has(ROW_NAME)) return;
    auto* rec = new RowRecord;
    rec->id = static_cast<int>(object.get(orla::OBJ_ID));
    rec->name = object.get(ROW_NAME);
    rec->packets = static_cast<int>(object.get(ROW_PACKETS));
    records->push_back(rec);
}

void addTable(unsigned number) {
    auto* rows = new GetAllProvider();
    rows->addSource(parseRow, {SERVICE, number});
    auto* table = new MapTable(rows);
    Packer* id = new DataNumPacker(field(&RowRecord::id), ber::INTEGER);
    table->addIndex(id);
    const OID entry = OID("1.3.6.1.3.9998") + number + 1;
    addColumnarLeaf(entry + 1, id, table);
    addColumnarLeaf(entry + 2, new DataStringPacker(field(&RowRecord::name), ber::OCTET_STRING, 0),
                    table);
    addColumnarLeaf(entry + 3, new DataNumPacker(field(&RowRecord::packets), ber::COUNTER32),
                    table);
}

}  // namespace

extern "C" void autorun() {
    for (unsigned number = 1; number <= TABLES; ++number)
        addTable(number);
}
