// Links handed to the interface service in place of the kernel's, and the
// aliases it writes.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ifaced/interface_reader.h"

namespace ifacedtest {

class FakeKernel : public ifaced::InterfaceReader {
  public:
    std::vector<ifaced::InterfaceInfo> links;
    std::vector<std::pair<uint32_t, std::string>> aliasWrites;
    int aliasError = 0;  // errno the next alias writes fail with
    int dumps = 0;

    // An up Ethernet interface.
    ifaced::InterfaceInfo& add(const std::string& name, uint32_t index) {
        ifaced::InterfaceInfo info;
        info.index = index;
        info.name = name;
        info.type = 6;
        info.mtu = 1500;
        info.adminUp = true;
        info.operStatus = ifaced::OperStatus::Up;
        links.push_back(std::move(info));
        return links.back();
    }
    ifaced::InterfaceInfo& at(uint32_t index) {
        for (ifaced::InterfaceInfo& info : links) {
            if (info.index == index) return info;
        }
        return links.at(links.size());  // throws: the test asked for no such link
    }

    bool readAll(std::vector<ifaced::InterfaceInfo>& out) override {
        ++dumps;
        out = links;
        std::sort(out.begin(), out.end(),
                  [](const auto& a, const auto& b) { return a.index < b.index; });
        return true;
    }
    int writeAlias(uint32_t index, std::string_view alias) override {
        if (aliasError) return aliasError;
        for (ifaced::InterfaceInfo& info : links) {
            if (info.index != index) continue;
            info.alias = alias;
            aliasWrites.emplace_back(index, alias);
            return 0;
        }
        return ENODEV;
    }
};

}  // namespace ifacedtest
