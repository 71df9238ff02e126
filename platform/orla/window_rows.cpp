#include "platform/orla/window_rows.h"

#include <algorithm>

namespace orla {

namespace {

constexpr size_t ROW_HEADER_BYTES = 3;
constexpr uint8_t OCTET_ARCS = 0x80;  // in a row's first octet

uint32_t readU32(const unsigned char* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

}  // namespace

bool RowWriter::add(const uint32_t* arcs, size_t arcCount, std::string_view fields) {
    if (arcCount == 0 || arcCount > ROWS_MAX_INDEX_ARCS || fields.size() > ROWS_MAX_FIELD_BYTES) {
        return false;
    }
    const bool octets = std::all_of(arcs, arcs + arcCount, [](uint32_t arc) { return arc < 256; });
    if (out_.empty()) out_.push_back(static_cast<char>(ROWS_VERSION));
    out_.push_back(static_cast<char>((octets ? OCTET_ARCS : 0) | (arcCount - 1)));
    out_.push_back(static_cast<char>(fields.size() >> 8));
    out_.push_back(static_cast<char>(fields.size()));
    for (size_t i = 0; i < arcCount; ++i) {
        if (octets) {
            out_.push_back(static_cast<char>(arcs[i]));
            continue;
        }
        const char arc[4] = {static_cast<char>(arcs[i] >> 24), static_cast<char>(arcs[i] >> 16),
                             static_cast<char>(arcs[i] >> 8), static_cast<char>(arcs[i])};
        out_.append(arc, sizeof arc);
    }
    out_.append(fields);
    return true;
}

RowReader::RowReader(std::string_view bytes) {
    // No rows at all may come as no bytes at all.
    if (bytes.empty()) return;
    if (static_cast<uint8_t>(bytes[0]) != ROWS_VERSION) {
        malformed_ = true;
        return;
    }
    rest_ = bytes.substr(1);
}

bool RowReader::next(uint32_t (&arcs)[ROWS_MAX_INDEX_ARCS], size_t& arcCount,
                     std::string_view& fields) {
    if (rest_.empty()) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(rest_.data());
    if (rest_.size() < ROW_HEADER_BYTES) {
        malformed_ = true;
        rest_ = {};
        return false;
    }
    const bool octets = (at[0] & OCTET_ARCS) != 0;
    const size_t count = size_t(at[0] & ~OCTET_ARCS) + 1;
    const size_t fieldBytes = size_t(at[1]) << 8 | at[2];
    const size_t indexBytes = octets ? count : 4 * count;
    if (rest_.size() - ROW_HEADER_BYTES < indexBytes + fieldBytes) {
        malformed_ = true;
        rest_ = {};
        return false;
    }
    at += ROW_HEADER_BYTES;
    if (octets) {
        // Four at a time: most indexes are a dozen octets or more.
        size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            arcs[i] = at[i];
            arcs[i + 1] = at[i + 1];
            arcs[i + 2] = at[i + 2];
            arcs[i + 3] = at[i + 3];
        }
        for (; i < count; ++i)
            arcs[i] = at[i];
    } else {
        for (size_t i = 0; i < count; ++i, at += 4)
            arcs[i] = readU32(at);
    }
    arcCount = count;
    fields = rest_.substr(ROW_HEADER_BYTES + indexBytes, fieldBytes);
    rest_.remove_prefix(ROW_HEADER_BYTES + indexBytes + fieldBytes);
    return true;
}

}  // namespace orla
