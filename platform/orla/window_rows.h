// The rows of a windowed get-all reply (OBJ_ROWS, platform/orla/ids.h): the
// objects of a handler that lists them by an index, such as the routes of
// a full Internet routing table, in one string field instead of one nested
// message each, so that a window of a thousand rows is one field to decode.
//
// Layout, version 1 (integers most significant octet first):
//
//   octet        version (ROWS_VERSION)
//   then, per row, in the handler's index order:
//     octet      the index's form and arc count: bits 0-6 the count A less
//                one (A is 1 to ROWS_MAX_INDEX_ARCS); bit 7 set when each
//                arc takes one octet (every arc is below 256), else four
//     2 octets   F, the fields' octet count
//     A or 4 A   the index's arcs
//       octets
//     F octets   the row's fields, in the handler's own layout (its header
//                documents it; a later version of it appends fields)
//
// An IPv4 route's row so takes about 30 octets: a window of a thousand
// routes is one field of 30 kB.
//
// RowReader checks every length against what is left, so it never reads
// outside the bytes it is given; a row that does not fit ends the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orla {

inline constexpr uint8_t ROWS_VERSION = 1;
inline constexpr size_t ROWS_MAX_INDEX_ARCS = 128;  // an SNMP OID's limit
inline constexpr size_t ROWS_MAX_FIELD_BYTES = 0xffff;

// Appends rows to a string that starts empty.
class RowWriter {
  public:
    explicit RowWriter(std::string& out) : out_(out) {}
    // Appends one row; false, appending nothing, when the index has no arc
    // or more than ROWS_MAX_INDEX_ARCS, or the fields are too long.
    bool add(const uint32_t* arcs, size_t arcCount, std::string_view fields);

  private:
    std::string& out_;
};

// Reads the rows RowWriter wrote, in order.
class RowReader {
  public:
    explicit RowReader(std::string_view bytes);
    // The next row: its `arcCount` arcs into `arcs`, its fields as a view of
    // the bytes. False at the end of the rows, or at a row that does not
    // fit (then malformed() is true; so it is for an unknown version).
    bool next(uint32_t (&arcs)[ROWS_MAX_INDEX_ARCS], size_t& arcCount, std::string_view& fields);
    bool malformed() const { return malformed_; }

  private:
    std::string_view rest_;
    bool malformed_ = false;
};

}  // namespace orla
