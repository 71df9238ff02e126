// fake_routes: a stand-in IP service that feeds the benchmark plug-in's
// route tables (bench/plugin/benchmib.cpp) the way orla-ipd feeds the
// IP-FORWARD-MIB plug-in (platform/ipd/ip_object.h): service 213, handler K
// (1, 2, ...) lists the K-th count of routes given on the command line, a
// window at a time after OBJ_AFTER or from OBJ_FROM:
//
//   fake_routes 1000000 100
//
// Route I is 1.0.0.0 + 256 I /24 via 192.0.2.(I % 250 + 1) on interface 2,
// so routes are in index order by I and are made when listed: a million
// routes cost no memory here.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/fake_service.h"
#include "platform/ipd/ip_object.h"
#include "platform/orla/ids.h"
#include "platform/orla/window_rows.h"

namespace {

constexpr uint32_t SERVICE = 213;
constexpr uint32_t DEFAULT_PAGE = 64;
constexpr uint32_t MAX_PAGE = 1024;
constexpr unsigned long MAX_ROUTES = 4'000'000;

std::string octets(uint32_t address) {
    return {static_cast<char>(address >> 24), static_cast<char>(address >> 16),
            static_cast<char>(address >> 8), static_cast<char>(address)};
}

std::string destOf(uint32_t route) {
    return octets(0x01000000u + (route << 8));
}

std::string nextHopOf(uint32_t route) {
    return octets(0xc0000200u + route % 250 + 1);
}

std::vector<uint32_t> indexOf(uint32_t route) {
    return ipd::routeIndex(destOf(route), 24, nextHopOf(route));
}

class Routes : public bench::CountedHandler {
  public:
    using CountedHandler::CountedHandler;

    orla::message cmdGetAll(const orla::message& request, uint32_t, uint32_t pageSize) override {
        const bool after = request.has(orla::OBJ_AFTER);
        uint32_t first = 0;
        if (after || request.has(orla::OBJ_FROM)) {
            const std::vector<uint32_t> bound =
                request.get(after ? orla::OBJ_AFTER : orla::OBJ_FROM);
            // The first route not before the bound, by bisection on I.
            uint32_t low = 0, high = count_;
            while (low < high) {
                const uint32_t middle = low + (high - low) / 2;
                const std::vector<uint32_t> index = indexOf(middle);
                if (after ? index <= bound : index < bound) {
                    low = middle + 1;
                } else {
                    high = middle;
                }
            }
            first = low;
        }
        const uint32_t page = pageSize == 0 ? DEFAULT_PAGE : std::min(pageSize, MAX_PAGE);
        std::string rows;
        orla::RowWriter writer(rows);
        uint32_t route = first;
        for (; route < count_ && route - first < page; ++route) {
            const std::vector<uint32_t> index = indexOf(route);
            const ipd::RouteFields fields{2, route % 100, 4, 14};  // remote, bgp
            writer.add(index.data(), index.size(), ipd::routeFields(fields));
        }
        orla::message reply;
        reply.insert(orla::OBJ_ROWS, std::move(rows));
        if (route < count_ && route > first) reply.insert(orla::OBJ_AFTER, indexOf(route - 1));
        return reply;
    }
};

}  // namespace

int main(int argc, char** argv) {
    return bench::serveCounts<Routes>(argc, argv, "fake_routes", "route", MAX_ROUTES, SERVICE);
}
