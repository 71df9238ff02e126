// The agent's request path, datagram in to reply out, as the daemon runs it
// for every received datagram (UdpTransport::serveBatch without the two socket
// calls): a Context over the received bytes, then createReply. Each case
// reports its heap allocations per request beside the time.
//
// The object tree: the system group's scalars as the system plug-in makes
// them, a 40-octet string scalar, and two columns of a MapTable of 1000 rows
// whose provider is current.
// SNMPv3 users live in a community table over a temporary store, localised to
// the engine ID "bench-engine". Requests are served with the agent's access
// rules, as the daemon serves them: "public" reads the whole tree through
// the default view, "viewer" through a view of five families; the
// NoAccessTable case serves without the access table, for the cost of the
// view check beside it (for "viewer" too).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "bench/static_rows.h"
#include "community/access_keep.h"
#include "community/community_keep.h"
#include "mib/columnar.h"
#include "mib/context.h"
#include "mib/data.h"
#include "mib/registry.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/proxy_data_provider.h"
#include "mib/scalar.h"
#include "mib/string_packer.h"
#include "platform/orla/ids.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/usm.h"
#include "platform/snmp/varbind.h"
#include "request/dispatch.h"

namespace {

size_t allocations = 0;

}  // namespace

// Counts every allocation. Out of line, so that the compiler sees no
// malloc/free pair across new and delete.
[[gnu::noinline]] void* operator new(size_t size) {
    ++allocations;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) std::abort();
    return p;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using Bytes = std::vector<unsigned char>;

const SourceAddress SOURCE = htonl(0x7F000001);  // 127.0.0.1
const OID SYSTEM("1.3.6.1.2.1.1");
const OID TABLE_ENTRY("1.3.6.1.4.1.32473.98.1");
const OID LONG_TEXT("1.3.6.1.4.1.32473.98.2");
constexpr int TABLE_ROWS = 1000;

using bench::Row;
using bench::StaticRows;

struct TextRecord : Data {
    std::string text;
};
struct TicksRecord : Data {
    int ticks = 0;
};

Data* currentTicks() {
    static TicksRecord rec;
    rec.ticks += 100;
    return &rec;
}
Data* currentName() {
    static TextRecord rec;
    rec.text = "bench-router";
    return &rec;
}
// Longer than a std::string holds without allocating (15 octets).
Data* currentLocation() {
    static TextRecord rec;
    rec.text = "Building 7, floor 3, rack 12, slot 4 (A)";
    return &rec;
}

struct User {
    const char* name;
    uint32_t security;
    const char* authPassword;
    const char* privPassword;
    uint32_t authProtocol;
    uint32_t privProtocol;
};
// authNoPriv SHA; authPriv SHA with AES-128, and SHA-256 with AES-256.
constexpr User USERS[] = {
    {"sha-user", 1, "auth-password", "", usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128},
    {"aes-user", 2, "auth-password", "priv-password", usm::AUTH_HMAC_SHA_96,
     usm::PRIV_CFB128_AES_128},
    {"aes256-user", 2, "auth-password", "priv-password", usm::AUTH_HMAC_192_SHA_256,
     usm::PRIV_CFB128_AES_256},
};

// The agent: its service over temporary stores, communities "public" (the
// default "morvel" too) and the two users, and the object tree.
class Agent {
  public:
    Agent() {
        char pattern[] = "/tmp/request-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        dir_ = pattern;
        service_ = std::make_unique<SnmpLooper>(dir_ + "/snmpd", dir_ + "/communities",
                                                dir_ + "/access", dir_ + "/targets");
        loop = service_.get();
        service_->init();
        orla::message engine;
        engine.insert(snmp::SNMP_ENGINE_ID, std::string("bench-engine"));
        service_->cmdSet(engine);
        addCommunity({"public", 0, "", "", 0, 0});
        for (const User& user : USERS)
            addCommunity(user);
        addViewer();
        buildTree();
    }
    ~Agent() {
        leafs.clear();
        service_.reset();
        loop = nullptr;
        delete communityKeep;
        communityKeep = nullptr;
        std::filesystem::remove_all(dir_);
    }

    const V3ServerInfo& server() const { return service_->serverInfo; }

  private:
    static void addCommunity(const User& user) {
        orla::message cfg;
        cfg.insert(snmp::COMM_NAME, std::string(user.name));
        cfg.insert(snmp::COMM_READ_ACCESS, true);
        cfg.insert(snmp::COMM_WRITE_ACCESS, false);
        cfg.insert(snmp::COMM_SECURITY, user.security);
        cfg.insert(snmp::COMM_AUTH_PROTOCOL, user.authProtocol);
        cfg.insert(snmp::COMM_PRIV_PROTOCOL, user.privProtocol);
        cfg.insert(snmp::COMM_AUTH_PASSWORD, std::string(user.authPassword));
        cfg.insert(snmp::COMM_PRIV_PASSWORD, std::string(user.privPassword));
        if (!communityKeep->cmdAddObj(cfg).has(orla::OBJ_ID)) std::abort();
    }

    // "viewer" sees the system group, the interfaces, the table but one
    // column, and the ifMIB.
    void addViewer() {
        const std::pair<OID, bool> families[] = {
            {SYSTEM, true},
            {OID("1.3.6.1.2.1.2"), true},
            {TABLE_ENTRY, true},
            {TABLE_ENTRY + 1u, false},
            {OID("1.3.6.1.2.1.31"), true},
        };
        for (const auto& [subtree, included] : families) {
            orla::message family;
            family.insert(snmp::ACCESS_KIND, snmp::KIND_VIEW);
            family.insert(snmp::VIEW_NAME, std::string("monitor"));
            family.insert(snmp::VIEW_SUBTREE, subtree.toString());
            family.insert(snmp::VIEW_EXCLUDED, !included);
            if (!service_->access().cmdAddObj(family).has(orla::OBJ_ID)) std::abort();
        }
        orla::message cfg;
        cfg.insert(snmp::COMM_NAME, std::string("viewer"));
        cfg.insert(snmp::COMM_READ_ACCESS, true);
        cfg.insert(snmp::COMM_READ_VIEW, std::string("monitor"));
        if (!communityKeep->cmdAddObj(cfg).has(orla::OBJ_ID)) std::abort();
    }

    void buildTree() {
        leafs.clear();
        Packer* text = new DataStringPacker(field(&TextRecord::text), ber::OCTET_STRING, 0);
        addScalarConstStringLeaf(SYSTEM + 1u, "Linux router 5.10.0 #1 SMP armv7l",
                                 ber::OCTET_STRING);
        addScalarConstOIDLeaf(SYSTEM + 2u, OID("1.3.6.1.4.1.32473.1.2.1"), ber::OBJECT_IDENTIFIER);
        addScalarLeaf(SYSTEM + 3u, new DataNumPacker(field(&TicksRecord::ticks), ber::TIMETICKS),
                      new ProxyDataProvider(currentTicks));
        addScalarConstStringLeaf(SYSTEM + 4u, "admin@example.net", ber::OCTET_STRING);
        addScalarLeaf(SYSTEM + 5u, text, new ProxyDataProvider(currentName));
        addScalarConstStringLeaf(SYSTEM + 6u, "rack 1", ber::OCTET_STRING);
        addScalarConstNumLeaf(SYSTEM + 7u, 78, ber::INTEGER);
        addScalarLeaf(LONG_TEXT,
                      new DataStringPacker(field(&TextRecord::text), ber::OCTET_STRING, 0),
                      new ProxyDataProvider(currentLocation));

        table_ = std::make_unique<MapTable>(&rows_);
        auto* index = new DataNumPacker(field(&Row::index), ber::INTEGER);
        table_->addIndex(index);
        addColumnarLeaf(TABLE_ENTRY + 1u, index, table_.get());
        addColumnarLeaf(TABLE_ENTRY + 2u,
                        new DataStringPacker(field(&Row::name), ber::OCTET_STRING, 0),
                        table_.get());
    }

    std::string dir_;
    std::unique_ptr<SnmpLooper> service_;
    StaticRows rows_{TABLE_ROWS};
    std::unique_ptr<MapTable> table_;
};

Agent& agent() {
    static Agent instance;
    return instance;
}

std::vector<VariableBinding> nulls(const std::vector<OID>& names) {
    std::vector<VariableBinding> bindings;
    for (const OID& name : names)
        bindings.push_back({name, ber::NULL_VALUE, {}});
    return bindings;
}

Bytes communityRequest(uint32_t pduType, int second, int third,
                       const std::vector<VariableBinding>& bindings,
                       std::string_view community = "public") {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(1, ber::INTEGER);  // SNMPv2c
    out.add(community, ber::OCTET_STRING);
    out.startSeq(pduType);
    out.add(0x12345, ber::INTEGER);
    out.add(second, ber::INTEGER);
    out.add(third, ber::INTEGER);
    out.startSeq(ber::SEQUENCE);
    for (const VariableBinding& b : bindings)
        out.addVarBind(b);
    out.endSeq();
    out.endSeq();
    out.endSeq();
    return out.bytes();
}

// A request as a manager of `user` sends it, keys derived from the
// passwords as the manager does: one binding `name`, a PDU of `pduType`
// whose second and third integers are `second` and `third`.
Bytes v3Request(const User& user, uint32_t pduType, int second, int third, const OID& name) {
    const V3ServerInfo& server = agent().server();
    const uint32_t auth = user.authProtocol;
    V3Info info;
    info.msgID = 4242;
    info.msgMaxSize = 1500;
    info.msgSecurityModel = usm::SECURITY_MODEL_USM;
    info.msgAuthoritativeEngineID = server.engineID;
    info.msgAuthoritativeEngineBoots = server.engineBoots;
    info.msgAuthoritativeEngineTime = usm::engineTime(server);
    info.msgUserName = user.name;
    info.authProtocol = auth;
    info.contextEngineID = server.engineID;
    OutStream out;
    out.securityLevel = int(user.security);
    out.startSeq(ber::SEQUENCE);
    out.add(3, ber::INTEGER);
    out.writeV3Info(&info);
    out.startSeq(pduType);
    out.add(0x12345, ber::INTEGER);
    out.add(second, ber::INTEGER);
    out.add(third, ber::INTEGER);
    out.startSeq(ber::SEQUENCE);
    out.addVarBind({name, ber::NULL_VALUE, {}});
    out.endSeq();
    out.endSeq();
    const auto localised =
        aKeyToBKey(passwordToAKey(user.privPassword, auth), server.engineID, auth);
    out.cryptPacket(&info, usm::privacyKey(user.privProtocol, auth, localised, server.engineID),
                    user.privProtocol);
    out.endSeq();
    const auto authKey = bKeyToDKey(
        aKeyToBKey(passwordToAKey(user.authPassword, auth), server.engineID, auth), auth);
    out.signPacket(&info, authKey, auth);
    return out.bytes();
}

// The bindings of a community reply with error-status 0; -1 for anything else.
int answeredBindings(const OutStream& reply) {
    InStream in(reply.data(), reply.size());
    std::string community;
    int requestId = 0;
    int status = -1;
    int index = -1;
    if (in.getVersion() != 1 || !in.getString(community) || !in.enterSeq() ||
        !in.getInt(requestId) || !in.getInt(status) || !in.getInt(index) || status != 0 ||
        !in.enterSeq())
        return -1;
    int count = 0;
    for (; !in.isSeqEnd(); ++count)
        if (!in.skip()) return -1;
    return count;
}

uint32_t reports() {
    uint32_t sum = 0;
    for (uint32_t counter : agentState.engine.usmStats)
        sum += counter;
    return sum;
}

// One datagram through the request path, as the daemon's receive does it.
// Kept out of line so that a profiler can count exactly this.
// As the daemon does, one long-lived context serves request after request.
[[gnu::noinline]] bool serveOnce(unsigned char* datagram, size_t length, size_t& replySize,
                                 const RequestRules& rules) {
    static Context ctx(nullptr, 0);
    ctx.reset(datagram, static_cast<unsigned>(length));
    if (!createReply(ctx, SOURCE, *communityKeep, agentState.engine, rules)) return false;
    replySize = ctx.out.size();
    benchmark::DoNotOptimize(ctx.out.data());
    return true;
}

// Serves `datagram` once per iteration. Checked once beforehand: a
// community reply must carry `expectedBindings` without error, an SNMPv3
// reply must not be a report.
void serve(benchmark::State& state, const Bytes& datagram, int expectedBindings,
           const RequestRules& rules = loop->requestRules) {
    Bytes received = datagram;  // stands for the daemon's receive buffer
    const uint32_t reportsBefore = reports();
    {
        Context ctx(received.data(), static_cast<unsigned>(received.size()));
        if (!createReply(ctx, SOURCE, *communityKeep, agentState.engine, rules) ||
            reports() != reportsBefore ||
            (expectedBindings > 0 && answeredBindings(ctx.out) != expectedBindings)) {
            state.SkipWithError("unexpected reply");
            return;
        }
    }
    size_t replySize = 0;
    const size_t allocationsBefore = allocations;
    for (auto _ : state) {
        if (!serveOnce(received.data(), received.size(), replySize, rules)) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.counters["allocs/req"] =
        double(allocations - allocationsBefore) / double(state.iterations());
    state.counters["reply_octets"] = double(replySize);
}

void BM_V2cGet1(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls({SYSTEM + OID{1, 0}})), 1);
}

void BM_V2cGet1NoAccessTable(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls({SYSTEM + OID{1, 0}})), 1,
          RequestRules{});
}

void BM_V2cGet1ReadView(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls({SYSTEM + OID{1, 0}}), "viewer"),
          1);
}

// The same without the access table: the community's rights alone.
void BM_V2cGet1ViewerNoAccessTable(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls({SYSTEM + OID{1, 0}}), "viewer"),
          1, RequestRules{});
}

// Past the excluded first column, into the second.
void BM_V2cGetNextReadView(benchmark::State& state) {
    agent();
    serve(state,
          communityRequest(ber::GET_NEXT_REQUEST, 0, 0, nulls({TABLE_ENTRY + OID{1, 500}}),
                           "viewer"),
          1);
}

void BM_V2cGet10(benchmark::State& state) {
    agent();
    std::vector<OID> names;
    for (uint32_t arc : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 1u, 3u, 5u})
        names.push_back(SYSTEM + OID{arc, 0});
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls(names)), 10);
}

// A Get of a 40-octet string from a record.
void BM_V2cGetString40(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_REQUEST, 0, 0, nulls({LONG_TEXT + 0u})), 1);
}

// One step of a walk through the table's name column.
void BM_V2cGetNext(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_NEXT_REQUEST, 0, 0, nulls({TABLE_ENTRY + OID{2, 500}})),
          1);
}

void BM_V2cGetBulk25(benchmark::State& state) {
    agent();
    serve(state, communityRequest(ber::GET_BULK_REQUEST, 0, 25, nulls({TABLE_ENTRY + OID{2, 500}})),
          25);
}

void BM_V3AuthNoPrivShaGet(benchmark::State& state) {
    agent();
    serve(state, v3Request(USERS[0], ber::GET_REQUEST, 0, 0, SYSTEM + OID{1, 0}), 0);
}

void BM_V3AuthPrivShaAesGet(benchmark::State& state) {
    agent();
    serve(state, v3Request(USERS[1], ber::GET_REQUEST, 0, 0, SYSTEM + OID{1, 0}), 0);
}

// A step of compare.sh's SNMPv3 bulk walk: SHA-256 and AES-256, 25 rows.
void BM_V3Sha256Aes256GetBulk25(benchmark::State& state) {
    agent();
    serve(state, v3Request(USERS[2], ber::GET_BULK_REQUEST, 0, 25, TABLE_ENTRY + OID{2, 500}), 0);
}

}  // namespace

// REQUEST_BENCH_ITERATIONS=N runs every case exactly N times, for counting
// instructions per request under a profiler (valgrind --tool=callgrind
// --toggle-collect=*serveOnce*).
int main(int argc, char** argv) {
    const char* fixed = std::getenv("REQUEST_BENCH_ITERATIONS");
    const benchmark::IterationCount iterations = fixed ? std::strtoll(fixed, nullptr, 10) : 0;
    const std::pair<const char*, void (*)(benchmark::State&)> cases[] = {
        {"V2cGet1", BM_V2cGet1},
        {"V2cGet1NoAccessTable", BM_V2cGet1NoAccessTable},
        {"V2cGet1ReadView", BM_V2cGet1ReadView},
        {"V2cGet1ViewerNoAccessTable", BM_V2cGet1ViewerNoAccessTable},
        {"V2cGetNextReadView", BM_V2cGetNextReadView},
        {"V2cGet10", BM_V2cGet10},
        {"V2cGetString40", BM_V2cGetString40},
        {"V2cGetNext", BM_V2cGetNext},
        {"V2cGetBulk25", BM_V2cGetBulk25},
        {"V3AuthNoPrivShaGet", BM_V3AuthNoPrivShaGet},
        {"V3AuthPrivShaAesGet", BM_V3AuthPrivShaAesGet},
        {"V3Sha256Aes256GetBulk25", BM_V3Sha256Aes256GetBulk25},
    };
    for (const auto& [name, function] : cases) {
        benchmark::internal::Benchmark* registered = benchmark::RegisterBenchmark(name, function);
        if (iterations > 0) registered->Iterations(iterations);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
