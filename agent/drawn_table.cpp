#include "agent/drawn_table.h"

void appendString(OID& index, const std::string& value, bool implied) {
    if (!implied) index += static_cast<uint32_t>(value.size());
    for (unsigned char octet : value)
        index += octet;
}

void appendOID(OID& index, const OID& value) {
    index += static_cast<uint32_t>(value.size());
    index += value;
}

void addCell(Cells& cells, uint32_t column, const OID& index, Cell cell) {
    OID name{1, column};  // the entry, then the column
    name += index;
    cells.emplace(std::move(name), std::move(cell));
}

namespace {

bool answer(Context& ctx, const std::pair<const OID, Cell>& cell) {
    ctx.name += cell.first;
    ctx.out.addOID(ctx.name);
    const Cell& value = cell.second;
    if (value.tag == ber::OCTET_STRING) {
        ctx.out.add(value.text, ber::OCTET_STRING);
    } else if (value.tag == ber::OBJECT_IDENTIFIER) {
        ctx.out.addOID(value.oid, ber::OBJECT_IDENTIFIER);
    } else {
        ctx.out.add(value.number, ber::INTEGER);
    }
    return true;
}

}  // namespace

bool DrawnTable::get(Context& ctx) {
    Cells cells;
    draw_(cells);
    const auto found = cells.find(ctx.oid);
    return found != cells.end() && answer(ctx, *found);
}

bool DrawnTable::getNext(Context& ctx) {
    Cells cells;
    draw_(cells);
    const auto found = cells.upper_bound(ctx.oid);
    return found != cells.end() && answer(ctx, *found);
}
