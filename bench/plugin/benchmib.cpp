// benchmib: the MIB plug-in of the agent benchmarks, never shipped. It serves
// three tables of the same shape, fed through GetAllProvider and MapTable by
// the stand-in service bench/fake_rows.cpp (service 212, handlers 1 to 3),
// under the experimental arc 1.3.6.1.3.9998 (RFC 1155 3.1):
//
//   .T.1.C.I    table T (1, 2, 3 = fake_rows' first, second, third count),
//               indexed by the row id I: C = 1 id (INTEGER),
//               2 name (OCTET STRING), 3 packets (Counter32)
//
// Two route tables follow, shaped as RFC 4292 inetCidrRouteTable and read
// as the IP-FORWARD-MIB plug-in reads it, through a WindowTable, from the
// stand-in IP service bench/fake_routes.cpp (service 213, handlers 1 and 2):
//
//   .T.1.C.I    T = 4, 5 (fake_routes' first and second count), I = the
//               route index, C = 7 ifIndex, 8 type, 9 protocol, 12 metric
//
// Everything goes through the SDK's own table path, so a walk of these
// tables costs what a walk of a real platform table costs.
#include <string>
#include <vector>

#include "mib/sdk.h"
#include "route_record.h"

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

constexpr unsigned ROUTE_SERVICE = 213;
constexpr unsigned ROUTE_TABLES = 2;

using ipforward::RouteRecord;

Packer* routeNumber(int RouteRecord::*member) {
    return new DataNumPacker(field(member), ber::INTEGER);
}

void addRouteTable(unsigned number) {
    auto* routes = new WindowTable(ipforward::makeRoute, ipforward::parseRoute,
                                   {ROUTE_SERVICE, number}, ipforward::WINDOW_ROUTES);
    const OID entry = OID("1.3.6.1.3.9998") + (TABLES + number) + 1;
    addColumnarLeaf(entry + 7, routeNumber(&RouteRecord::ifIndex), routes);
    addColumnarLeaf(entry + 8, routeNumber(&RouteRecord::type), routes);
    addColumnarLeaf(entry + 9, routeNumber(&RouteRecord::protocol), routes);
    addColumnarLeaf(entry + 12, routeNumber(&RouteRecord::metric), routes);
}

}  // namespace

extern "C" void autorun() {
    for (unsigned number = 1; number <= TABLES; ++number)
        addTable(number);
    for (unsigned number = 1; number <= ROUTE_TABLES; ++number)
        addRouteTable(number);
}
