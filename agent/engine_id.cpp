#include "agent/engine_id.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "mib/agent_settings.h"

namespace {

// RFC 3411 SnmpEngineID: the first bit set marks the new format; octet 4
// says what follows (4: administratively assigned text, 5: octets of the
// enterprise's choosing, here random ones).
constexpr uint32_t ENGINE_ID_NEW_FORMAT = 0x80000000;
constexpr unsigned char ENGINE_ID_TEXT_FORMAT = 4;
constexpr unsigned char ENGINE_ID_OCTETS_FORMAT = 5;
constexpr size_t ENGINE_ID_RANDOM_OCTETS = 12;
constexpr size_t ENGINE_ID_RANDOM_MIN = 8;
constexpr size_t ENGINE_ID_RANDOM_MAX = 16;

std::string engineIDPrefix(unsigned char format) {
    const uint32_t head = ENGINE_ID_NEW_FORMAT + snmp::ENTERPRISE_NUMBER;
    std::string id;
    for (int shift = 24; shift >= 0; shift -= 8)
        id.push_back(char((head >> shift) & 0xff));
    id.push_back(char(format));
    return id;
}

}  // namespace

std::string formatEngineID(const std::string& text) {
    return engineIDPrefix(ENGINE_ID_TEXT_FORMAT) + text;
}

std::string deformatEngineID(const std::string& id) {
    if (id.compare(0, ENGINE_ID_PREFIX_LENGTH, engineIDPrefix(ENGINE_ID_TEXT_FORMAT)) != 0)
        return {};
    return id.substr(ENGINE_ID_PREFIX_LENGTH);
}

std::string generateEngineID() {
    // The octets need to be unique, not secret: GRND_INSECURE never blocks,
    // also early in a first boot before the kernel's pool is ready; kernels
    // older than 5.6 do not know it and get the ordinary, non-blocking call.
    unsigned char random[ENGINE_ID_RANDOM_OCTETS];
    ssize_t got;
    int flags = GRND_INSECURE;
    do {
        got = getrandom(random, sizeof random, flags);
        if (got < 0 && errno == EINVAL && flags == GRND_INSECURE) {
            flags = GRND_NONBLOCK;
            errno = EINTR;
        }
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof random)) {
        std::cerr << "cannot make an engine ID: no random octets: "
                  << (got < 0 ? strerror(errno) : "short read") << std::endl;
        return {};
    }
    return engineIDPrefix(ENGINE_ID_OCTETS_FORMAT) + std::string(random, random + sizeof random);
}

bool isGeneratedEngineID(const std::string& id) {
    return id.size() >= ENGINE_ID_PREFIX_LENGTH + ENGINE_ID_RANDOM_MIN &&
           id.size() <= ENGINE_ID_PREFIX_LENGTH + ENGINE_ID_RANDOM_MAX &&
           id.compare(0, ENGINE_ID_PREFIX_LENGTH, engineIDPrefix(ENGINE_ID_OCTETS_FORMAT)) == 0;
}
