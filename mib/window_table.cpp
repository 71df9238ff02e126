#include "mib/window_table.h"

#include <malloc.h>

#include <algorithm>
#include <string>
#include <variant>

#include "mib/platform_exchange.h"
#include "platform/orla/ids.h"
#include "platform/orla/window_rows.h"

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

WindowTable::WindowTable(Make make, Parse parse, std::vector<uint32_t> const& path,
                         uint32_t windowRows)
    : CacheUpdateTimeout(25, 200),
      make_(make),
      parse_(parse),
      path_(path),
      windowRows_(std::max<uint32_t>(windowRows, 1)) {
    // Places never move: a window found stays where it is while it is read.
    windows_.reserve(MAX_WINDOWS);
}

WindowTable::~WindowTable() {
    clearCache();
}

void WindowTable::clearCache() {
    const bool held = !windows_.empty();
    for (Window& window : windows_) {
        for (Row& slot : window.slots)
            delete slot.second;
    }
    windows_.clear();
#ifdef __GLIBC__
    // The windows' records leave whole pages free inside the heap, which
    // glibc keeps unless asked: give them back, so an agent that served a
    // walk of a large table returns to its usual size.
    if (held) malloc_trim(0);
#endif
}

void WindowTable::updateCache() {
    read(freePlace(), wantedBound_, wanted_);
}

WindowTable::Window& WindowTable::freePlace() {
    if (windows_.size() < MAX_WINDOWS) return windows_.emplace_back();
    return *std::min_element(
        windows_.begin(), windows_.end(),
        [](Window const& a, Window const& b) { return a.lastUse < b.lastUse; });
}

WindowTable::Window& WindowTable::use(Window& window) {
    window.lastUse = ++uses_;
    return window;
}

void WindowTable::read(Window& window, Bound bound, OID const& index) {
    use(window);
    // The records stay for the next window; the rows go.
    window.rowCount = 0;
    window.answered = 0;
    window.read = false;
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
    std::vector<Row>& slots = window.slots;
    size_t& rowCount = window.rowCount;
    for (uint32_t listed = 0; listed < windowRows_ && reader.next(rowArcs, arcCount, fields);
         ++listed) {
        if (rowCount == slots.size()) {
            Data* rec = make_();
            if (!rec) break;
            slots.emplace_back(OID(), rec);
        }
        Row& row = slots[rowCount];
        row.first.assign(rowArcs, arcCount);
        // Rows before the window's start would make it answer for rows it
        // does not hold; in a window listed in order, only the first can be.
        const bool afterPrevious = rowCount > 0 && slots[rowCount - 1].first < row.first;
        const bool inWindow = bound == Bound::Start || (ordered && afterPrevious) ||
                              index < row.first || (bound == Bound::From && index == row.first);
        if (!inWindow || !parse_(row.first, fields, row.second)) continue;
        if (rowCount > 0 && !afterPrevious) ordered = false;
        ++rowCount;
    }
    if (!ordered) sortRows(window);

    window.bound = bound;
    window.first = index;
    window.complete = !reply.has(orla::OBJ_AFTER);
    const std::vector<uint32_t> last = reply.get(orla::OBJ_AFTER);
    window.last = OID(last.data(), last.size());
    if (rowCount > 0 && window.last < slots[rowCount - 1].first)
        window.last = slots[rowCount - 1].first;
    window.read = true;
}

void WindowTable::sortRows(Window& window) {
    std::vector<Row>& slots = window.slots;
    const auto rows = slots.begin() + static_cast<std::ptrdiff_t>(window.rowCount);
    std::stable_sort(slots.begin(), rows,
                     [](Row const& a, Row const& b) { return a.first < b.first; });
    // A row listed again moves behind the rows, where its slot waits for
    // the next window.
    size_t kept = 0;
    for (size_t i = 1; i < window.rowCount; ++i) {
        if (slots[i].first == slots[kept].first) continue;
        if (++kept != i) std::swap(slots[kept], slots[i]);
    }
    window.rowCount = kept + 1;
}

bool WindowTable::Window::holdsRowsAfter(OID const& index) const {
    return read && (bound == Bound::Start || first <= index);
}

bool WindowTable::Window::covers(OID const& index) const {
    const bool startsBefore =
        bound == Bound::Start || first < index || (bound == Bound::From && first == index);
    return read && startsBefore && (complete || index <= last);
}

bool WindowTable::Window::answersNext(OID const& index) const {
    return holdsRowsAfter(index) && (complete || index < last);
}

Data* WindowTable::get(OID const& index) {
    wantedBound_ = Bound::From;
    wanted_ = index;
    accessData();
    Window* window = nullptr;
    for (Window& held : windows_) {
        if (!held.covers(index)) continue;
        window = &use(held);
        break;
    }
    if (!window) {
        window = &freePlace();
        read(*window, Bound::From, index);
    }
    const auto end = window->slots.begin() + static_cast<std::ptrdiff_t>(window->rowCount);
    const auto row = std::lower_bound(window->slots.begin(), end, index, indexBefore);
    return row != end && row->first == index ? row->second : nullptr;
}

std::pair<OID, Data*> WindowTable::getNext(OID const& index) {
    wantedBound_ = index.empty() ? Bound::Start : Bound::After;
    wanted_ = index;
    accessData();
    // A walk asks for the row after the one it was given last.
    for (Window& window : windows_) {
        if (window.read && window.answered + 1 < window.rowCount &&
            window.slots[window.answered].first == index) {
            use(window);
            return window.slots[++window.answered];
        }
    }
    OID at = index;
    for (unsigned reads = 0; reads <= MAX_READS_PER_REQUEST; ++reads) {
        // A window that holds the answer; else the window whose end the walk
        // has reached, which the window that follows replaces; else a free
        // place. So a walk keeps to one place, and walks elsewhere in the
        // table keep theirs.
        Window* answering = nullptr;
        Window* reachedEnd = nullptr;
        for (Window& window : windows_) {
            if (window.answersNext(at)) answering = &window;
            if (window.holdsRowsAfter(at) && !window.complete && at == window.last)
                reachedEnd = &window;
        }
        if (!answering) {
            answering = reachedEnd ? reachedEnd : &freePlace();
            read(*answering, at.empty() ? Bound::Start : Bound::After, at);
            if (!answering->read) break;
        }
        Window& window = use(*answering);
        const auto end = window.slots.begin() + static_cast<std::ptrdiff_t>(window.rowCount);
        const auto row = std::upper_bound(window.slots.begin(), end, at, indexAfter);
        if (row != end) {
            window.answered = static_cast<size_t>(row - window.slots.begin());
            return *row;
        }
        if (window.complete) break;
        // The rows that follow lie past the window: the next one takes its place.
        if (at < window.last) at = window.last;
        read(window, Bound::After, at);
        if (!window.read) break;
    }
    return {OID(), nullptr};
}

bool WindowTable::commit(OID const&, Data*) {
    return false;
}

bool WindowTable::acceptsWrites(OID const&) {
    return false;
}

unsigned WindowTable::count() {
    const orla::message reply = exchangeWithPlatform(platformRequest(orla::CMD_GETCOUNT, path_));
    return orla::isError(reply) ? 0 : reply.get(orla::OBJ_COUNT, 0);
}
