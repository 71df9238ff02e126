// Test doubles for the data providers: an agent service object over
// temporary stores (published in `loop`, so providers exchange through it),
// fake platform handlers added to it, and a clock the tests step by hand.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "agent/snmp_looper.h"
#include "community/community_keep.h"
#include "mib/cache_update_timeout.h"
#include "mib/data.h"
#include "platform/orla/clock.h"
#include "platform/orla/ids.h"
#include "platform/orla/message.h"
#include "tests/request/temp_agent.h"

namespace providertest {

// The clock of the cache checks while a FakeClock lives: fakeNow, stepped by
// the test.
inline uint32_t fakeNow = 0;
inline uint32_t readFakeClock() {
    return fakeNow;
}
struct FakeClock {
    explicit FakeClock(uint32_t now) {
        fakeNow = now;
        CacheUpdateTimeout::tickClock = readFakeClock;
    }
    ~FakeClock() { CacheUpdateTimeout::tickClock = orla::getJiffies; }
};

// A platform handler with an object list served in pages of `pageSize`, a
// count, and get, set and set-object answers. Every request it gets is kept.
class FakeHandler : public orla::Handler {
  public:
    orla::message cmdGetAll(const orla::message& request, uint32_t startId, uint32_t) override {
        requests.push_back(request);
        if (failPage != 0 && requests.size() == failPage) {
            return orla::errorMsg(orla::ERR_NO_SUCH_OBJECT, "page refused");
        }
        orla::message reply;
        size_t first = startId == 0xffffffff ? 0 : startId;
        size_t end = std::min(objects.size(), first + pageSize);
        for (size_t i = first; i < end; ++i)
            reply.append(orla::OBJ_LIST, objects[i]);
        if (end < objects.size()) reply.insert(orla::OBJ_NEXT, static_cast<uint32_t>(end));
        return reply;
    }
    orla::message cmdGetCount(const orla::message& request) override {
        requests.push_back(request);
        orla::message reply;
        if (count) reply.insert(orla::OBJ_COUNT, *count);
        return reply;
    }
    orla::message cmdGet(const orla::message& request) override {
        requests.push_back(request);
        return getError.empty() ? orla::message() : orla::errorMsg(orla::ERR_UNSUPPORTED, getError);
    }
    orla::message cmdSet(const orla::message& request) override {
        requests.push_back(request);
        return setError.empty() ? orla::message() : orla::errorMsg(orla::ERR_BAD_VALUE, setError);
    }
    orla::message cmdSetObj(const orla::message& request, uint32_t) override {
        requests.push_back(request);
        if (!setError.empty()) return orla::errorMsg(orla::ERR_BAD_VALUE, setError);
        return orla::message();
    }
    // Appends an object {OBJ_ID = id, OBJ_NAME = name}.
    void addObject(uint32_t id, const std::string& name) {
        orla::message object;
        object.insert(orla::OBJ_ID, id);
        object.insert(orla::OBJ_NAME, name);
        objects.push_back(object);
    }

    std::vector<orla::message> objects;
    size_t pageSize = 1000;
    size_t failPage = 0;  // 1-based get-all request that fails; 0: none
    const uint32_t* count = nullptr;
    std::string setError;
    std::string getError;
    std::vector<orla::message> requests;
};

// A record made from one object: its id and name.
struct NamedRecord : Data {
    int id = 0;
    std::string name;
    void reverseBuild(orla::message& request) override {
        request.insert(orla::OBJ_ID, static_cast<uint32_t>(id));
        request.insert(orla::OBJ_NAME, name);
    }
};

inline Data* makeNamed(orla::message const& object) {
    if (!object.has(orla::OBJ_NAME)) return nullptr;
    auto* rec = new NamedRecord;
    rec->id = static_cast<int>(object.get(orla::OBJ_ID));
    rec->name = object.get(orla::OBJ_NAME);
    return rec;
}

// The agent's service object over this test's own stores, in `loop`, with
// fake handlers at [0, 7] and [0, 8]; the clock is the test's.
class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop->addHandler(7, &first);
        loop->addHandler(8, &second);
    }

    FakeClock clock_{1000};
    const std::vector<uint32_t> firstPath{0, 7};
    const std::vector<uint32_t> secondPath{0, 8};
    FakeHandler first;
    FakeHandler second;
    TempAgent agent_;  // destroyed before the handlers it routes to
};

}  // namespace providertest
