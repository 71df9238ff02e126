// A read-only table drawn afresh at each request from what the agent holds
// (its access, community and user tables): small, and what a manager reads
// is what is in force at that moment.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "mib/leaf.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/oid.h"

// One value of a row: an INTEGER, an OCTET STRING or an OBJECT IDENTIFIER.
struct Cell {
    uint32_t tag = ber::INTEGER;
    int number = 0;
    std::string text;
    OID oid;

    static Cell integer(int value) { return Cell{ber::INTEGER, value, {}, {}}; }
    static Cell octets(std::string value) { return Cell{ber::OCTET_STRING, 0, std::move(value), {}}; }
    static Cell identifier(OID value) { return Cell{ber::OBJECT_IDENTIFIER, 0, {}, std::move(value)}; }
};
// Instances below the registered OID (entry 1, column, index), in OID order.
using Cells = std::map<OID, Cell>;

// RFC 2578 7.7: a string index is its length and its octets; IMPLIED, the
// octets alone. An OBJECT IDENTIFIER index is its length and its arcs.
void appendString(OID& index, const std::string& value, bool implied = false);
void appendOID(OID& index, const OID& value);

// Adds the cell of `column` in the row of `index`.
void addCell(Cells& cells, uint32_t column, const OID& index, Cell cell);

class DrawnTable : public Leaf {
  public:
    explicit DrawnTable(std::function<void(Cells&)> draw) : draw_(std::move(draw)) {}

    bool get(Context& ctx) override;
    bool getNext(Context& ctx) override;

  private:
    std::function<void(Cells&)> draw_;
};
