// Bytes the platform side takes from its peers: the rtnetlink dump replies
// the IP service reads from the kernel, the link dumps and notifications the
// interface service reads, and the route windows the agent reads from the
// IP service. The first octet picks the parser; the rest is
// its input. Whatever the bytes, parsing must stay within them and within
// its bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "platform/ifaced/interface_reader.h"
#include "platform/ipd/rtnetlink.h"
#include "platform/orla/window_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> input(data + 1, size - 1);
    // The dump's sequence number: the first message's own (nlmsg_seq, at
    // octet 8), so that the fuzzer reaches the messages' content.
    uint32_t seq = 0;
    if (input.size() >= 12) std::memcpy(&seq, input.data() + 8, sizeof seq);
    switch (data[0] % 4) {
        case 0: {
            std::vector<ipd::AddressInfo> addresses;
            ipd::parseAddresses(input, seq, addresses);
            break;
        }
        case 1: {
            std::vector<ipd::RouteInfo> routes;
            ipd::parseRoutes(input, seq, routes);
            break;
        }
        case 2: {
            std::vector<ifaced::LinkMessage> links;
            ifaced::parseLinks(input, seq, links);
            ifaced::parseLinks(input, std::nullopt, links);
            break;
        }
        default: {
            orla::RowReader reader(
                std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
            uint32_t arcs[orla::ROWS_MAX_INDEX_ARCS];
            size_t arcCount = 0;
            std::string_view fields;
            while (reader.next(arcs, arcCount, fields)) {
                if (arcCount > orla::ROWS_MAX_INDEX_ARCS ||
                    fields.data() < reinterpret_cast<const char*>(input.data()) ||
                    fields.data() + fields.size() >
                        reinterpret_cast<const char*>(input.data() + input.size()))
                    __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
