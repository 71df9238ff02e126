// SNMPv3 authPriv with HMAC-SHA-96 and AES-128: the per-message cost of
// building a reply (header, encryption, signing) and of receiving a request
// (header, digest, time window, decryption). Reported per message.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/usm.h"

namespace {

const std::string ENGINE_ID("\x80\x00\x7e\xd9\x04\x61\x62", 7);

struct Setup {
    V3ServerInfo server;
    V3Info info;
    std::vector<unsigned char> authKey;
    std::vector<unsigned char> privKey;

    Setup() {
        const uint32_t sha = usm::AUTH_HMAC_SHA_96;
        server.engineBoots = 1;
        server.engineTimeBase = usm::monotonicSeconds();
        server.engineID = ENGINE_ID;
        authKey = bKeyToDKey(aKeyToBKey(passwordToAKey("password1", sha), ENGINE_ID, sha), sha);
        privKey = aKeyToBKey(passwordToAKey("password2", sha), ENGINE_ID, sha);
        info.msgID = 1;
        info.msgAuthoritativeEngineID = ENGINE_ID;
        info.msgAuthoritativeEngineBoots = 1;
        info.msgAuthoritativeEngineTime = 0;
        info.msgUserName = "u1";
        info.contextEngineID = ENGINE_ID;
    }
};

// A message with `bindings` sysDescr-sized bindings.
std::vector<unsigned char> buildMessage(const Setup& setup, int bindings) {
    OutStream out;
    out.securityLevel = 2;
    out.startSeq(ber::SEQUENCE);
    out.add(3, ber::INTEGER);
    out.writeV3Info(&setup.info);
    out.startSeq(ber::GET_REQUEST);
    out.add(0x1234, ber::INTEGER);
    out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (int i = 0; i < bindings; ++i) {
        out.addVarBind(
            {OID("1.3.6.1.2.1.1.1.0"), ber::OCTET_STRING, "Linux router 5.10.0 #1 SMP armv7l"});
    }
    out.endSeq();
    out.endSeq();
    out.cryptPacket(&setup.info, setup.privKey, usm::PRIV_CFB128_AES_128);
    out.endSeq();
    out.signPacket(&setup.info, setup.authKey, usm::AUTH_HMAC_SHA_96);
    return out.bytes();
}

void BM_SignAndEncrypt(benchmark::State& state) {
    const Setup setup;
    for (auto _ : state) {
        std::vector<unsigned char> bytes = buildMessage(setup, int(state.range(0)));
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignAndEncrypt)->Arg(1)->Arg(40);

void BM_VerifyAndDecrypt(benchmark::State& state) {
    const Setup setup;
    const std::vector<unsigned char> bytes = buildMessage(setup, int(state.range(0)));
    for (auto _ : state) {
        InStream in(bytes.data(), bytes.size());
        usm::Report v3_err = usm::NO_REPORT;
        MessageDrops dropped;
        const bool ok =
            in.getVersion() == 3 && in.readV3Info(dropped) &&
            in.decryptAndCheckSignature(v3_err, setup.authKey, usm::AUTH_HMAC_SHA_96, setup.privKey,
                                        usm::PRIV_CFB128_AES_128, setup.server) &&
            v3_err == usm::NO_REPORT;
        if (!ok) state.SkipWithError("message did not verify");
        benchmark::DoNotOptimize(in.position());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifyAndDecrypt)->Arg(1)->Arg(40);

void BM_PasswordToKey(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<unsigned char> key = passwordToAKey("password1", usm::AUTH_HMAC_SHA_96);
        benchmark::DoNotOptimize(key.data());
    }
}
BENCHMARK(BM_PasswordToKey);

}  // namespace

BENCHMARK_MAIN();
