// libFuzzer target: decoding hostile bytes as a flattened message never
// crashes, and whatever decodes flattens back to the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/orla/message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    orla::message msg;
    if (!orla::message::unflatten(bytes, msg)) return 0;
    if (msg.flatten().bytes != bytes) abort();
    for (const auto& field : msg.fields()) {
        if (const auto* elements = std::get_if<std::vector<orla::flat_message>>(&field.value)) {
            for (const auto& element : *elements) {
                orla::message nested;
                if (!orla::message::unflatten(element.bytes, nested)) abort();
            }
        }
    }
    std::ostringstream printed;
    printed << msg;
    return 0;
}
