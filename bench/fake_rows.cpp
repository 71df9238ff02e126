// fake_rows: a stand-in platform service that feeds the benchmark plug-in's
// tables (bench/plugin/benchmib.cpp). It is service 212; handler K (1, 2, ...)
// lists the K-th count of rows given on the command line:
//
//   fake_rows 100000 10000 100
//
// Row I of a handler is the object {OBJ_ID = I, name = "row-I",
// packets = I * 7}. Rows are made when listed, so a large table costs no
// memory here. Get-all pages hold the requested number of rows, at most
// MAX_PAGE (DEFAULT_PAGE when the request names none).
#include <algorithm>
#include <cstdint>
#include <string>

#include "bench/fake_service.h"
#include "platform/orla/ids.h"

namespace {

constexpr uint32_t SERVICE = 212;
constexpr uint32_t DEFAULT_PAGE = 1000;
constexpr uint32_t MAX_PAGE = 5000;
constexpr unsigned long MAX_ROWS = 1'000'000;
constexpr orla::StringKey ROW_NAME{1};
constexpr orla::U32Key ROW_PACKETS{2};

class Rows : public bench::CountedHandler {
  public:
    using CountedHandler::CountedHandler;

    orla::message cmdGetAll(const orla::message&, uint32_t startId, uint32_t pageSize) override {
        const uint32_t first = startId == 0xffffffff ? 0 : startId;
        const uint32_t page = pageSize == 0 ? DEFAULT_PAGE : std::min(pageSize, MAX_PAGE);
        orla::message reply;
        uint32_t id = first;
        for (; id < count_ && id - first < page; ++id) {
            orla::message row;
            row.insert(orla::OBJ_ID, id);
            row.insert(ROW_NAME, "row-" + std::to_string(id));
            row.insert(ROW_PACKETS, id * 7);
            reply.append(orla::OBJ_LIST, row);
        }
        if (id < count_) reply.insert(orla::OBJ_NEXT, id);
        return reply;
    }
};

}  // namespace

int main(int argc, char** argv) {
    return bench::serveCounts<Rows>(argc, argv, "fake_rows", "row", MAX_ROWS, SERVICE);
}
