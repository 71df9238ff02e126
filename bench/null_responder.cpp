// null_responder: the floor of the agent benchmarks. It answers every
// SNMPv1/v2c datagram on UDP 161 with one recvfrom and one sendto, doing no
// SNMP work: the reply is the request itself with its PDU tag turned into
// GetResponse (0xa2). The request id, the names and their NULL values come
// back as they were sent, so a manager accepts the reply as the answer to
// its request. A datagram whose PDU tag is not where a short v1/v2c header
// puts it is dropped.
//
//   null_responder [ADDRESS]    (default 127.0.0.1)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr uint8_t SEQUENCE = 0x30;
constexpr uint8_t GET_RESPONSE = 0xa2;

// Offset of the PDU tag: message SEQUENCE header, version INTEGER, community
// OCTET STRING. Only the short definite lengths of X.690 8.1.3.4 and the
// two-octet long form (0x81 LL, 0x82 HH LL) are followed; -1 for anything else.
long pduTagOffset(const uint8_t* data, long size) {
    long at = 0;
    auto skipLength = [&](bool enter) -> bool {
        if (at >= size) return false;
        long length = data[at];
        long header = 1;
        if (length == 0x81 || length == 0x82) {
            const long octets = length & 0x7f;
            if (at + octets >= size) return false;
            length = 0;
            for (long i = 1; i <= octets; ++i)
                length = (length << 8) | data[at + i];
            header += octets;
        } else if (length > 0x7f) {
            return false;
        }
        at += header + (enter ? 0 : length);
        return at <= size;
    };
    if (size < 2 || data[at++] != SEQUENCE || !skipLength(true)) return -1;
    for (int field = 0; field < 2; ++field) {  // version, community
        if (at >= size) return -1;
        ++at;
        if (!skipLength(false)) return -1;
    }
    return at < size ? at : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* address = argc > 1 ? argv[1] : "127.0.0.1";
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(161);
    if (fd < 0 || inet_pton(AF_INET, address, &local.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("null_responder: bind");
        return 1;
    }
    uint8_t datagram[65536];
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const long size = recvfrom(fd, datagram, sizeof datagram, 0,
                                   reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (size < 0) continue;
        const long tag = pduTagOffset(datagram, size);
        if (tag < 0) continue;
        datagram[tag] = GET_RESPONSE;
        sendto(fd, datagram, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(&peer),
               peerLength);
    }
}
