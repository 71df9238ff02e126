#include "agentx/pdu.h"

#include <algorithm>

namespace agentx {

namespace {

// The bytes of one payload, read front to back in the frame's byte order;
// every read checks the bytes left first, so nothing reads past the frame.
class Reader {
  public:
    Reader(std::span<const uint8_t> bytes, bool networkOrder)
        : bytes_(bytes), networkOrder_(networkOrder) {}

    bool atEnd() const { return at_ == bytes_.size(); }

    bool u8(uint8_t& value) {
        if (bytes_.size() - at_ < 1) return fail(DecodeError::Truncated);
        value = bytes_[at_++];
        return true;
    }
    bool u16(uint16_t& value) {
        uint64_t wide = 0;
        if (!unsignedOf(2, wide)) return false;
        value = static_cast<uint16_t>(wide);
        return true;
    }
    bool u32(uint32_t& value) {
        uint64_t wide = 0;
        if (!unsignedOf(4, wide)) return false;
        value = static_cast<uint32_t>(wide);
        return true;
    }
    bool u64(uint64_t& value) { return unsignedOf(8, value); }
    bool skip(size_t count) {
        if (bytes_.size() - at_ < count) return fail(DecodeError::Truncated);
        at_ += count;
        return true;
    }

    // RFC 2741 5.1: n_subid, prefix, include, reserved, then the sub-identifiers;
    // a non-zero prefix p stands for 1.3.6.1.p before them.
    bool oid(OID& value, bool* include = nullptr) {
        uint8_t count = 0, prefix = 0, includeOctet = 0, reserved = 0;
        if (!u8(count) || !u8(prefix) || !u8(includeOctet) || !u8(reserved)) return false;
        const size_t total = count + (prefix != 0 ? 5 : 0);
        if (total > MAX_OID_ARCS) return fail(DecodeError::BadOid);
        if (bytes_.size() - at_ < size_t(count) * 4) return fail(DecodeError::Truncated);
        uint32_t arcs[MAX_OID_ARCS];
        size_t filled = 0;
        if (prefix != 0) {
            for (uint32_t arc : {1u, 3u, 6u, 1u})
                arcs[filled++] = arc;
            arcs[filled++] = prefix;
        }
        for (size_t i = 0; i < count; ++i)
            u32(arcs[filled++]);
        value.assign(arcs, filled);
        if (include != nullptr) *include = includeOctet != 0;
        return true;
    }

    // RFC 2741 5.3: the length, the octets, padding to a multiple of four.
    bool octets(std::string& value) {
        uint32_t length = 0;
        if (!u32(length)) return false;
        const size_t padded = (size_t(length) + 3) & ~size_t(3);
        if (bytes_.size() - at_ < padded) return fail(DecodeError::Truncated);
        value.assign(reinterpret_cast<const char*>(bytes_.data() + at_), length);
        at_ += padded;
        return true;
    }

    // RFC 2741 5.4.
    bool varBind(VarBind& binding) {
        uint16_t type = 0;
        if (!u16(type) || !skip(2) || !oid(binding.name)) return false;
        binding.type = static_cast<ValueType>(type);
        switch (binding.type) {
            case ValueType::Integer:
            case ValueType::Counter32:
            case ValueType::Gauge32:
            case ValueType::TimeTicks: {
                uint32_t value = 0;
                if (!u32(value)) return false;
                binding.number = value;
                return true;
            }
            case ValueType::Counter64:
                return u64(binding.number);
            case ValueType::OctetString:
            case ValueType::Opaque:
                return octets(binding.octets);
            case ValueType::IpAddress:
                if (!octets(binding.octets)) return false;
                return binding.octets.size() == 4 || fail(DecodeError::BadValueType);
            case ValueType::ObjectIdentifier:
                return oid(binding.oid);
            case ValueType::Null:
            case ValueType::NoSuchObject:
            case ValueType::NoSuchInstance:
            case ValueType::EndOfMibView:
                return true;
        }
        return fail(DecodeError::BadValueType);
    }

    bool varBinds(std::vector<VarBind>& bindings) {
        while (!atEnd()) {
            if (bindings.size() >= MAX_BINDINGS) return fail(DecodeError::TooMany);
            if (!varBind(bindings.emplace_back())) return false;
        }
        return true;
    }

    // RFC 2741 5.2: pairs of OIDs, the start's include flag kept, up to the end.
    bool searchRanges(std::vector<SearchRange>& ranges) {
        while (!atEnd()) {
            if (ranges.size() >= MAX_BINDINGS) return fail(DecodeError::TooMany);
            SearchRange& range = ranges.emplace_back();
            if (!oid(range.start, &range.include) || !oid(range.end)) return false;
        }
        return true;
    }

    DecodeError error() const { return error_; }

  private:
    bool fail(DecodeError error) {
        if (error_ == DecodeError::None) error_ = error;
        return false;
    }
    bool unsignedOf(size_t octets, uint64_t& value) {
        if (bytes_.size() - at_ < octets) return fail(DecodeError::Truncated);
        value = 0;
        for (size_t i = 0; i < octets; ++i) {
            const size_t from = networkOrder_ ? i : octets - 1 - i;
            value = value << 8 | bytes_[at_ + from];
        }
        at_ += octets;
        return true;
    }

    std::span<const uint8_t> bytes_;
    bool networkOrder_;
    size_t at_ = 0;
    DecodeError error_ = DecodeError::None;
};

// RFC 2741 6.2: the PDUs with a context field, present when the flag says so.
bool carriesContext(const Header& header) {
    if ((header.flags & FLAG_NON_DEFAULT_CONTEXT) == 0) return false;
    switch (header.type) {
        case PduType::Open:
        case PduType::Close:
        case PduType::CommitSet:
        case PduType::UndoSet:
        case PduType::CleanupSet:
        case PduType::Response:
            return false;
        default:
            return true;
    }
}

// The payload of `pdu.header.type` (RFC 2741 6.2).
bool readPayload(Reader& in, Pdu& pdu) {
    if (carriesContext(pdu.header) && !in.octets(pdu.context)) return false;
    switch (pdu.header.type) {
        case PduType::Open:
            return in.u8(pdu.timeout) && in.skip(3) && in.oid(pdu.id) &&
                   in.octets(pdu.description);
        case PduType::Close:
            return in.u8(pdu.reason) && in.skip(3);
        case PduType::Register:
        case PduType::Unregister: {
            uint8_t timeout = 0;
            if (!in.u8(timeout) || !in.u8(pdu.priority) || !in.u8(pdu.rangeSubid) ||
                !in.skip(1) || !in.oid(pdu.subtree))
                return false;
            if (pdu.header.type == PduType::Register) pdu.timeout = timeout;
            if (pdu.rangeSubid == 0) return true;
            // RFC 2741 6.2.3: the range replaces the sub-identifier at
            // position range_subid (counted from 1), which must exist.
            if (pdu.rangeSubid > pdu.subtree.size()) return false;
            return in.u32(pdu.upperBound);
        }
        case PduType::Get:
        case PduType::GetNext:
            return in.searchRanges(pdu.ranges);
        case PduType::GetBulk:
            return in.u16(pdu.nonRepeaters) && in.u16(pdu.maxRepetitions) &&
                   in.searchRanges(pdu.ranges);
        case PduType::TestSet:
        case PduType::Notify:
        case PduType::IndexAllocate:
        case PduType::IndexDeallocate:
            return in.varBinds(pdu.bindings);
        case PduType::CommitSet:
        case PduType::UndoSet:
        case PduType::CleanupSet:
        case PduType::Ping:
            return true;
        case PduType::AddAgentCaps:
            return in.oid(pdu.id) && in.octets(pdu.description);
        case PduType::RemoveAgentCaps:
            return in.oid(pdu.id);
        case PduType::Response:
            return in.u32(pdu.sysUpTime) && in.u16(pdu.error) && in.u16(pdu.index) &&
                   in.varBinds(pdu.bindings);
    }
    return false;
}

// Appends integers in one byte order.
class Writer {
  public:
    Writer(std::vector<uint8_t>& out, bool networkOrder) : out_(out), networkOrder_(networkOrder) {}

    void u8(uint8_t value) { out_.push_back(value); }
    void u16(uint16_t value) { unsignedOf(2, value); }
    void u32(uint32_t value) { unsignedOf(4, value); }
    void u64(uint64_t value) { unsignedOf(8, value); }
    void zeros(size_t count) { out_.insert(out_.end(), count, 0); }

    void oid(const OID& value, bool include = false) {
        // The 1.3.6.1.p prefix form where it applies (5.1), as subagents write it.
        static const OID internet{1, 3, 6, 1};
        const bool prefixed = value.size() >= 5 && internet.isPrefixOf(value) && value[4] != 0 &&
                              value[4] <= 255;
        const size_t skipped = prefixed ? 5 : 0;
        const size_t count = std::min(value.size() - skipped, MAX_OID_ARCS);
        u8(static_cast<uint8_t>(count));
        u8(prefixed ? static_cast<uint8_t>(value[4]) : 0);
        u8(include ? 1 : 0);
        u8(0);
        for (size_t i = 0; i < count; ++i)
            u32(value[skipped + i]);
    }
    void octets(const std::string& value) {
        u32(static_cast<uint32_t>(value.size()));
        out_.insert(out_.end(), value.begin(), value.end());
        zeros((4 - value.size() % 4) % 4);
    }
    void varBind(const VarBind& binding) {
        u16(static_cast<uint16_t>(binding.type));
        u16(0);
        oid(binding.name);
        switch (binding.type) {
            case ValueType::Integer:
            case ValueType::Counter32:
            case ValueType::Gauge32:
            case ValueType::TimeTicks:
                u32(static_cast<uint32_t>(binding.number));
                break;
            case ValueType::Counter64:
                u64(binding.number);
                break;
            case ValueType::OctetString:
            case ValueType::IpAddress:
            case ValueType::Opaque:
                octets(binding.octets);
                break;
            case ValueType::ObjectIdentifier:
                oid(binding.oid);
                break;
            default:
                break;
        }
    }

  private:
    void unsignedOf(size_t octets, uint64_t value) {
        for (size_t i = 0; i < octets; ++i) {
            const size_t shift = networkOrder_ ? octets - 1 - i : i;
            out_.push_back(static_cast<uint8_t>(value >> (8 * shift)));
        }
    }

    std::vector<uint8_t>& out_;
    bool networkOrder_;
};

void writePayload(Writer& out, const Pdu& pdu) {
    if (carriesContext(pdu.header)) out.octets(pdu.context);
    switch (pdu.header.type) {
        case PduType::Open:
            out.u8(pdu.timeout);
            out.zeros(3);
            out.oid(pdu.id);
            out.octets(pdu.description);
            break;
        case PduType::Close:
            out.u8(pdu.reason);
            out.zeros(3);
            break;
        case PduType::Register:
        case PduType::Unregister:
            out.u8(pdu.header.type == PduType::Register ? pdu.timeout : 0);
            out.u8(pdu.priority);
            out.u8(pdu.rangeSubid);
            out.u8(0);
            out.oid(pdu.subtree);
            if (pdu.rangeSubid != 0) out.u32(pdu.upperBound);
            break;
        case PduType::GetBulk:
            out.u16(pdu.nonRepeaters);
            out.u16(pdu.maxRepetitions);
            [[fallthrough]];
        case PduType::Get:
        case PduType::GetNext:
            for (const SearchRange& range : pdu.ranges) {
                out.oid(range.start, range.include);
                out.oid(range.end);
            }
            break;
        case PduType::Response:
            out.u32(pdu.sysUpTime);
            out.u16(pdu.error);
            out.u16(pdu.index);
            [[fallthrough]];
        case PduType::TestSet:
        case PduType::Notify:
        case PduType::IndexAllocate:
        case PduType::IndexDeallocate:
            for (const VarBind& binding : pdu.bindings)
                out.varBind(binding);
            break;
        case PduType::AddAgentCaps:
            out.oid(pdu.id);
            out.octets(pdu.description);
            break;
        case PduType::RemoveAgentCaps:
            out.oid(pdu.id);
            break;
        default:
            break;
    }
}

}  // namespace

std::optional<Header> readHeader(std::span<const uint8_t> bytes, DecodeError& error) {
    error = DecodeError::Truncated;
    if (bytes.size() < HEADER_SIZE) return std::nullopt;
    Header header;
    header.version = bytes[0];
    header.type = static_cast<PduType>(bytes[1]);
    header.flags = bytes[2];
    Reader in(bytes.subspan(4, HEADER_SIZE - 4), (header.flags & FLAG_NETWORK_BYTE_ORDER) != 0);
    in.u32(header.sessionID);
    in.u32(header.transactionID);
    in.u32(header.packetID);
    in.u32(header.payloadLength);
    if (header.version != VERSION) {
        error = DecodeError::BadVersion;
        return std::nullopt;
    }
    if (bytes[1] < uint8_t(PduType::Open) || bytes[1] > uint8_t(PduType::Response)) {
        error = DecodeError::BadType;
        return std::nullopt;
    }
    // RFC 2741 6.1: payloads are padded to a multiple of four octets.
    if (header.payloadLength > MAX_PAYLOAD || header.payloadLength % 4 != 0) {
        error = DecodeError::BadLength;
        return std::nullopt;
    }
    error = DecodeError::None;
    return header;
}

DecodeError decode(std::span<const uint8_t> bytes, Pdu& pdu, size_t& used) {
    used = 0;
    DecodeError error = DecodeError::None;
    const std::optional<Header> header = readHeader(bytes, error);
    if (!header) return error;
    if (bytes.size() - HEADER_SIZE < header->payloadLength) return DecodeError::Truncated;
    pdu = Pdu{};
    pdu.header = *header;
    Reader in(bytes.subspan(HEADER_SIZE, header->payloadLength),
              (header->flags & FLAG_NETWORK_BYTE_ORDER) != 0);
    if (!readPayload(in, pdu)) {
        if (in.error() != DecodeError::None) return in.error();
        return pdu.header.type == PduType::Register || pdu.header.type == PduType::Unregister
                   ? DecodeError::BadOid
                   : DecodeError::Truncated;
    }
    if (!in.atEnd()) return DecodeError::BadLength;
    used = HEADER_SIZE + header->payloadLength;
    return DecodeError::None;
}

void encode(const Pdu& pdu, std::vector<uint8_t>& out) {
    const bool networkOrder = (pdu.header.flags & FLAG_NETWORK_BYTE_ORDER) != 0;
    const size_t start = out.size();
    out.push_back(pdu.header.version);
    out.push_back(static_cast<uint8_t>(pdu.header.type));
    out.push_back(pdu.header.flags);
    out.push_back(0);
    Writer writer(out, networkOrder);
    writer.u32(pdu.header.sessionID);
    writer.u32(pdu.header.transactionID);
    writer.u32(pdu.header.packetID);
    const size_t lengthAt = out.size();
    writer.u32(0);
    writePayload(writer, pdu);
    const uint32_t length = static_cast<uint32_t>(out.size() - start - HEADER_SIZE);
    std::vector<uint8_t> lengthBytes;
    Writer(lengthBytes, networkOrder).u32(length);
    std::copy(lengthBytes.begin(), lengthBytes.end(), out.begin() + lengthAt);
}

}  // namespace agentx
