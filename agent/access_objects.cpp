#include "agent/access_objects.h"

#include <functional>
#include <map>
#include <string>

#include "mib/modules.h"
#include "mib/registry.h"
#include "platform/orla/ids.h"
#include "platform/snmp/ber.h"

namespace {

// One value of a row: an INTEGER or an OCTET STRING.
struct Cell {
    bool octets = false;
    int number = 0;
    std::string text;
};
// Instances below the registered OID (column, then index), in OID order.
using Cells = std::map<OID, Cell>;

Cell number(int value) {
    return Cell{false, value, {}};
}
Cell text(std::string value) {
    return Cell{true, 0, std::move(value)};
}

// RFC 2578 7.7: a string index is its length and its octets; IMPLIED, the
// octets alone. An OBJECT IDENTIFIER index is its length and its arcs.
void appendString(OID& index, const std::string& value, bool implied = false) {
    if (!implied) index += static_cast<uint32_t>(value.size());
    for (unsigned char octet : value)
        index += octet;
}
void appendOID(OID& index, const OID& value) {
    index += static_cast<uint32_t>(value.size());
    index += value;
}

// RFC 2579 StorageType nonVolatile and RowStatus active: every row is kept
// in a store and in force.
constexpr int NON_VOLATILE = 3;
constexpr int ACTIVE = 1;

// A read-only table drawn afresh at each request: the configuration is
// small, and what a manager reads is what is in force at that moment.
class DrawnTable : public Leaf {
  public:
    explicit DrawnTable(std::function<void(Cells&)> draw) : draw_(std::move(draw)) {}

    bool get(Context& ctx) override {
        Cells cells;
        draw_(cells);
        const auto found = cells.find(ctx.oid);
        return found != cells.end() && answer(ctx, *found);
    }

    bool getNext(Context& ctx) override {
        Cells cells;
        draw_(cells);
        const auto found = cells.upper_bound(ctx.oid);
        return found != cells.end() && answer(ctx, *found);
    }

  private:
    static bool answer(Context& ctx, const std::pair<const OID, Cell>& cell) {
        ctx.name += cell.first;
        ctx.out.addOID(ctx.name);
        if (cell.second.octets) {
            ctx.out.add(cell.second.text, ber::OCTET_STRING);
        } else {
            ctx.out.add(cell.second.number, ber::INTEGER);
        }
        return true;
    }

    std::function<void(Cells&)> draw_;
};

// RFC 3411 SecurityLevel counts from noAuthNoPriv (1).
int securityLevel(uint32_t level) {
    return static_cast<int>(level) + 1;
}

void add(Cells& cells, uint32_t column, const OID& index, Cell cell) {
    OID name{1, column};  // the entry, then the column
    name += index;
    cells.emplace(std::move(name), std::move(cell));
}

}  // namespace

void registerAccessObjects(const CommunityKeep& communities, const AccessKeep& access,
                           const V3ServerInfo& engine) {
    const OID vacm("1.3.6.1.6.3.16.1");
    // vacmContextTable: the one context served, "".
    addLeaf(vacm + 1, new DrawnTable([](Cells& cells) { add(cells, 1, OID{0}, text("")); }));

    addLeaf(vacm + 2, new DrawnTable([&access](Cells& cells) {
        for (const auto& [id, cfg] : access.records()) {
            if (cfg.get(snmp::ACCESS_KIND) != snmp::KIND_GROUP) continue;
            OID index{cfg.get(snmp::SECURITY_MODEL)};
            appendString(index, cfg.get(snmp::SECURITY_NAME));
            add(cells, 3, index, text(cfg.get(snmp::GROUP_NAME)));
            add(cells, 4, index, number(NON_VOLATILE));
            add(cells, 5, index, number(ACTIVE));
        }
    }));

    addLeaf(vacm + 4, new DrawnTable([&access](Cells& cells) {
        for (const auto& [id, cfg] : access.records()) {
            if (cfg.get(snmp::ACCESS_KIND) != snmp::KIND_ACCESS) continue;
            OID index;
            appendString(index, cfg.get(snmp::GROUP_NAME));
            appendString(index, cfg.get(snmp::CONTEXT_NAME));
            index += cfg.get(snmp::SECURITY_MODEL);
            index += static_cast<uint32_t>(securityLevel(cfg.get(snmp::SECURITY_LEVEL)));
            add(cells, 4, index, number(cfg.get(snmp::CONTEXT_PREFIX) ? 2 : 1));
            add(cells, 5, index, text(cfg.get(snmp::COMM_READ_VIEW)));
            add(cells, 6, index, text(cfg.get(snmp::COMM_WRITE_VIEW)));
            add(cells, 7, index, text(cfg.get(snmp::COMM_NOTIFY_VIEW)));
            add(cells, 8, index, number(NON_VOLATILE));
            add(cells, 9, index, number(ACTIVE));
        }
    }));

    addLeaf(vacm + OID{5, 2}, new DrawnTable([&access](Cells& cells) {
        for (const auto& [id, cfg] : access.records()) {
            if (cfg.get(snmp::ACCESS_KIND) != snmp::KIND_VIEW) continue;
            const OID subtree(cfg.get(snmp::VIEW_SUBTREE));
            if (subtree.empty()) continue;  // a record that plays no part
            OID index;
            appendString(index, cfg.get(snmp::VIEW_NAME));
            appendOID(index, subtree);
            add(cells, 3, index, text(cfg.get(snmp::VIEW_MASK)));
            add(cells, 4, index, number(cfg.get(snmp::VIEW_EXCLUDED) ? 2 : 1));
            add(cells, 5, index, number(NON_VOLATILE));
            add(cells, 6, index, number(ACTIVE));
        }
    }));

    // snmpCommunityTable: the SNMPv1/v2c communities, indexed by their id.
    addLeaf(OID("1.3.6.1.6.3.18.1.1"), new DrawnTable([&communities, &engine](Cells& cells) {
        for (const CommunityKeep::Item* item : communities.items()) {
            if (item->security != 0) continue;  // an SNMPv3 user
            OID index;
            appendString(index, std::to_string(item->id), true);
            add(cells, 2, index, text(item->name));
            add(cells, 3, index, text(item->name));  // RFC 3584 5.2.1
            add(cells, 4, index, text(engine.engineID));
            add(cells, 5, index, text(""));
            add(cells, 6, index, text(""));
            add(cells, 7, index, number(NON_VOLATILE));
            add(cells, 8, index, number(ACTIVE));
        }
    }));

    registerModule(OID("1.3.6.1.6.3.16"),
                   "SNMP-VIEW-BASED-ACM-MIB: view-based access control (RFC 3415)");
    registerModule(OID("1.3.6.1.6.3.18"), "SNMP-COMMUNITY-MIB: communities (RFC 3584)");
}
