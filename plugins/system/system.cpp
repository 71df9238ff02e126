// The system group of SNMPv2-MIB (RFC 3418 section 2, 1.3.6.1.2.1.1).
//
// sysContact and sysLocation are the agent's own settings (fields 2 and 3):
// they are read from and written to the settings handler like any settings
// change, so an SNMP Set is stored, announced to the platform and can be
// undone there. Every other object is read-only: sysName is the host's
// name, which belongs to the platform, not to the agent. sysORTable lists the
// modules the plug-ins registered (mib/modules.h).
#include <sys/utsname.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "mib/sdk.h"

namespace {

// The objects of the group: 1.3.6.1.2.1.1.arc.
OID systemObject(unsigned arc) {
    return OID("1.3.6.1.2.1.1") + arc;
}

// sysObjectID: the vendor's subtree, product line 1 (agents), model 2.1.
OID productOid() {
    return OID{1, 3, 6, 1, 4, 1, snmp::ENTERPRISE_NUMBER, 1, 2, 1};
}

std::string describeSystem() {
    struct utsname name {};
    if (uname(&name) != 0) return "orla router";
    return std::string(name.sysname) + " " + name.release + " " + name.version + " " + name.machine;
}

struct TextRecord : Data {
    std::string text;
};

// One settings text field: read from the settings, written back alone.
template <orla::StringKey const& FIELD>
struct SettingsText : TextRecord {
    void reverseBuild(orla::message& request) override { request.insert(FIELD, text); }
};

template <orla::StringKey const& FIELD>
Data* makeSettingsText(orla::message const& settings) {
    auto* rec = new SettingsText<FIELD>;
    rec->text = settings.get(FIELD);
    return rec;
}

struct UpTimeRecord : Data {
    int ticks = 0;
};

Data* currentUpTime() {
    static UpTimeRecord rec;
    // TimeTicks wrap at 2^32 like the tick counter; the packer sends the
    // bits unsigned.
    rec.ticks = static_cast<int>(orla::getJiffies() - agentState.startTick);
    return &rec;
}

// The host name is read at most once a second: a poll of many objects, or
// many managers at once, would otherwise each cost a system call, for a name
// that hardly ever changes.
Data* currentHostName() {
    constexpr uint32_t REREAD_TICKS = 100;
    static TextRecord rec;
    static bool read = false;
    static uint32_t readAt = 0;
    const uint32_t now = orla::getJiffies();
    if (read && now - readAt < REREAD_TICKS) return &rec;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
    rec.text = name;
    read = true;
    readAt = now;
    return &rec;
}

// sysORTable, indexed by sysORIndex: row i is the i-th registered module.
class ModuleTable : public Table {
  public:
    Data* get(OID const& index) override {
        if (index.size() != 1 || index[0] == 0 || index[0] > registeredModules.size())
            return nullptr;
        return &registeredModules[index[0] - 1];
    }
    std::pair<OID, Data*> getNext(OID const& index) override {
        // Rows 1..n: the row after `index` is one past its first arc.
        const uint64_t next = index.empty() ? 1 : uint64_t{index[0]} + 1;
        if (next > registeredModules.size()) return {OID(), nullptr};
        return {OID{static_cast<uint32_t>(next)}, &registeredModules[next - 1]};
    }
    bool acceptsWrites(OID const&) override { return false; }
    bool commit(OID const&, Data*) override { return false; }
    unsigned count() override { return static_cast<unsigned>(registeredModules.size()); }
};

struct LastChangeRecord : Data {
    int ticks = 0;
};

// sysORLastChange: the sysUpTime of the latest registration or removal.
Data* lastModuleChange() {
    static LastChangeRecord rec;
    rec.ticks = modulesLastChange;
    return &rec;
}

// The settings handler of this agent, reached in-process.
const std::vector<unsigned> SETTINGS_PATH{snmp::SERVICE_ID};

}  // namespace

extern "C" void autorun() {
    // DisplayString (RFC 2579): at most 255 octets.
    Packer* text =
        (new DataStringPacker(field(&TextRecord::text), ber::OCTET_STRING, 0))->setMaxLength(255);

    addScalarConstStringLeaf(systemObject(1), describeSystem(), ber::OCTET_STRING);
    addScalarConstOIDLeaf(systemObject(2), productOid(), ber::OBJECT_IDENTIFIER);
    addScalarLeaf(systemObject(3), new DataNumPacker(field(&UpTimeRecord::ticks), ber::TIMETICKS),
                  new ProxyDataProvider(currentUpTime), Access::ReadOnly);
    addScalarLeaf(systemObject(4), text,
                  new GetProvider(makeSettingsText<snmp::SNMP_TEXT2>, SETTINGS_PATH, orla::CMD_GET,
                                  orla::CMD_SET));
    addScalarLeaf(systemObject(5), text, new ProxyDataProvider(currentHostName), Access::ReadOnly);
    addScalarLeaf(systemObject(6), text,
                  new GetProvider(makeSettingsText<snmp::SNMP_TEXT3>, SETTINGS_PATH, orla::CMD_GET,
                                  orla::CMD_SET));
    // sysServices (RFC 3418): the sum of 2^(L-1) over the layers the device
    // serves. A router: datalink/subnetwork (2), internet (3), end-to-end (4)
    // and applications (7): 2 + 4 + 8 + 64.
    addScalarConstNumLeaf(systemObject(7), 78, ber::INTEGER);

    addScalarLeaf(systemObject(8),
                  new DataNumPacker(field(&LastChangeRecord::ticks), ber::TIMETICKS),
                  new ProxyDataProvider(lastModuleChange), Access::ReadOnly);
    // sysORIndex (column 1) is not-accessible: only the index of the rows.
    auto* modules = new ModuleTable;
    const OID entry = systemObject(9) + 1;
    addColumnarLeaf(entry + 2, new DataOIDPacker(field(&ModuleRecord::id), ber::OBJECT_IDENTIFIER),
                    modules, Access::ReadOnly);
    addColumnarLeaf(entry + 3,
                    new DataStringPacker(field(&ModuleRecord::description), ber::OCTET_STRING, 0),
                    modules, Access::ReadOnly);
    addColumnarLeaf(entry + 4, new DataNumPacker(field(&ModuleRecord::upTime), ber::TIMETICKS),
                    modules, Access::ReadOnly);

    registerModule(OID("1.3.6.1.6.3.1"), "SNMPv2-MIB: the SNMP entity, system group (RFC 3418)");
}
