// libFuzzer target over the whole request path: each input is one received
// datagram for createReply, served from the shipped plug-ins' objects, with
// communities and SNMPv3 users at every security level. Every reply must be
// a well-formed message that the requester could verify and decode.
//
// SNMPv3 seeds name the engine 80 00 7e d9 04 "fuzz", boots 5, time 1000,
// and carry the ScopedPDU of an authPriv message in plaintext: the target
// encrypts and signs them (protectRequest), so mutations reach the PDU.
#include <arpa/inet.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <vector>

#include "mib/agent_settings.h"
#include "mib/agent_state.h"
#include "mib/platform_exchange.h"
#include "mib/registry.h"
#include "platform/ifaced/interface_object.h"
#include "platform/orla/ids.h"
#include "platform/orla/runner.h"
#include "platform/snmp/usm.h"
#include "request/dispatch.h"

// The plug-ins' autorun functions, renamed per source by the build.
extern "C" void autorun_system();
extern "C" void autorun_snmp_engine();
extern "C" void autorun_interfaces();
extern "C" void autorun_example();
extern "C" void autorun_host_resources();
extern "C" void autorun_ip();
extern "C" void autorun_ip_forward();

namespace {

const std::string ENGINE_ID("\x80\x00\x7e\xd9\004fuzz", 9);
constexpr uint32_t ENGINE_BOOTS = 5;
// The engine time at every input, so seeds carrying it stay in the time window.
constexpr uint32_t ENGINE_TIME = 1000;
const uint32_t SOURCE = htonl(0xc0000207);  // 192.0.2.7

CommunityKeep* communities = nullptr;
// Views for some of them: "public" reads through one with an excluded
// subtree and a wildcard family, "sha" belongs to a group.
AccessKeep* access = nullptr;
RequestRules rules;
// The object tree is built again before the next input: at the start, and
// once the interface service accepted an ifAlias, which stays in the
// table's cached row where no later input may see it.
bool treeStale = true;

// `network` (host order) filters the sources to its /24; 0 admits all.
void addCommunity(const std::string& name, uint32_t security, bool write, uint32_t network = 0,
                  uint32_t authProtocol = usm::AUTH_HMAC_MD5_96,
                  uint32_t privProtocol = usm::PRIV_CBC_DES) {
    orla::message cfg;
    cfg.insert(snmp::COMM_NAME, name);
    cfg.insert(snmp::COMM_READ_ACCESS, true);
    cfg.insert(snmp::COMM_WRITE_ACCESS, write);
    cfg.insert(snmp::COMM_ADDRESS, htonl(network));
    cfg.insert(snmp::COMM_NETMASK, network ? htonl(0xffffff00) : 0);
    cfg.insert(snmp::COMM_SECURITY, security);
    cfg.insert(snmp::COMM_AUTH_PROTOCOL, authProtocol);
    cfg.insert(snmp::COMM_PRIV_PROTOCOL, privProtocol);
    cfg.insert(snmp::COMM_AUTH_PASSWORD, name + "-auth-pw");
    cfg.insert(snmp::COMM_PRIV_PASSWORD, name + "-priv-pw");
    if (orla::isError(communities->cmdAddObj(cfg))) abort();
}

orla::message interfaceObject(uint32_t index, const char* name, uint32_t type, uint32_t mbits) {
    orla::message object;
    object.insert(orla::OBJ_ID, index);
    object.insert(ifaced::IF_NAME, name);
    object.insert(ifaced::IF_TYPE, type);
    object.insert(ifaced::IF_SPEED_MBPS, mbits);
    object.insert(ifaced::IF_HW_ADDRESS, std::string("\x02\x00\x5e\x10\x00\x01", 6));
    object.insert(ifaced::IF_OPER_STATUS, 1);
    object.insert(ifaced::IF_ALIAS, "uplink");
    ifaced::insertCounter(object, ifaced::IF_IN_OCTETS, 0x1234567890ull);
    return object;
}

// The platform as plug-ins see it: an interface service with two interfaces,
// the agent's settings, and no port map (the example plug-in's service).
orla::message answerPlatform(const orla::message& request, uint32_t) {
    const std::vector<uint32_t> to = request.get(orla::MSG_TO);
    const uint32_t command = request.get(orla::MSG_CMD);
    orla::message reply;
    if (to == std::vector<uint32_t>{ifaced::INTERFACE_SERVICE, ifaced::INTERFACE_HANDLER}) {
        if (command == orla::CMD_GETALL) {
            reply.append(orla::OBJ_LIST, interfaceObject(1, "lo", 24, 0));
            reply.append(orla::OBJ_LIST, interfaceObject(3, "eth0", 6, 100000));
        } else if (command == orla::CMD_GETCOUNT) {
            reply.insert(orla::OBJ_COUNT, 2);
        } else if (command == orla::CMD_SETOBJ && request.size(ifaced::IF_ALIAS) <= 64) {
            treeStale = true;
        } else {
            return orla::errorMsg(orla::ERR_BAD_VALUE, "refused");
        }
        return reply;
    }
    if (to == std::vector<uint32_t>{snmp::SERVICE_ID}) {
        reply.insert(snmp::SNMP_TEXT2, "noc@example.net");
        reply.insert(snmp::SNMP_TEXT3, "rack 4");
        return reply;
    }
    return orla::errorMsg(orla::ERR_NO_SERVICE, "no such service");
}

// Offset of msgAuthenticationParameters in a message that readV3Info
// accepted; 0 when they are not `length` octets.
size_t authParametersOffset(const std::vector<unsigned char>& message, size_t length) {
    InStream in(message.data(), message.size());
    BerElement wrapper, auth;
    if (in.getVersion() != snmp::VERSION_3 || !in.skip() || !in.getElement(wrapper)) return 0;
    InStream parameters(message.data() + wrapper.contentOffset, wrapper.contentLength);
    if (!parameters.enterSeq()) return 0;
    for (int field = 0; field < 4; ++field)
        if (!parameters.skip()) return 0;
    if (!parameters.peekElement(auth) || auth.contentLength != length) return 0;
    return wrapper.contentOffset + auth.contentOffset;
}

// Protects an SNMPv3 message of a known user as its flags ask, so that it
// passes the security checks: with the privacy flag its msgData holds the
// plaintext ScopedPDU, encrypted here in place when the ciphertext keeps its
// length (AES always; DES when padded to whole 8-octet blocks); with the
// authentication flag it is signed (RFC 3414 6.3.1, 7.3.1).
void protectRequest(std::vector<unsigned char>& message) {
    InStream in(message.data(), message.size());
    MessageDrops ignored;
    if (in.getVersion() != snmp::VERSION_3 || !in.readV3Info(ignored)) return;
    const V3Info& info = *in.v3Info();
    const CommunityKeep::Item* user = communities->findItem(info.msgUserName);
    if (user == nullptr || in.securityLevel < usm::AUTH_NO_PRIV) return;

    const auto* salt = reinterpret_cast<const unsigned char*>(info.msgPrivacyParameters.data());
    BerElement msgData;
    if (in.securityLevel == usm::AUTH_PRIV &&
        info.msgPrivacyParameters.size() == usm::SALT_LENGTH && in.peekElement(msgData)) {
        usm::encryptScopedPdu(user->privProtocol, user->privKey, info.msgAuthoritativeEngineBoots,
                              info.msgAuthoritativeEngineTime, salt,
                              message.data() + msgData.contentOffset, msgData.contentLength);
    }

    const size_t length = usm::macLength(user->authProtocol);
    const size_t auth = authParametersOffset(message, length);
    if (auth == 0) return;
    std::fill_n(message.begin() + auth, length, 0);
    usm::computeMac(user->authKey, user->authProtocol, message.data(), message.size(),
                    message.data() + auth);
}

// The reply is one message of the request's version within the requester's
// size limit; an SNMPv3 reply passes the requester's security checks; its
// PDU is a Response or Report whose bindings decode.
void checkReply(const Context& ctx, int version) {
    size_t limit = ber::MAX_UDP_PAYLOAD;
    InStream reply(ctx.out.data(), ctx.out.size());
    if (reply.getVersion() != version) abort();
    if (version == snmp::VERSION_3) {
        limit = std::min<size_t>(limit, ctx.in.v3Info()->msgMaxSize);
        MessageDrops dropped;
        if (!reply.readV3Info(dropped) || reply.v3Info()->msgAuthoritativeEngineID != ENGINE_ID)
            abort();
        const CommunityKeep::Item* user = communities->findItem(reply.v3Info()->msgUserName);
        static const CommunityKeep::Item none;
        if (user == nullptr || reply.securityLevel == usm::NO_AUTH_NO_PRIV) user = &none;
        usm::Report report = usm::NO_REPORT;
        if (!reply.decryptAndCheckSignature(report, user->authKey, user->authProtocol,
                                            user->privKey, user->privProtocol, agentState.engine) ||
            report != usm::NO_REPORT)
            abort();
    } else if (std::string community; !reply.getString(community)) {
        abort();
    }
    if (ctx.out.size() > limit) abort();

    const uint32_t type = reply.getType();
    int field = 0;  // request-id, error-status, error-index
    if ((type != ber::RESPONSE && type != ber::REPORT) || !reply.enterSeq() ||
        !reply.getInt(field) || !reply.getInt(field) || !reply.getInt(field) || !reply.enterSeq())
        abort();
    while (!reply.isSeqEnd()) {
        OID name;
        if (!reply.enterSeq() || !reply.getOID(name) || !reply.skip() || !reply.isSeqEnd()) abort();
        reply.exitSeq();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The agent's line for every dropped message would flood the output.
    std::cerr.setstate(std::ios::badbit);
    agentState.engine.engineID = ENGINE_ID;
    agentState.engine.engineBoots = ENGINE_BOOTS;
    setPlatformExchange(answerPlatform);

    char folder[] = "/tmp/fuzz-request-XXXXXX";
    if (mkdtemp(folder) == nullptr) abort();
    communities = new CommunityKeep(std::string(folder) + "/communities");
    communities->init();
    communities->setEngineID(ENGINE_ID);
    using namespace usm;
    addCommunity("private", NO_AUTH_NO_PRIV, true);
    addCommunity("public", NO_AUTH_NO_PRIV, false, 0xc0000200);  // 192.0.2.0/24: admitted
    addCommunity("remote", NO_AUTH_NO_PRIV, false, 0xc6336400);  // 198.51.100.0/24: refused
    addCommunity("noauth", NO_AUTH_NO_PRIV, true, 0, AUTH_HMAC_SHA_96, PRIV_CFB128_AES_128);
    addCommunity("md5", AUTH_NO_PRIV, true);
    addCommunity("sha", AUTH_NO_PRIV, true, 0, AUTH_HMAC_SHA_96);
    addCommunity("des", AUTH_PRIV, true);
    addCommunity("aes", AUTH_PRIV, true, 0, AUTH_HMAC_SHA_96, PRIV_CFB128_AES_128);
    access = new AccessKeep(std::string(folder) + "/access");
    access->init();
    auto record = [](std::initializer_list<std::pair<orla::StringKey, std::string>> texts,
                     uint32_t kind, uint32_t model = 0, uint32_t level = 0, bool excluded = false) {
        orla::message cfg;
        for (const auto& [key, text] : texts) cfg.insert(key, text);
        cfg.insert(snmp::ACCESS_KIND, kind);
        cfg.insert(snmp::SECURITY_MODEL, model);
        cfg.insert(snmp::SECURITY_LEVEL, level);
        cfg.insert(snmp::VIEW_EXCLUDED, excluded);
        if (orla::isError(access->cmdAddObj(cfg))) abort();
    };
    using namespace snmp;
    record({{VIEW_NAME, "partial"}, {VIEW_SUBTREE, "1.3.6.1.2.1"}}, KIND_VIEW);
    record({{VIEW_NAME, "partial"}, {VIEW_SUBTREE, "1.3.6.1.2.1.2"}}, KIND_VIEW, 0, 0, true);
    record({{VIEW_NAME, "partial"}, {VIEW_SUBTREE, "1.3.6.1.2.1.2.2.1.0.1"},
            {VIEW_MASK, std::string("\xff\xbf", 2)}},
           KIND_VIEW);
    record({{GROUP_NAME, "g"}, {SECURITY_NAME, "sha"}}, KIND_GROUP, MODEL_USM);
    record({{GROUP_NAME, "g"}, {COMM_READ_VIEW, "partial"}, {COMM_WRITE_VIEW, "partial"}},
           KIND_ACCESS, MODEL_USM, 1);
    orla::message narrowed;
    narrowed.insert(COMM_READ_VIEW, std::string("partial"));
    if (orla::isError(communities->cmdSetObj(narrowed, communities->findItem("public")->id)))
        abort();
    rules.access = access;
    std::filesystem::remove_all(folder);  // the tables live in memory from now on

    // The runner holds the caches' timers: made first, it outlives the
    // release of the registry at exit, which leaves nothing to leak.
    orla::getRunner();
    atexit(releaseRegistry);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Every input meets the same agent: the plug-ins' data as the platform
    // serves it, zero counters, the fixed time.
    if (treeStale) {
        releaseRegistry();
        autorun_system();
        autorun_snmp_engine();
        autorun_interfaces();
        autorun_example();
        autorun_host_resources();
        autorun_ip();
        autorun_ip_forward();
        treeStale = false;
    }
    agentState.engine.engineTimeBase = usm::monotonicSeconds() - ENGINE_TIME;
    std::fill(std::begin(agentState.engine.usmStats), std::end(agentState.engine.usmStats), 0);
    agentState.engine.dropped = {};

    std::vector<unsigned char> message(data, data + size);
    protectRequest(message);
    // One context for every input, reset each time, as the agent reuses its own.
    static Context ctx(nullptr, 0);
    ctx.reset(message.data(), static_cast<unsigned>(message.size()));
    const int version = InStream(message.data(), message.size()).getVersion();
    if (createReply(ctx, SOURCE, *communities, agentState.engine, rules)) checkReply(ctx, version);
    return 0;
}
