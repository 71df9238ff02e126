#include "agent/access_objects.h"

#include <string>

#include "agent/drawn_table.h"
#include "mib/modules.h"
#include "mib/registry.h"
#include "platform/orla/ids.h"
#include "platform/snmp/ber.h"

namespace {

// RFC 2579 StorageType nonVolatile and RowStatus active: every row is kept
// in a store and in force.
constexpr int NON_VOLATILE = 3;
constexpr int ACTIVE = 1;

Cell number(int value) {
    return Cell::integer(value);
}
Cell text(std::string value) {
    return Cell::octets(std::move(value));
}

// RFC 3411 SecurityLevel counts from noAuthNoPriv (1).
int securityLevel(uint32_t level) {
    return static_cast<int>(level) + 1;
}

}  // namespace

void registerAccessObjects(const CommunityKeep& communities, const AccessKeep& access,
                           const V3ServerInfo& engine) {
    const OID vacm("1.3.6.1.6.3.16.1");
    // vacmContextTable: the one context served, "".
    addLeaf(vacm + 1, new DrawnTable([](Cells& cells) { addCell(cells, 1, OID{0}, text("")); }));

    addLeaf(vacm + 2, new DrawnTable([&access](Cells& cells) {
        for (const auto& [id, cfg] : access.records()) {
            if (cfg.get(snmp::ACCESS_KIND) != snmp::KIND_GROUP) continue;
            OID index{cfg.get(snmp::SECURITY_MODEL)};
            appendString(index, cfg.get(snmp::SECURITY_NAME));
            addCell(cells, 3, index, text(cfg.get(snmp::GROUP_NAME)));
            addCell(cells, 4, index, number(NON_VOLATILE));
            addCell(cells, 5, index, number(ACTIVE));
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
            addCell(cells, 4, index, number(cfg.get(snmp::CONTEXT_PREFIX) ? 2 : 1));
            addCell(cells, 5, index, text(cfg.get(snmp::COMM_READ_VIEW)));
            addCell(cells, 6, index, text(cfg.get(snmp::COMM_WRITE_VIEW)));
            addCell(cells, 7, index, text(cfg.get(snmp::COMM_NOTIFY_VIEW)));
            addCell(cells, 8, index, number(NON_VOLATILE));
            addCell(cells, 9, index, number(ACTIVE));
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
            addCell(cells, 3, index, text(cfg.get(snmp::VIEW_MASK)));
            addCell(cells, 4, index, number(cfg.get(snmp::VIEW_EXCLUDED) ? 2 : 1));
            addCell(cells, 5, index, number(NON_VOLATILE));
            addCell(cells, 6, index, number(ACTIVE));
        }
    }));

    // snmpCommunityTable: the SNMPv1/v2c communities, indexed by their id.
    addLeaf(OID("1.3.6.1.6.3.18.1.1"), new DrawnTable([&communities, &engine](Cells& cells) {
        for (const CommunityKeep::Item* item : communities.items()) {
            if (item->security != 0) continue;  // an SNMPv3 user
            OID index;
            appendString(index, std::to_string(item->id), true);
            addCell(cells, 2, index, text(item->name));
            addCell(cells, 3, index, text(item->name));  // RFC 3584 5.2.1
            addCell(cells, 4, index, text(engine.engineID));
            addCell(cells, 5, index, text(""));
            addCell(cells, 6, index, text(""));
            addCell(cells, 7, index, number(NON_VOLATILE));
            addCell(cells, 8, index, number(ACTIVE));
        }
    }));

    registerModule(OID("1.3.6.1.6.3.16"),
                   "SNMP-VIEW-BASED-ACM-MIB: view-based access control (RFC 3415)");
    registerModule(OID("1.3.6.1.6.3.18"), "SNMP-COMMUNITY-MIB: communities (RFC 3584)");
}
