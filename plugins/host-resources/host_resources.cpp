// HOST-RESOURCES-MIB (RFC 2790): the system and storage groups, the
// devices (processors and network interfaces), filesystems and running
// software, fed by the host service orla-hostd (platform/hostd/host_object.h)
// and, for the network interfaces, the interface service orla-ifaced
// (platform/ifaced/interface_object.h).
//
//   1.3.6.1.2.1.25.1.{1,2,4-7}.0   hrSystemUptime, hrSystemDate,
//                                  hrSystemInitialLoadParameters, hrSystemNumUsers,
//                                  hrSystemProcesses, hrSystemMaxProcesses
//   1.3.6.1.2.1.25.2.2.0           hrMemorySize
//   1.3.6.1.2.1.25.2.3.1.C.I       hrStorageTable, I = the service's storage index
//   1.3.6.1.2.1.25.3.2.1.C.I       hrDeviceTable, I = the kernel's CPU number + 1,
//                                  or 65536 + the ifIndex of a network interface
//   1.3.6.1.2.1.25.3.3.1.C.I       hrProcessorTable, the processors' rows
//   1.3.6.1.2.1.25.3.4.1.C.I       hrNetworkTable, the network interfaces' rows
//   1.3.6.1.2.1.25.3.8.1.C.I       hrFSTable, I = the filesystem's storage index
//   1.3.6.1.2.1.25.4.2.1.C.P       hrSWRunTable, P = the process id
//   1.3.6.1.2.1.25.5.1.1.C.P       hrSWRunPerfTable, the same rows
//
// A host may run tens of thousands of processes: their tables are a
// WindowTable, holding a window of processes at a time.
//
// Without the host service the scalars have no instance and the tables are
// empty but for the network devices; without the interface service there
// are none of those.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mib/sdk.h"
#include "platform/hostd/host_object.h"
#include "platform/ifaced/interface_object.h"

namespace {

constexpr uint32_t MAX_INT32 = std::numeric_limits<int32_t>::max();
constexpr size_t MAX_LOAD_PARAMETERS = 128;  // hrSystemInitialLoadParameters' SIZE

const OID HOST("1.3.6.1.2.1.25");
const OID HR_SYSTEM = HOST + 1;
const OID HR_STORAGE_TYPES("1.3.6.1.2.1.25.2.1");
const OID HR_STORAGE_ENTRY("1.3.6.1.2.1.25.2.3.1");
const OID HR_DEVICE_PROCESSOR("1.3.6.1.2.1.25.3.1.3");
const OID HR_DEVICE_NETWORK("1.3.6.1.2.1.25.3.1.4");
const OID HR_NETWORK_ENTRY("1.3.6.1.2.1.25.3.4.1");
// Device indexes: processors 1 to 65536 (the CPU number + 1), network
// interfaces above (NETWORK_DEVICES + the ifIndex).
constexpr uint32_t MAX_CPU_DEVICE = 65536;
constexpr uint32_t NETWORK_DEVICES = 65536;
const OID HR_DEVICE_ENTRY("1.3.6.1.2.1.25.3.2.1");
const OID HR_PROCESSOR_ENTRY("1.3.6.1.2.1.25.3.3.1");
const OID HR_SW_RUN_ENTRY("1.3.6.1.2.1.25.4.2.1");
const OID HR_FS_ENTRY("1.3.6.1.2.1.25.3.8.1");
const OID HR_FS_TYPES("1.3.6.1.2.1.25.3.9");
constexpr size_t MAX_MOUNT_POINT = 128;  // hrFSMountPoint's SIZE
constexpr int FS_READ_WRITE = 1;
constexpr int FS_READ_ONLY = 2;
// RFC 2790 hrFSLastFullBackupDate and hrFSLastPartialBackupDate when not
// known: January 1, year 0000.
const std::string UNKNOWN_DATE("\0\0\x01\x01\0\0\0\0", 8);
const OID HR_SW_RUN_PERF_ENTRY("1.3.6.1.2.1.25.5.1.1");
// RFC 2790 ProductID and hrProcessorFrwID when unknown: zeroDotZero.
const OID ZERO_DOT_ZERO{0, 0};

constexpr int HR_STORAGE_OTHER = 1;
constexpr int HR_STORAGE_TYPE_MAX = 10;  // hrStorageNetworkDisk
constexpr int DEVICE_RUNNING = 2;

struct SystemRecord : Data {
    uint32_t uptime = 0;     // the service's count, hundredths of a second
    uint32_t fetchedAt = 0;  // orla::getJiffies() when it was read
    std::string date;
    int processes = 0;
    int maxProcesses = 0;
    int memoryKb = 0;
};

// Null (no instance) when the service did not answer: GetProvider hands an
// empty message then.
Data* makeSystem(orla::message const& reply) {
    std::string date = reply.get(hostd::SYS_DATE);
    if (!reply.has(hostd::SYS_PROCESSES) || (date.size() != 8 && date.size() != 11)) return nullptr;
    auto* rec = new SystemRecord;
    rec->uptime = reply.get(hostd::SYS_UPTIME, 0);
    rec->fetchedAt = orla::getJiffies();
    rec->date = std::move(date);
    rec->processes = static_cast<int>(reply.get(hostd::SYS_PROCESSES, 0));
    rec->maxProcesses = saturatedInt32(reply.get(hostd::SYS_MAX_PROCESSES, 0));
    rec->memoryKb = saturatedInt32(reply.get(hostd::SYS_MEMORY_KB, 0));
    return rec;
}

struct UsersRecord : Data {
    int users = 0;
};

// Null (no instance) without the service or a utmp file.
Data* makeUsers(orla::message const& reply) {
    if (!reply.has(hostd::SYS_USERS)) return nullptr;
    auto* rec = new UsersRecord;
    rec->users = saturatedInt32(reply.get(hostd::SYS_USERS));
    return rec;
}

struct BootRecord : Data {
    std::string parameters;
};

// Null (no instance) without the service or the kernel's command line.
Data* makeBoot(orla::message const& reply) {
    if (!reply.has(hostd::SYS_LOAD_PARAMETERS)) return nullptr;
    auto* rec = new BootRecord;
    rec->parameters = reply.get(hostd::SYS_LOAD_PARAMETERS).substr(0, MAX_LOAD_PARAMETERS);
    return rec;
}

// hrSystemUptime goes on while the record is cached: the ticks since it was
// read are added (both counters are hundredths of a second and wrap at 2^32).
class UptimePacker : public NumPacker {
  public:
    UptimePacker() : NumPacker(ber::TIMETICKS) {}
    int get(Data const* rec) const override {
        // The system provider holds only SystemRecords.
        auto const* system = static_cast<SystemRecord const*>(rec);
        return system ? static_cast<int>(system->uptime + (orla::getJiffies() - system->fetchedAt))
                      : 0;
    }
    void set(Data*, int) const override {}
};

struct StorageRecord : Data {
    int index = 0;
    OID type;
    std::string descr;
    int unitBytes = 0;
    int size = 0;
    int used = 0;
    // A filesystem's (hrFSTable): empty `mountPoint` for RAM and swap.
    std::string mountPoint;
    OID fsType;
    int access = 0;
};

// RFC 2790 hrFSTypes of the kernel's filesystem type names.
OID fsTypeOf(std::string const& type) {
    const std::pair<const char*, unsigned> TYPES[] = {
        {"ext2", 23},   {"ext3", 23},    {"ext4", 23}, {"vfat", 22},     {"msdos", 5},
        {"fat", 5},     {"iso9660", 12}, {"ntfs", 9},  {"ntfs3", 9},     {"hfs", 7},
        {"hfsplus", 7}, {"xfs", 11},     {"jfs", 11},  {"reiserfs", 11},
    };
    for (auto const& [name, arc] : TYPES)
        if (type == name) return HR_FS_TYPES + arc;
    return HR_FS_TYPES + 1;  // hrFSOther
}

// hrFSTable: the filesystem rows of the storage provider.
class FilesystemTable : public MapTable {
  public:
    using MapTable::MapTable;
    void change(Data* rec) override {
        if (!static_cast<StorageRecord*>(rec)->mountPoint.empty()) MapTable::change(rec);
    }
    void remove(Data* rec) override {
        if (!static_cast<StorageRecord*>(rec)->mountPoint.empty()) MapTable::remove(rec);
    }
};

void parseStorage(orla::message const& object, std::vector<Data*>* records) {
    const uint32_t id = object.get(orla::OBJ_ID, 0);
    const uint32_t unit = object.get(hostd::STORAGE_UNIT_BYTES, 0);
    // hrStorageIndex and hrStorageAllocationUnits are 1..2147483647.
    if (id == 0 || id > MAX_INT32 || unit == 0 || unit > MAX_INT32) return;
    const uint32_t type = object.get(hostd::STORAGE_TYPE, 0);
    auto* rec = new StorageRecord;
    rec->index = static_cast<int>(id);
    rec->type =
        HR_STORAGE_TYPES + (type >= 1 && type <= HR_STORAGE_TYPE_MAX ? type : HR_STORAGE_OTHER);
    rec->descr = object.get(hostd::STORAGE_DESCR);
    rec->unitBytes = static_cast<int>(unit);
    rec->size = saturatedInt32(object.get(hostd::STORAGE_SIZE, 0));
    rec->used = saturatedInt32(object.get(hostd::STORAGE_USED, 0));
    if (object.has(hostd::STORAGE_FS_TYPE)) {
        rec->mountPoint = rec->descr.substr(0, MAX_MOUNT_POINT);
        rec->fsType = fsTypeOf(object.get(hostd::STORAGE_FS_TYPE));
        rec->access = object.get(hostd::STORAGE_READ_ONLY) ? FS_READ_ONLY : FS_READ_WRITE;
    }
    records->push_back(rec);
}

// A device: a processor, or a network interface of the interface service.
struct DeviceRecord : Data {
    int deviceIndex = 0;  // the CPU number + 1; NETWORK_DEVICES + the ifIndex
    OID type;
    std::string descr;
    int status = 0;
    int load = 0;     // a processor's
    int ifIndex = 0;  // a network interface's
};

void parseProcessor(orla::message const& object, std::vector<Data*>* records) {
    if (!object.has(orla::OBJ_ID)) return;
    const uint32_t cpu = object.get(orla::OBJ_ID, 0);
    if (cpu >= MAX_CPU_DEVICE) return;
    auto* rec = new DeviceRecord;
    rec->deviceIndex = static_cast<int>(cpu + 1);
    rec->type = HR_DEVICE_PROCESSOR;
    rec->descr = object.get(hostd::CPU_DESCR);
    rec->status = DEVICE_RUNNING;  // the kernel lists online CPUs only
    rec->load = static_cast<int>(std::min<uint32_t>(object.get(hostd::CPU_LOAD, 0), 100));
    records->push_back(rec);
}

// RFC 2790 hrDeviceStatus of RFC 2863 ifOperStatus: up running (2),
// testing testing (4), down, notPresent and lowerLayerDown down (5),
// unknown and dormant unknown (1).
int deviceStatusOf(uint32_t operStatus) {
    switch (operStatus) {
        case 1:
            return DEVICE_RUNNING;
        case 3:
            return 4;
        case 2:
        case 6:
        case 7:
            return 5;
        default:
            return 1;
    }
}

void parseNetwork(orla::message const& object, std::vector<Data*>* records) {
    const uint32_t ifIndex = object.get(orla::OBJ_ID, 0);
    if (ifIndex == 0 || ifIndex > MAX_INT32 - NETWORK_DEVICES) return;
    auto* rec = new DeviceRecord;
    rec->deviceIndex = static_cast<int>(NETWORK_DEVICES + ifIndex);
    rec->type = HR_DEVICE_NETWORK;
    rec->descr = "network interface " + object.get(ifaced::IF_NAME);
    rec->status = deviceStatusOf(object.get(ifaced::IF_OPER_STATUS, 0));
    rec->ifIndex = static_cast<int>(ifIndex);
    records->push_back(rec);
}

// hrProcessorTable and hrNetworkTable: the devices of one type.
class DeviceTypeTable : public MapTable {
  public:
    DeviceTypeTable(TableProvider* provider, OID type)
        : MapTable(provider), type_(std::move(type)) {}
    void change(Data* rec) override {
        if (static_cast<DeviceRecord*>(rec)->type == type_) MapTable::change(rec);
    }
    void remove(Data* rec) override {
        if (static_cast<DeviceRecord*>(rec)->type == type_) MapTable::remove(rec);
    }

  private:
    OID const type_;
};

struct ProcessRecord : Data {
    int index = 0;  // the pid
    std::string name;
    std::string path;
    std::string parameters;
    int type = 0;
    int status = 0;
    int cpu = 0;
    int memoryKb = 0;
};

Data* makeProcess() {
    return new ProcessRecord;
}

// hrSWRunIndex is 1 to 2147483647; fields cut short leave the row out.
bool parseProcess(OID const& index, std::string_view fields, Data* rec) {
    hostd::ProcessFields process;
    if (index.size() != 1 || index[0] == 0 || index[0] > MAX_INT32 ||
        !hostd::readProcessFields(fields, process)) {
        return false;
    }
    auto* record = static_cast<ProcessRecord*>(rec);
    record->index = static_cast<int>(index[0]);
    record->name = std::move(process.name);
    record->path = std::move(process.path);
    record->parameters = std::move(process.parameters);
    record->type = process.type;
    record->status = process.status;
    record->cpu = saturatedInt32(process.cpu);
    record->memoryKb = saturatedInt32(process.memoryKb);
    return true;
}

template <class R>
Packer* number(int R::*member, unsigned type) {
    return new DataNumPacker(field(member), type);
}
template <class R>
Packer* text(std::string R::*member) {
    return new DataStringPacker(field(member), ber::OCTET_STRING, 0);
}

void addReadOnlyColumns(OID const& entry, std::vector<std::pair<unsigned, Packer*>> const& columns,
                        Table* table) {
    for (auto const& [column, packer] : columns)
        addColumnarLeaf(entry + column, packer, table, Access::ReadOnly);
}

}  // namespace

extern "C" void autorun() {
    auto* system = new GetProvider(makeSystem, {hostd::HOST_SERVICE, hostd::SYSTEM_HANDLER},
                                   orla::CMD_GET, orla::CMD_SET);
    const std::pair<OID, Packer*> scalars[] = {
        {HR_SYSTEM + 1, new UptimePacker},
        {HR_SYSTEM + 2, text(&SystemRecord::date)},
        {HR_SYSTEM + 6, number(&SystemRecord::processes, ber::GAUGE32)},
        {HR_SYSTEM + 7, number(&SystemRecord::maxProcesses, ber::INTEGER)},
        {HOST + 2 + 2, number(&SystemRecord::memoryKb, ber::INTEGER)},  // hrMemorySize
    };
    for (auto const& [oid, packer] : scalars)
        addScalarLeaf(oid, packer, system, Access::ReadOnly);
    // hrSystemInitialLoadParameters (served read-only) and hrSystemNumUsers
    // have records of their own: a host without a utmp file has no count,
    // and the other scalars stay.
    addScalarLeaf(HR_SYSTEM + 4, text(&BootRecord::parameters),
                  new GetProvider(makeBoot, {hostd::HOST_SERVICE, hostd::SYSTEM_HANDLER},
                                  orla::CMD_GET, orla::CMD_SET),
                  Access::ReadOnly);
    addScalarLeaf(HR_SYSTEM + 5, number(&UsersRecord::users, ber::GAUGE32),
                  new GetProvider(makeUsers, {hostd::HOST_SERVICE, hostd::SYSTEM_HANDLER},
                                  orla::CMD_GET, orla::CMD_SET),
                  Access::ReadOnly);

    auto* storage = new GetAllProvider();
    storage->addSource(parseStorage, {hostd::HOST_SERVICE, hostd::STORAGE_HANDLER});
    auto* storageTable = new MapTable(storage);
    Packer* storageIndex = number(&StorageRecord::index, ber::INTEGER);
    storageTable->addIndex(storageIndex);
    addReadOnlyColumns(
        HR_STORAGE_ENTRY,
        {
            {1, storageIndex},
            {2, new DataOIDPacker(field(&StorageRecord::type), ber::OBJECT_IDENTIFIER)},
            {3, text(&StorageRecord::descr)},
            {4, number(&StorageRecord::unitBytes, ber::INTEGER)},
            {5, number(&StorageRecord::size, ber::INTEGER)},
            {6, number(&StorageRecord::used, ber::INTEGER)},
        },
        storageTable);

    auto* filesystems = new FilesystemTable(storage);
    Packer* fsIndex = number(&StorageRecord::index, ber::INTEGER);
    filesystems->addIndex(fsIndex);
    addReadOnlyColumns(
        HR_FS_ENTRY,
        {
            {1, fsIndex},
            {2, text(&StorageRecord::mountPoint)},
            {3, new ConstStringPacker("", ber::OCTET_STRING, 0)},  // local: no remote
            {4, new DataOIDPacker(field(&StorageRecord::fsType), ber::OBJECT_IDENTIFIER)},
            {5, number(&StorageRecord::access, ber::INTEGER)},
            {7, fsIndex},  // hrFSStorageIndex: the same row of hrStorageTable
            {8, new ConstStringPacker(UNKNOWN_DATE, ber::OCTET_STRING, 0)},
            {9, new ConstStringPacker(UNKNOWN_DATE, ber::OCTET_STRING, 0)},
        },
        filesystems);

    // The processors of the host service and the network interfaces of the
    // interface service; without the interface service only the processors.
    auto* devices = new GetAllProvider();
    devices->addSource(parseProcessor, {hostd::HOST_SERVICE, hostd::PROCESSOR_HANDLER});
    devices->addSource(parseNetwork, {ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER});
    auto* deviceTable = new MapTable(devices);
    Packer* deviceIndex = number(&DeviceRecord::deviceIndex, ber::INTEGER);
    deviceTable->addIndex(deviceIndex);
    addReadOnlyColumns(
        HR_DEVICE_ENTRY,
        {
            {1, deviceIndex},
            {2, new DataOIDPacker(field(&DeviceRecord::type), ber::OBJECT_IDENTIFIER)},
            {3, text(&DeviceRecord::descr)},
            {4, new ConstOIDPacker(ZERO_DOT_ZERO, ber::OBJECT_IDENTIFIER)},
            {5, number(&DeviceRecord::status, ber::INTEGER)},
        },
        deviceTable);
    auto* processorTable = new DeviceTypeTable(devices, HR_DEVICE_PROCESSOR);
    processorTable->addIndex(deviceIndex);
    addReadOnlyColumns(HR_PROCESSOR_ENTRY,
                       {
                           {1, new ConstOIDPacker(ZERO_DOT_ZERO, ber::OBJECT_IDENTIFIER)},
                           {2, number(&DeviceRecord::load, ber::INTEGER)},
                       },
                       processorTable);
    auto* networkTable = new DeviceTypeTable(devices, HR_DEVICE_NETWORK);
    networkTable->addIndex(deviceIndex);
    addReadOnlyColumns(HR_NETWORK_ENTRY, {{1, number(&DeviceRecord::ifIndex, ber::INTEGER)}},
                       networkTable);

    // Processes read per exchange with the service, as routes are.
    constexpr uint32_t WINDOW_PROCESSES = 1024;
    auto* processes = new WindowTable(
        makeProcess, parseProcess, {hostd::HOST_SERVICE, hostd::PROCESS_HANDLER}, WINDOW_PROCESSES);
    addReadOnlyColumns(HR_SW_RUN_ENTRY,
                       {
                           {1, number(&ProcessRecord::index, ber::INTEGER)},
                           {2, text(&ProcessRecord::name)},
                           {3, new ConstOIDPacker(ZERO_DOT_ZERO, ber::OBJECT_IDENTIFIER)},
                           {4, text(&ProcessRecord::path)},
                           {5, text(&ProcessRecord::parameters)},
                           {6, number(&ProcessRecord::type, ber::INTEGER)},
                           {7, number(&ProcessRecord::status, ber::INTEGER)},
                       },
                       processes);
    addReadOnlyColumns(HR_SW_RUN_PERF_ENTRY,
                       {
                           {1, number(&ProcessRecord::cpu, ber::INTEGER)},
                           {2, number(&ProcessRecord::memoryKb, ber::INTEGER)},
                       },
                       processes);

    registerModule(OID("1.3.6.1.2.1.25.7.1"),
                   "HOST-RESOURCES-MIB: the host's resources (RFC 2790)");
}
