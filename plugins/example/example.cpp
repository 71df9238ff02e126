// An example MIB plug-in: copy this file to start a plug-in of your own.
//
// It serves, under the vendor's example arc 1.3.6.1.4.1.32473.99:
//   .1.0        exampleRowCount     INTEGER, the number of rows of the table
//   .2.1.C.V.P  exampleVlanPortTable, indexed by VLAN id (V) and port name (P):
//               C = 1 vlan, 2 port, 3 description (read-write), 4 packets
//   .3.0        exampleVersion      OCTET STRING, a constant
//
// The table is fed by a platform service, the "port map" at handler path
// [210, 1], which lists one object per port and VLAN. A bare system has no
// such service: every exchange then fails, the table is simply empty and
// the row count is 0.
#include <string>
#include <vector>

#include "mib/sdk.h"

namespace {

// The port map service's object fields.
constexpr orla::U32Key PORT_VLAN{1};
constexpr orla::StringKey PORT_NAME{2};
constexpr orla::StringKey PORT_DESCRIPTION{3};
constexpr orla::U32Key PORT_PACKETS{4};

// One row. Records derive from Data and hold plain fields; packers reach
// them through field(&PortRecord::member).
struct PortRecord : Data {
    uint32_t objId = 0;  // the service's id of the object, to address it in a set
    int vlan = 0;
    std::string port;
    std::string description;
    int packets = 0;

    // A Set of a column has already written the new value into this record;
    // this adds what the service needs to apply it. The provider sends the
    // request as CMD_SETOBJ to the service; if the service answers with an
    // error, the Set fails with commitFailed and the record gets its old
    // value back.
    void reverseBuild(orla::message& request) override {
        request.insert(orla::OBJ_ID, objId);
        request.insert(PORT_DESCRIPTION, description);
    }
};

// Turns one object of the service's list into records. The provider owns
// what is appended; an object that makes no row appends nothing.
void parsePort(orla::message const& object, std::vector<Data*>* records) {
    if (!object.has(PORT_NAME)) return;
    auto* rec = new PortRecord;
    rec->objId = object.get(orla::OBJ_ID);
    rec->vlan = static_cast<int>(object.get(PORT_VLAN));
    rec->port = object.get(PORT_NAME);
    rec->description = object.get(PORT_DESCRIPTION);
    rec->packets = static_cast<int>(object.get(PORT_PACKETS));
    records->push_back(rec);
}

OID exampleObject(std::initializer_list<uint32_t> arcs) {
    OID oid("1.3.6.1.4.1.32473.99");
    for (uint32_t arc : arcs)
        oid += arc;
    return oid;
}

}  // namespace

// Called once by the daemon at start-up. Everything made here lives for
// the whole process: nothing registered is ever freed.
extern "C" void autorun() {
    // The provider reads the whole port map (in pages) at the first request,
    // keeps the records while requests keep coming (up to two seconds), and
    // announces them to the table.
    GetAllProvider* ports = new GetAllProvider();
    ports->addSource(parsePort, {210, 1});

    // The table files each record under its index: the VLAN id, then the
    // port name as a length-prefixed string (keyLen 0: variable length).
    MapTable* table = new MapTable(ports);
    Packer* vlan = new DataNumPacker(field(&PortRecord::vlan), ber::INTEGER);
    Packer* port = new DataStringPacker(field(&PortRecord::port), ber::OCTET_STRING, 0);
    table->addIndex(vlan);
    table->addIndex(port);

    // One columnar object per column; index columns are served too. Objects
    // a Set must not change are read-only: a Set of them is notWritable.
    addColumnarLeaf(exampleObject({2, 1, 1}), vlan, table, Access::ReadOnly);
    addColumnarLeaf(exampleObject({2, 1, 2}), port, table, Access::ReadOnly);
    // The description is writable. Before anything is written, the packer
    // checks the value: an OCTET STRING (else wrongType) of at most 64
    // octets (else wrongLength); a row that does not exist is noCreation.
    addColumnarLeaf(exampleObject({2, 1, 3}),
                    (new DataStringPacker(field(&PortRecord::description), ber::OCTET_STRING, 0))
                        ->setMaxLength(64),
                    table);
    addColumnarLeaf(exampleObject({2, 1, 4}),
                    new DataNumPacker(field(&PortRecord::packets), ber::COUNTER32), table,
                    Access::ReadOnly);

    // A scalar fed by a provider: the row count, which the table asks the
    // service for directly (CMD_GETCOUNT) before it falls back to counting.
    addScalarLeaf(exampleObject({1}),
                  new DataNumPacker(field(&CountProvider::CountData::rowCount), ber::INTEGER),
                  new CountProvider(table), Access::ReadOnly);

    // A constant: no provider at all, and never writable.
    addScalarConstStringLeaf(exampleObject({3}), "example plug-in 1.0", ber::OCTET_STRING);

    // What the agent lists in sysORTable: the module these objects belong to.
    registerModule(exampleObject({}), "ORLA-EXAMPLE-MIB: the example plug-in's port table");
}
