// A fake sysfs tree in a temporary directory: <root>/class/net/<name>/...
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace ifacedtest {

class FakeSysfs {
  public:
    FakeSysfs() {
        char pattern[] = "/tmp/ifaced-test-XXXXXX";
        root_ = ::mkdtemp(pattern) ? pattern : "";
        std::filesystem::create_directories(root_ + "/class/net");
    }
    ~FakeSysfs() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& root() const { return root_; }
    std::string path(const std::string& name, const std::string& attribute) const {
        return root_ + "/class/net/" + name + "/" + attribute;
    }

    // An up Ethernet interface with every attribute the kernel provides.
    void addInterface(const std::string& name, uint32_t index) {
        std::filesystem::create_directories(path(name, "statistics"));
        const std::pair<const char*, std::string> attributes[] = {
            {"ifindex", std::to_string(index)},
            {"type", "1"},
            {"mtu", "1500"},
            {"speed", "1000"},
            {"address", "02:00:00:00:00:01"},
            {"addr_len", "6"},
            {"flags", "0x1003"},
            {"operstate", "up"},
            {"ifalias", ""}};
        for (const auto& [attribute, text] : attributes)
            write(name, attribute, text + "\n");
        for (const char* counter :
             {"rx_bytes", "rx_packets", "multicast", "rx_dropped", "rx_errors", "tx_bytes",
              "tx_packets", "tx_dropped", "tx_errors"})
            write(name, std::string("statistics/") + counter, "0\n");
    }
    void write(const std::string& name, const std::string& attribute, const std::string& text) {
        std::ofstream(path(name, attribute), std::ios::binary | std::ios::trunc) << text;
    }
    std::string read(const std::string& name, const std::string& attribute) const {
        std::ifstream file(path(name, attribute), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    void remove(const std::string& name, const std::string& attribute) {
        std::filesystem::remove(path(name, attribute));
    }

  private:
    std::string root_;
};

}  // namespace ifacedtest
