#include "mib/window_table.h"

#include <algorithm>
#include <string>
#include <variant>

#include "mib/get_all.h"
#include "platform/orla/ids.h"
#include "platform/orla/window_rows.h"

namespace {

// Windows one request may read: more than one only when the parse function
// turned whole windows away, or the handler names a window end that does
// not move on; past this the table ends there.
constexpr unsigned MAX_READS_PER_REQUEST = 16;

using Row = std::pair<OID, Data*>;

bool indexBefore(Row const& row, OID const& index) {
    return row.first < index;
}

bool indexAfter(OID const& index, Row const& row) {
    return index < row.first;
}

}  // namespace

WindowTable::WindowTable(Make make, Parse parse, std::vector<uint32_t> const& path,
                         uint32_t windowRows)
    : CacheUpdateTimeout(25, 200),
      make_(make),
      parse_(parse),
      path_(path),
      windowRows_(std::max<uint32_t>(windowRows, 1)) {}

WindowTable::~WindowTable() {
    for (Row& slot : slots_)
        delete slot.second;
}

void WindowTable::clearCache() {
    for (Row& slot : slots_)
        delete slot.second;
    std::vector<Row>().swap(slots_);
    rowCount_ = 0;
    answered_ = 0;
    read_ = false;
}

void WindowTable::updateCache() {
    read(wantedBound_, wanted_);
}

void WindowTable::read(Bound bound, OID const& index) {
    // The records stay for the next window; the rows go.
    rowCount_ = 0;
    answered_ = 0;
    read_ = false;
    orla::message request = platformRequest(orla::CMD_GETALL, path_);
    request.insert(orla::OBJ_PAGE_SIZE, windowRows_);
    const std::vector<uint32_t> arcs(index.begin(), index.end());
    if (bound == Bound::After) request.insert(orla::OBJ_AFTER, arcs);
    if (bound == Bound::From) request.insert(orla::OBJ_FROM, arcs);
    const orla::message reply = exchangeWithPlatform(request);
    if (orla::isError(reply)) return;

    // The rows are read in place; a handler that lists more than it was
    // asked for is cut at the window, and a row that does not decode ends it.
    std::string_view bytes;
    for (orla::message::Field const& field : reply.fields()) {
        if (field.key != orla::OBJ_ROWS.raw()) continue;
        if (const auto* rows = std::get_if<std::string>(&field.value)) bytes = *rows;
        break;
    }
    orla::RowReader reader(bytes);
    uint32_t rowArcs[orla::ROWS_MAX_INDEX_ARCS];
    size_t arcCount = 0;
    std::string_view fields;
    bool ordered = true;
    for (uint32_t listed = 0; listed < windowRows_ && reader.next(rowArcs, arcCount, fields);
         ++listed) {
        if (rowCount_ == slots_.size()) {
            Data* rec = make_();
            if (!rec) break;
            slots_.emplace_back(OID(), rec);
        }
        Row& row = slots_[rowCount_];
        row.first.assign(rowArcs, arcCount);
        // Rows before the window's start would make it answer for rows it
        // does not hold; in a window listed in order, only the first can be.
        const bool afterPrevious = rowCount_ > 0 && slots_[rowCount_ - 1].first < row.first;
        const bool inWindow = bound == Bound::Start || (ordered && afterPrevious) ||
                              index < row.first || (bound == Bound::From && index == row.first);
        if (!inWindow || !parse_(row.first, fields, row.second)) continue;
        if (rowCount_ > 0 && !afterPrevious) ordered = false;
        ++rowCount_;
    }
    if (!ordered) sortRows();

    bound_ = bound;
    first_ = index;
    complete_ = !reply.has(orla::OBJ_AFTER);
    const std::vector<uint32_t> last = reply.get(orla::OBJ_AFTER);
    last_ = OID(last.data(), last.size());
    if (rowCount_ > 0 && last_ < slots_[rowCount_ - 1].first) last_ = slots_[rowCount_ - 1].first;
    read_ = true;
}

void WindowTable::sortRows() {
    const auto rows = slots_.begin() + static_cast<std::ptrdiff_t>(rowCount_);
    std::stable_sort(slots_.begin(), rows,
                     [](Row const& a, Row const& b) { return a.first < b.first; });
    // A row listed again moves behind the rows, where its slot waits for
    // the next window.
    size_t kept = 0;
    for (size_t i = 1; i < rowCount_; ++i) {
        if (slots_[i].first == slots_[kept].first) continue;
        if (++kept != i) std::swap(slots_[kept], slots_[i]);
    }
    rowCount_ = kept + 1;
}

bool WindowTable::holdsRowsAfter(OID const& index) const {
    return read_ && (bound_ == Bound::Start || first_ <= index);
}

bool WindowTable::covers(OID const& index) const {
    const bool startsBefore =
        bound_ == Bound::Start || first_ < index || (bound_ == Bound::From && first_ == index);
    return read_ && startsBefore && (complete_ || index <= last_);
}

Data* WindowTable::get(OID const& index) {
    wantedBound_ = Bound::From;
    wanted_ = index;
    accessData();
    if (!covers(index)) read(Bound::From, index);
    const auto end = slots_.begin() + static_cast<std::ptrdiff_t>(rowCount_);
    const auto row = std::lower_bound(slots_.begin(), end, index, indexBefore);
    return row != end && row->first == index ? row->second : nullptr;
}

std::pair<OID, Data*> WindowTable::getNext(OID const& index) {
    wantedBound_ = index.empty() ? Bound::Start : Bound::After;
    wanted_ = index;
    accessData();
    // A walk asks for the row after the one it was given last.
    if (read_ && answered_ + 1 < rowCount_ && slots_[answered_].first == index) {
        return slots_[++answered_];
    }
    OID at = index;
    for (unsigned reads = 0; reads <= MAX_READS_PER_REQUEST; ++reads) {
        if (!holdsRowsAfter(at)) {
            read(at.empty() ? Bound::Start : Bound::After, at);
            if (!read_) break;
        }
        const auto end = slots_.begin() + static_cast<std::ptrdiff_t>(rowCount_);
        const auto row = std::upper_bound(slots_.begin(), end, at, indexAfter);
        if (row != end) {
            answered_ = static_cast<size_t>(row - slots_.begin());
            return *row;
        }
        if (complete_) break;
        // The rows that follow lie past the window: read the next one.
        if (at < last_) at = last_;
        read(Bound::After, at);
        if (!read_) break;
    }
    return {OID(), nullptr};
}

int WindowTable::set(OID const&, Data*) {
    return 0;
}

bool WindowTable::acceptsWrites(OID const&) {
    return false;
}

unsigned WindowTable::count() {
    const orla::message reply =
        exchangeWithPlatform(platformRequest(orla::CMD_GETCOUNT, path_));
    return orla::isError(reply) ? 0 : reply.get(orla::OBJ_COUNT, 0);
}
