// The agent's service object over a test's own temporary stores, published in
// `loop` while it lives. The agent never frees the community table it makes
// (it serves until the process ends); the fixture frees each test's.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "agent/snmp_looper.h"
#include "community/community_keep.h"

class TempAgent {
  public:
    TempAgent() {
        char pattern[] = "/tmp/agent-test-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        service = std::make_unique<SnmpLooper>(dir + "/snmpd", dir + "/communities");
        loop = service.get();
    }
    ~TempAgent() {
        loop = nullptr;
        service.reset();
        delete communityKeep;
        communityKeep = nullptr;
        std::filesystem::remove_all(dir);
    }
    TempAgent(const TempAgent&) = delete;
    TempAgent& operator=(const TempAgent&) = delete;

    std::string dir;
    std::unique_ptr<SnmpLooper> service;
};
