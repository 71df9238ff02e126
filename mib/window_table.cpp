#include "mib/window_table.h"

#include <algorithm>
#include <variant>

#include "mib/get_all.h"
#include "platform/orla/ids.h"

namespace {

// Windows one request may read: more than one only when the parse function
// turned whole windows away, or the handler names a window end that does
// not move on; past this the table ends there.
constexpr unsigned MAX_READS_PER_REQUEST = 16;

bool indexBefore(std::pair<OID, Data*> const& row, OID const& index) {
    return row.first < index;
}

bool indexAfter(OID const& index, std::pair<OID, Data*> const& row) {
    return index < row.first;
}

}  // namespace

WindowTable::WindowTable(Parse parse, std::vector<uint32_t> const& path, uint32_t windowRows)
    : CacheUpdateTimeout(25, 200),
      parse_(parse),
      path_(path),
      windowRows_(std::max<uint32_t>(windowRows, 1)) {}

WindowTable::~WindowTable() {
    for (auto& row : rows_)
        delete row.second;
}

void WindowTable::addIndex(Packer* packer) {
    indexes_.push_back(packer);
}

OID WindowTable::getKey(Data const* rec) const {
    OID key;
    for (const Packer* packer : indexes_)
        key += packer->getAsKey(rec);
    return key;
}

void WindowTable::clearCache() {
    for (auto& row : rows_)
        delete row.second;
    std::vector<std::pair<OID, Data*>>().swap(rows_);
    read_ = false;
}

void WindowTable::updateCache() {
    read(wantedBound_, wanted_);
}

void WindowTable::read(Bound bound, OID const& index) {
    clearCache();
    orla::message request;
    request.insert(orla::MSG_CMD, orla::CMD_GETALL);
    request.insert(orla::MSG_TO, path_);
    request.insert(orla::OBJ_PAGE_SIZE, windowRows_);
    const std::vector<uint32_t> arcs(index.begin(), index.end());
    if (bound == Bound::After) request.insert(orla::OBJ_AFTER, arcs);
    if (bound == Bound::From) request.insert(orla::OBJ_FROM, arcs);
    const orla::message reply = exchangeWithPlatform(request);
    if (orla::isError(reply)) return;

    std::vector<Data*> records;
    records.reserve(windowRows_);
    // The list is read in place and each object decoded into one message:
    // a window costs no copy of its objects. A handler that lists more than
    // it was asked for is cut at the window.
    orla::message object;
    for (orla::message::Field const& field : reply.fields()) {
        if (field.key != orla::OBJ_LIST.raw()) continue;
        const auto* objects = std::get_if<std::vector<orla::flat_message>>(&field.value);
        if (!objects) break;
        for (size_t i = 0; i < objects->size() && i < windowRows_; ++i) {
            if (orla::message::unflatten((*objects)[i].bytes, object)) parse_(object, &records);
        }
        break;
    }
    rows_.reserve(records.size());
    for (Data* rec : records) {
        if (!rec) continue;
        OID key = getKey(rec);
        // Rows before the window's start would make it answer for rows it
        // does not hold.
        const bool inWindow =
            bound == Bound::Start || index < key || (bound == Bound::From && index == key);
        if (inWindow) {
            rows_.emplace_back(std::move(key), rec);
        } else {
            delete rec;
        }
    }
    // Handlers list in strictly increasing index order; sorting, and
    // dropping a row listed twice (the first listed stays), are for one
    // that does not.
    auto before = [](auto const& a, auto const& b) { return a.first < b.first; };
    auto notBefore = [](auto const& a, auto const& b) { return !(a.first < b.first); };
    if (std::adjacent_find(rows_.begin(), rows_.end(), notBefore) != rows_.end()) {
        std::stable_sort(rows_.begin(), rows_.end(), before);
        size_t kept = 0;
        for (size_t i = 1; i < rows_.size(); ++i) {
            if (rows_[i].first == rows_[kept].first) {
                delete rows_[i].second;
            } else if (++kept != i) {
                rows_[kept] = std::move(rows_[i]);
            }
        }
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(kept + 1), rows_.end());
    }

    bound_ = bound;
    first_ = index;
    complete_ = !reply.has(orla::OBJ_AFTER);
    const std::vector<uint32_t> last = reply.get(orla::OBJ_AFTER);
    last_ = OID(last.data(), last.size());
    if (!rows_.empty() && last_ < rows_.back().first) last_ = rows_.back().first;
    read_ = true;
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
    const auto row = std::lower_bound(rows_.begin(), rows_.end(), index, indexBefore);
    return row != rows_.end() && row->first == index ? row->second : nullptr;
}

std::pair<OID, Data*> WindowTable::getNext(OID const& index) {
    wantedBound_ = index.empty() ? Bound::Start : Bound::After;
    wanted_ = index;
    accessData();
    OID at = index;
    for (unsigned reads = 0; reads <= MAX_READS_PER_REQUEST; ++reads) {
        if (!holdsRowsAfter(at)) {
            read(at.empty() ? Bound::Start : Bound::After, at);
            if (!read_) break;
        }
        const auto row = std::upper_bound(rows_.begin(), rows_.end(), at, indexAfter);
        if (row != rows_.end()) return *row;
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
    orla::message request;
    request.insert(orla::MSG_CMD, orla::CMD_GETCOUNT);
    request.insert(orla::MSG_TO, path_);
    const orla::message reply = exchangeWithPlatform(request);
    return orla::isError(reply) ? 0 : reply.get(orla::OBJ_COUNT, 0);
}
