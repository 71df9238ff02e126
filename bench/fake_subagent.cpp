// fake_subagent: an AgentX subagent for the benchmarks (bench/agentx.sh),
// the counterpart of fake_rows for the master. It registers 1.3.6.1.3.9997
// and serves, in benchmib's shape,
//
//   .1.0        a constant INTEGER scalar
//   .2.1.C.I    a table of ROWS rows: C = 1 id (INTEGER), 2 name (OCTET
//               STRING), 3 packets (Counter32)
//
// It answers each Get and GetNext at once, blocking on its socket: what a
// request costs the agent is measured, not what it costs the subagent.
//
//   fake_subagent SOCKET ROWS
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "agentx/pdu.h"

using namespace agentx;

namespace {

const OID ROOT("1.3.6.1.3.9997");
const OID SCALAR("1.3.6.1.3.9997.1.0");
constexpr uint32_t COLUMNS = 3;
uint32_t rows = 0;

OID column(uint32_t c) {
    OID prefix = ROOT;
    prefix += OID{2, 1, c};
    return prefix;
}

std::optional<VarBind> instance(const OID& name) {
    VarBind binding;
    binding.name = name;
    if (name == SCALAR) {
        binding.type = ValueType::Integer;
        binding.number = 42;
        return binding;
    }
    for (uint32_t c = 1; c <= COLUMNS; ++c) {
        const OID prefix = column(c);
        if (name.size() != prefix.size() + 1 || !prefix.isPrefixOf(name)) continue;
        const uint32_t row = name.back();
        if (row < 1 || row > rows) return std::nullopt;
        binding.type = c == 1 ? ValueType::Integer : c == 2 ? ValueType::OctetString : ValueType::Counter32;
        binding.number = row;
        if (c == 2) binding.octets = "row " + std::to_string(row);
        return binding;
    }
    return std::nullopt;
}

// The first instance after `start` (or at it, with `include`).
std::optional<OID> next(const OID& start, bool include) {
    auto after = [&](const OID& name) { return include ? name >= start : name > start; };
    if (after(SCALAR)) return SCALAR;
    for (uint32_t c = 1; c <= COLUMNS; ++c) {
        const OID prefix = column(c);
        uint64_t row = 1;
        if (prefix.isPrefixOf(start) && start.size() > prefix.size()) {
            row = start[prefix.size()];
            if (start.size() > prefix.size() + 1 || !include) ++row;
        } else if (start > prefix) {
            continue;  // past the column
        }
        if (row == 0) row = 1;
        if (row <= rows) {
            OID name = prefix;
            name += static_cast<uint32_t>(row);
            return name;
        }
    }
    return std::nullopt;
}

bool sendPdu(int fd, const Pdu& pdu) {
    std::vector<uint8_t> bytes;
    encode(pdu, bytes);
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

std::optional<Pdu> receive(int fd, std::vector<uint8_t>& input) {
    for (;;) {
        Pdu pdu;
        size_t used = 0;
        const DecodeError error = decode(input, pdu, used);
        if (error == DecodeError::None) {
            input.erase(input.begin(), input.begin() + static_cast<long>(used));
            return pdu;
        }
        if (error != DecodeError::Truncated) return std::nullopt;
        uint8_t chunk[65536];
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) return std::nullopt;
        input.insert(input.end(), chunk, chunk + got);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fake_subagent SOCKET ROWS\n");
        return 2;
    }
    rows = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[1]);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> input;
    Pdu open;
    open.header.type = PduType::Open;
    open.description = "fake_subagent";
    if (!sendPdu(fd, open)) return 1;
    const std::optional<Pdu> opened = receive(fd, input);
    if (!opened || opened->error != 0) return 1;
    Pdu reg;
    reg.header.type = PduType::Register;
    reg.header.sessionID = opened->header.sessionID;
    reg.header.packetID = 2;
    reg.priority = 127;
    reg.subtree = ROOT;
    if (!sendPdu(fd, reg)) return 1;
    for (;;) {
        std::optional<Pdu> request = receive(fd, input);
        if (!request) return 0;
        if (request->header.type == PduType::Response) continue;
        Pdu response;
        response.header = request->header;
        response.header.type = PduType::Response;
        // RFC 2741 7.2.3.3: a GetBulk's repeaters, repetition after repetition.
        const bool bulk = request->header.type == PduType::GetBulk;
        std::vector<SearchRange> ranges = request->ranges;
        const size_t repetitions = bulk ? std::max<size_t>(request->maxRepetitions, 1) : 1;
        for (size_t repetition = 0; repetition < repetitions; ++repetition) {
            for (SearchRange& range : ranges) {
                std::optional<VarBind> binding;
                if (request->header.type == PduType::Get) {
                    binding = instance(range.start);
                } else if (std::optional<OID> name = next(range.start, range.include)) {
                    if (range.end.empty() || *name < range.end) binding = instance(*name);
                }
                if (!binding) {
                    binding = VarBind{};
                    binding->name = range.start;
                    binding->type = request->header.type == PduType::Get ? ValueType::NoSuchObject
                                                                         : ValueType::EndOfMibView;
                }
                range.start = binding->name;
                range.include = false;
                response.bindings.push_back(std::move(*binding));
            }
        }
        if (!sendPdu(fd, response)) return 0;
    }
}
