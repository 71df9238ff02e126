// The reply of a windowed get-all (platform/orla/ids.h: OBJ_AFTER, OBJ_FROM,
// OBJ_ROWS) from a handler's list of objects sorted by their index, for
// the services that list large tables a window at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/message.h"
#include "platform/orla/window_rows.h"

namespace orla {

// The reply to `request` from `sorted`, which is in the order of
// indexOf(item) (a std::vector<uint32_t>), each index once: the items after
// OBJ_AFTER, or from OBJ_FROM on, or from the first, at most `page` of them,
// as the rows of OBJ_ROWS with fieldsOf(item) as their fields; OBJ_AFTER
// names the last one when more follow.
template <class Item, class IndexOf, class FieldsOf>
message windowReply(std::span<const Item> sorted, const message& request, size_t page,
                    IndexOf indexOf, FieldsOf fieldsOf) {
    const bool after = request.has(OBJ_AFTER);
    const bool from = !after && request.has(OBJ_FROM);
    auto first = sorted.begin();
    if (after || from) {
        const std::vector<uint32_t> bound = request.get(after ? OBJ_AFTER : OBJ_FROM);
        first = std::partition_point(sorted.begin(), sorted.end(), [&](const Item& item) {
            return after ? indexOf(item) <= bound : indexOf(item) < bound;
        });
    }
    page = std::min<size_t>(page, static_cast<size_t>(sorted.end() - first));
    std::string rows;
    RowWriter writer(rows);
    for (auto it = first; it != first + page; ++it) {
        const std::vector<uint32_t> index = indexOf(*it);
        writer.add(index.data(), index.size(), fieldsOf(*it));
    }
    message reply;
    reply.insert(OBJ_ROWS, std::move(rows));
    if (first + page != sorted.end() && page > 0) {
        reply.insert(OBJ_AFTER, indexOf(*(first + page - 1)));
    }
    return reply;
}

}  // namespace orla
