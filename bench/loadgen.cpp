// loadgen: drives an SNMP agent the way real managers do, through net-snmp's
// library with one asynchronous session, and measures what it sees.
//
// N request slots are kept in flight. Each slot sends its next request as
// soon as its previous one is answered or timed out, until the run's time or
// request budget is spent. Modes:
//   get    Get of the OIDs given (all in one PDU)
//   walk   GetNext walk of the first OID's subtree; a slot that leaves the
//          subtree starts again at its beginning
//   bulk   the same walk with GetBulk, max-repetitions 25
//   set    Set of the first OID to an OCTET STRING
//
// It prints one line of key=value pairs, starting with "RESULT". Any
// timeout, error status, report PDU or exception value is counted, so the
// caller can refuse to call such a run fast. With --pid it also reads the
// agent's CPU time (schedstat of /proc/PID/task/*) at the start and the end
// of the measured window. -w runs unmeasured requests first, in the same
// session, so that the window starts with the agent's caches filled.
//
//   loadgen -v 2c -c public -m get -n 16 -d 5 127.0.0.1 1.3.6.1.2.1.1.3.0
//   loadgen -v 3 -u admin -l authPriv -A secret1 -X secret2 -m bulk ...
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <dirent.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Mode { Get, Walk, Bulk, Set };

constexpr int BULK_REPETITIONS = 25;
// Bounds the latency record of one run (about 40 MB at most).
constexpr size_t MAX_LATENCY_SAMPLES = 10'000'000;

struct Options {
    long version = SNMP_VERSION_2c;
    std::string community = "public";
    std::string user;
    int level = SNMP_SEC_LEVEL_NOAUTH;
    std::string authPassword;
    std::string privPassword;
    // SNMPv3 protocols: HMAC-SHA-96 and CFB128-AES-128 unless told.
    const oid* authProtocol = usmHMACSHA1AuthProtocol;
    size_t authProtocolLength = USM_AUTH_PROTO_SHA_LEN;
    const oid* privProtocol = usmAESPrivProtocol;
    size_t privProtocolLength = USM_PRIV_PROTO_AES_LEN;
    Mode mode = Mode::Get;
    int inFlight = 1;
    double seconds = 5;
    double warmupSeconds = 0;  // unmeasured requests first, in the same session
    long requests = 0;         // 0: bounded by time only
    long timeoutMs = 2000;
    pid_t agentPid = 0;
    std::string setValue = "bench";
    std::string peer;
    std::vector<std::vector<oid>> oids;
};

// One request slot: what it asked last and where its walk stands.
struct Slot {
    Clock::time_point sentAt;
    std::vector<oid> cursor;  // walk and bulk: the last name received
};

struct Stats {
    long sent = 0;
    long answered = 0;
    long objects = 0;  // bindings received in answers without faults
    long timeouts = 0;
    long errorStatus = 0;  // answers with a non-zero error-status
    long exceptions = 0;   // noSuchObject, noSuchInstance, endOfMibView in a Get
    long reports = 0;      // report PDUs (RFC 3414 usmStats)
    long sendFailures = 0;
    long wraps = 0;  // walks that reached the end of their subtree
    std::vector<uint32_t> latencyUs;
};

struct Run {
    Options opt;
    Stats stats;
    std::vector<Slot> slots;
    std::vector<int> ready;  // slots whose answer arrived, to send again
    Clock::time_point deadline;
    long requestLimit = 0;  // of the current phase; 0: none
    bool stopping = false;
};

Run run;

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "loadgen: %s\n"
                 "usage: loadgen [-v 1|2c|3] [-c COMMUNITY] [-u USER -l LEVEL -A AUTHPASS -X "
                 "PRIVPASS]\n"
                 "               [-a SHA|SHA-256] [-x AES|AES-256]\n"
                 "               [-m get|walk|bulk|set] [-n IN_FLIGHT] [-d SECONDS] [-w "
                 "WARMUP_SECONDS]\n"
                 "               [-r REQUESTS] [-t TIMEOUT_MS] [-p AGENT_PID] [-s SET_VALUE]\n"
                 "               PEER OID...\n"
                 "  LEVEL: noAuthNoPriv, authNoPriv (HMAC-SHA-96 by default) or authPriv (+ "
                 "CFB128-AES-128)\n",
                 why);
    std::exit(2);
}

// Nanoseconds the process has run on a CPU, summed over its threads, or -1:
// the first field of /proc/PID/task/TID/schedstat. Unlike utime + stime
// (10 ms ticks) it resolves short runs.
long long cpuNanos(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    long long total = 0;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        long long ns = 0;
        if (stat >> ns) {
            total += ns;
            found = true;
        }
    }
    closedir(dir);
    return found ? total : -1;
}

std::vector<oid> parseOid(const char* text) {
    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!read_objid(text, name, &length)) usage((std::string("bad OID ") + text).c_str());
    return std::vector<oid>(name, name + length);
}

bool inSubtree(const oid* name, size_t length, const std::vector<oid>& root) {
    return length > root.size() && std::equal(root.begin(), root.end(), name);
}

netsnmp_pdu* buildRequest(const Slot& slot) {
    const Options& opt = run.opt;
    netsnmp_pdu* pdu = nullptr;
    switch (opt.mode) {
        case Mode::Get:
            pdu = snmp_pdu_create(SNMP_MSG_GET);
            for (const auto& name : opt.oids)
                snmp_add_null_var(pdu, name.data(), name.size());
            break;
        case Mode::Walk:
            pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
            snmp_add_null_var(pdu, slot.cursor.data(), slot.cursor.size());
            break;
        case Mode::Bulk:
            pdu = snmp_pdu_create(SNMP_MSG_GETBULK);
            pdu->non_repeaters = 0;
            pdu->max_repetitions = BULK_REPETITIONS;
            snmp_add_null_var(pdu, slot.cursor.data(), slot.cursor.size());
            break;
        case Mode::Set:
            pdu = snmp_pdu_create(SNMP_MSG_SET);
            snmp_pdu_add_variable(pdu, opt.oids[0].data(), opt.oids[0].size(), ASN_OCTET_STR,
                                  opt.setValue.data(), opt.setValue.size());
            break;
    }
    return pdu;
}

// Walk and bulk: advances the slot's cursor over the bindings received and
// counts those inside the subtree; leaving it starts the walk again.
void advanceWalk(Slot& slot, const netsnmp_pdu* response) {
    const std::vector<oid>& root = run.opt.oids[0];
    for (const netsnmp_variable_list* var = response->variables; var; var = var->next_variable) {
        if (var->type == SNMP_ENDOFMIBVIEW || !inSubtree(var->name, var->name_length, root)) {
            slot.cursor = root;
            ++run.stats.wraps;
            return;
        }
        slot.cursor.assign(var->name, var->name + var->name_length);
        ++run.stats.objects;
    }
}

void judgeResponse(Slot& slot, const netsnmp_pdu* response) {
    Stats& stats = run.stats;
    if (response->command == SNMP_MSG_REPORT) {
        ++stats.reports;
        return;
    }
    const bool walking = run.opt.mode == Mode::Walk || run.opt.mode == Mode::Bulk;
    // An agent that answers in SNMPv1 terms ends the object tree with
    // noSuchName (RFC 1157 4.1.3), also in SNMPv2c: for a walk that is the
    // end of its subtree, not a fault.
    if (walking && response->errstat == SNMP_ERR_NOSUCHNAME) {
        slot.cursor = run.opt.oids[0];
        ++stats.wraps;
        return;
    }
    if (response->errstat != SNMP_ERR_NOERROR) {
        ++stats.errorStatus;
        return;
    }
    if (walking) {
        advanceWalk(slot, response);
        return;
    }
    for (const netsnmp_variable_list* var = response->variables; var; var = var->next_variable) {
        if (var->type == SNMP_NOSUCHOBJECT || var->type == SNMP_NOSUCHINSTANCE ||
            var->type == SNMP_ENDOFMIBVIEW) {
            ++stats.exceptions;
            return;
        }
        ++stats.objects;
    }
}

int onResponse(int operation, netsnmp_session*, int, netsnmp_pdu* response, void* magic) {
    const int index = static_cast<int>(reinterpret_cast<intptr_t>(magic));
    Slot& slot = run.slots[index];
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - slot.sentAt);
    if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
        ++run.stats.answered;
        if (run.stats.latencyUs.size() < MAX_LATENCY_SAMPLES) {
            run.stats.latencyUs.push_back(static_cast<uint32_t>(elapsed.count()));
        }
        judgeResponse(slot, response);
    } else {
        ++run.stats.timeouts;
        if (run.opt.mode == Mode::Walk || run.opt.mode == Mode::Bulk) slot.cursor = run.opt.oids[0];
    }
    // Sending from inside the library's read is avoided: the main loop does it.
    run.ready.push_back(index);
    return 1;
}

bool budgetLeft() {
    if (run.stopping) return false;
    if (run.requestLimit > 0 && run.stats.sent >= run.requestLimit) return false;
    if (Clock::now() >= run.deadline) {
        run.stopping = true;
        return false;
    }
    return true;
}

// Sends the slot's next request; false when it could not be sent.
bool sendNext(void* session, int index) {
    Slot& slot = run.slots[index];
    netsnmp_pdu* pdu = buildRequest(slot);
    slot.sentAt = Clock::now();
    if (snmp_sess_async_send(session, pdu, onResponse,
                             reinterpret_cast<void*>(static_cast<intptr_t>(index))) == 0) {
        snmp_free_pdu(pdu);
        ++run.stats.sendFailures;
        return false;
    }
    ++run.stats.sent;
    return true;
}

void* openSession(const Options& opt) {
    netsnmp_session session;
    snmp_sess_init(&session);
    session.peername = const_cast<char*>(opt.peer.c_str());
    session.version = opt.version;
    session.timeout = opt.timeoutMs * 1000;
    session.retries = 0;
    if (opt.version != SNMP_VERSION_3) {
        session.community = reinterpret_cast<u_char*>(const_cast<char*>(opt.community.c_str()));
        session.community_len = opt.community.size();
    } else {
        session.securityName = const_cast<char*>(opt.user.c_str());
        session.securityNameLen = opt.user.size();
        session.securityLevel = opt.level;
        session.securityAuthProto = const_cast<oid*>(opt.authProtocol);
        session.securityAuthProtoLen = opt.authProtocolLength;
        session.securityPrivProto = const_cast<oid*>(opt.privProtocol);
        session.securityPrivProtoLen = opt.privProtocolLength;
        if (opt.level != SNMP_SEC_LEVEL_NOAUTH) {
            session.securityAuthKeyLen = USM_AUTH_KU_LEN;
            if (generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                            reinterpret_cast<const u_char*>(opt.authPassword.c_str()),
                            opt.authPassword.size(), session.securityAuthKey,
                            &session.securityAuthKeyLen) != SNMPERR_SUCCESS) {
                usage("cannot derive the authentication key");
            }
        }
        if (opt.level == SNMP_SEC_LEVEL_AUTHPRIV) {
            session.securityPrivKeyLen = USM_PRIV_KU_LEN;
            if (generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                            reinterpret_cast<const u_char*>(opt.privPassword.c_str()),
                            opt.privPassword.size(), session.securityPrivKey,
                            &session.securityPrivKeyLen) != SNMPERR_SUCCESS) {
                usage("cannot derive the privacy key");
            }
        }
    }
    // For SNMPv3 this also discovers the agent's engine id and time.
    return snmp_sess_open(&session);
}

uint32_t percentile(std::vector<uint32_t>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    const size_t at = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[at];
}

Options parseArgs(int argc, char** argv) {
    Options opt;
    int c;
    while ((c = getopt(argc, argv, "v:c:u:l:A:X:a:x:m:n:d:w:r:t:p:s:")) != -1) {
        const std::string arg = optarg ? optarg : "";
        switch (c) {
            case 'v':
                if (arg == "1")
                    opt.version = SNMP_VERSION_1;
                else if (arg == "2c")
                    opt.version = SNMP_VERSION_2c;
                else if (arg == "3")
                    opt.version = SNMP_VERSION_3;
                else
                    usage("version: 1, 2c or 3");
                break;
            case 'c':
                opt.community = arg;
                break;
            case 'u':
                opt.user = arg;
                break;
            case 'l':
                if (arg == "noAuthNoPriv")
                    opt.level = SNMP_SEC_LEVEL_NOAUTH;
                else if (arg == "authNoPriv")
                    opt.level = SNMP_SEC_LEVEL_AUTHNOPRIV;
                else if (arg == "authPriv")
                    opt.level = SNMP_SEC_LEVEL_AUTHPRIV;
                else
                    usage("level: noAuthNoPriv, authNoPriv or authPriv");
                break;
            case 'A':
                opt.authPassword = arg;
                break;
            case 'X':
                opt.privPassword = arg;
                break;
            case 'a':
                if (arg == "SHA") {
                    opt.authProtocol = usmHMACSHA1AuthProtocol;
                    opt.authProtocolLength = OID_LENGTH(usmHMACSHA1AuthProtocol);
                } else if (arg == "SHA-256") {
                    opt.authProtocol = usmHMAC192SHA256AuthProtocol;
                    opt.authProtocolLength = OID_LENGTH(usmHMAC192SHA256AuthProtocol);
                } else {
                    usage("authentication protocol: SHA or SHA-256");
                }
                break;
            case 'x':
                if (arg == "AES") {
                    opt.privProtocol = usmAESPrivProtocol;
                    opt.privProtocolLength = OID_LENGTH(usmAESPrivProtocol);
                } else if (arg == "AES-256") {
                    opt.privProtocol = usmAES256PrivProtocol;
                    opt.privProtocolLength = OID_LENGTH(usmAES256PrivProtocol);
                } else {
                    usage("privacy protocol: AES or AES-256");
                }
                break;
            case 'm':
                if (arg == "get")
                    opt.mode = Mode::Get;
                else if (arg == "walk")
                    opt.mode = Mode::Walk;
                else if (arg == "bulk")
                    opt.mode = Mode::Bulk;
                else if (arg == "set")
                    opt.mode = Mode::Set;
                else
                    usage("mode: get, walk, bulk or set");
                break;
            case 'n':
                opt.inFlight = std::atoi(optarg);
                break;
            case 'd':
                opt.seconds = std::atof(optarg);
                break;
            case 'w':
                opt.warmupSeconds = std::atof(optarg);
                break;
            case 'r':
                opt.requests = std::atol(optarg);
                break;
            case 't':
                opt.timeoutMs = std::atol(optarg);
                break;
            case 'p':
                opt.agentPid = static_cast<pid_t>(std::atol(optarg));
                break;
            case 's':
                opt.setValue = arg;
                break;
            default:
                usage("unknown option");
        }
    }
    if (opt.inFlight < 1 || opt.inFlight > 1000) usage("in-flight: 1 to 1000");
    if (opt.seconds <= 0 || opt.seconds > 86400) usage("seconds: above 0, at most a day");
    if (opt.warmupSeconds < 0 || opt.warmupSeconds > 3600) usage("warm-up: 0 to an hour");
    if (opt.timeoutMs < 1) usage("timeout: at least 1 ms");
    if (opt.version == SNMP_VERSION_3 && opt.user.empty()) usage("SNMPv3 needs -u USER");
    if (optind + 2 > argc) usage("PEER and at least one OID needed");
    opt.peer = argv[optind++];
    // Numeric OIDs only: no MIB files, and no snmp.conf of the host.
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    init_snmp("loadgen");
    for (int i = optind; i < argc; ++i)
        opt.oids.push_back(parseOid(argv[i]));
    return opt;
}

// Keeps the slots busy for `seconds` (or `requests` requests, when not 0),
// then waits for every answer or time-out.
void drive(void* session, double seconds, long requests) {
    run.stopping = false;
    run.requestLimit = requests;
    run.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
    int outstanding = 0;
    for (int i = 0; i < run.opt.inFlight && budgetLeft(); ++i)
        outstanding += sendNext(session, i) ? 1 : 0;

    while (outstanding > 0) {
        int fds = 0, block = 1;
        fd_set readable;
        FD_ZERO(&readable);
        timeval timeout{};
        snmp_sess_select_info(session, &fds, &readable, &timeout, &block);
        const int count = select(fds, &readable, nullptr, nullptr, block ? nullptr : &timeout);
        if (count > 0) {
            snmp_sess_read(session, &readable);
        } else if (count == 0) {
            snmp_sess_timeout(session);
        } else if (errno != EINTR) {
            std::perror("loadgen: select");
            return;
        }
        std::vector<int> ready;
        ready.swap(run.ready);
        outstanding -= static_cast<int>(ready.size());
        for (int index : ready) {
            if (budgetLeft() && sendNext(session, index)) ++outstanding;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    run.opt = parseArgs(argc, argv);
    const Options& opt = run.opt;

    void* session = openSession(opt);
    if (!session) {
        std::fprintf(stderr, "loadgen: cannot open a session to %s\n", opt.peer.c_str());
        return 1;
    }
    run.slots.resize(static_cast<size_t>(opt.inFlight));
    for (Slot& slot : run.slots)
        slot.cursor = opt.oids[0];

    // The warm-up fills the agent's caches and, for SNMPv3, settles the
    // engine time; its counts are dropped.
    if (opt.warmupSeconds > 0) {
        drive(session, opt.warmupSeconds, 0);
        run.stats = Stats{};
    }
    const long long cpuBefore = opt.agentPid ? cpuNanos(opt.agentPid) : -1;
    const Clock::time_point start = Clock::now();
    drive(session, opt.seconds, opt.requests);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long long cpuAfter = opt.agentPid ? cpuNanos(opt.agentPid) : -1;
    snmp_sess_close(session);

    Stats& stats = run.stats;
    std::sort(stats.latencyUs.begin(), stats.latencyUs.end());
    const long faults =
        stats.timeouts + stats.errorStatus + stats.exceptions + stats.reports + stats.sendFailures;
    double cpuUsPerRequest = -1;
    if (cpuBefore >= 0 && cpuAfter >= cpuBefore && stats.answered > 0) {
        const double cpuUs = static_cast<double>(cpuAfter - cpuBefore) / 1000.0;
        cpuUsPerRequest = cpuUs / static_cast<double>(stats.answered);
    }
    std::printf(
        "RESULT status=%s sent=%ld answered=%ld objects=%ld timeouts=%ld errors=%ld "
        "exceptions=%ld reports=%ld send_failures=%ld wraps=%ld seconds=%.3f "
        "req_per_s=%.1f p50_us=%u p99_us=%u max_us=%u agent_cpu_ns=%lld "
        "cpu_us_per_req=%.2f\n",
        faults == 0 && stats.answered > 0 ? "ok" : "FAILED", stats.sent, stats.answered,
        stats.objects, stats.timeouts, stats.errorStatus, stats.exceptions, stats.reports,
        stats.sendFailures, stats.wraps, seconds, static_cast<double>(stats.answered) / seconds,
        percentile(stats.latencyUs, 0.50), percentile(stats.latencyUs, 0.99),
        stats.latencyUs.empty() ? 0 : stats.latencyUs.back(),
        cpuBefore >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore : -1, cpuUsPerRequest);
    return faults == 0 && stats.answered > 0 ? 0 : 1;
}
