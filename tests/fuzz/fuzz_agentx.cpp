// Bytes a subagent sends the AgentX master: a stream of frames, decoded one
// after the other as the master does. Whatever the bytes, decoding stays
// within them and its bounds, and what decoded encodes to a frame that
// decodes again.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "agentx/pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> stream(data, size);
    agentx::Pdu pdu;
    size_t used = 0;
    while (agentx::decode(stream, pdu, used) == agentx::DecodeError::None) {
        if (used < agentx::HEADER_SIZE || used > stream.size()) __builtin_trap();
        stream = stream.subspan(used);
        std::vector<uint8_t> again;
        agentx::encode(pdu, again);
        agentx::Pdu back;
        size_t usedAgain = 0;
        if (agentx::decode(again, back, usedAgain) != agentx::DecodeError::None ||
            usedAgain != again.size())
            __builtin_trap();
    }
    return 0;
}
