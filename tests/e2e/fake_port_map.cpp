// A stand-in for the platform service that the example plug-in reads: the
// port map, service 210, handler 1. It lists three ports in pages of two,
// answers their count and takes new descriptions with set-object.
#include <cstdint>
#include <vector>

#include "platform/orla/ids.h"
#include "platform/orla/looper.h"

namespace {

constexpr uint32_t PAGE_SIZE = 2;
constexpr orla::StringKey DESCRIPTION{3};

// A port with the example plug-in's fields: 1 VLAN, 2 name, 3 description, 4 packets.
orla::message port(uint32_t id, uint32_t vlan, const char* name, const char* description,
                   uint32_t packets) {
    orla::message port;
    port.insert(orla::OBJ_ID, id);
    port.insert(orla::U32Key{1}, vlan);
    port.insert(orla::StringKey{2}, name);
    port.insert(DESCRIPTION, description);
    port.insert(orla::U32Key{4}, packets);
    return port;
}

class PortMap : public orla::Handler {
  public:
    orla::message cmdGetAll(const orla::message&, uint32_t startId, uint32_t) override {
        const uint32_t first = startId == 0xffffffff ? 0 : startId;
        orla::message reply;
        for (uint32_t id = first; id < ports.size() && id < first + PAGE_SIZE; ++id)
            reply.append(orla::OBJ_LIST, ports[id]);
        if (first + PAGE_SIZE < ports.size()) reply.insert(orla::OBJ_NEXT, first + PAGE_SIZE);
        return reply;
    }
    orla::message cmdGetCount(const orla::message&) override {
        orla::message reply;
        reply.insert(orla::OBJ_COUNT, static_cast<uint32_t>(ports.size()));
        return reply;
    }
    orla::message cmdSetObj(const orla::message& request, uint32_t id) override {
        if (id >= ports.size() || !request.has(DESCRIPTION))
            return orla::errorMsg(orla::ERR_BAD_VALUE, "no such port or no description");
        ports[id].insert(DESCRIPTION, request.get(DESCRIPTION));
        return orla::message();
    }

  private:
    std::vector<orla::message> ports = {port(0, 10, "eth0", "uplink", 1000),
                                        port(1, 10, "eth1", "office", 20),
                                        port(2, 20, "eth1", "guests", 3)};
};

}  // namespace

int main() {
    PortMap portMap;
    orla::Looper looper;
    looper.addHandler(1, &portMap);
    if (!looper.serve(210)) return 1;
    looper.run();
    return 0;
}
