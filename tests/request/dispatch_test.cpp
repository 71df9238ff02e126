#include "request/dispatch.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "community/community_keep.h"
#include "tests/request/request_fixture.h"

using namespace fixture;

namespace {

const int ANYWHERE = int(htonl(0xC0A80001));  // 192.168.0.1

// The tree, and a community table over a temporary store holding the
// default community, morvel, read-only.
class Dispatch : public Tree {
  protected:
    void SetUp() override {
        Tree::SetUp();
        char dirTemplate[] = "/tmp/dispatch-test-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir_ = dirTemplate;
        keep_ = std::make_unique<CommunityKeep>(dir_ + "/snmp-communities");
        keep_->init();
        communityKeep = keep_.get();
    }
    void TearDown() override {
        communityKeep = nullptr;
        keep_.reset();
        std::filesystem::remove_all(dir_);
        Tree::TearDown();
    }

    // Runs createReply on a request of one binding and decodes the reply.
    Reply ask(int version, uint32_t pduType, const OID& name) {
        std::vector<unsigned char> datagram =
            request(version, "morvel", pduType, 0, 0, {binding(name)});
        Context ctx(datagram.data(), static_cast<unsigned>(datagram.size()));
        Reply sent;
        EXPECT_TRUE(createReply(ctx, ANYWHERE) && decode(ctx.out.bytes(), sent));
        return sent;
    }

    std::string dir_;
    std::unique_ptr<CommunityKeep> keep_;
};

// Garbage datagrams, other versions and PDU types, rights, filters and
// security levels are the end-to-end access and robustness tests'.
TEST_F(Dispatch, Version2IsAnsweredAsCommunityBased) {
    const Reply sent = ask(2, ber::GET_REQUEST, under({1, 0}));
    EXPECT_EQ(sent.version, 2);
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(names(sent), std::vector<std::string>{e("1.0")});
}

// Under E.5: instances whose first index arc is odd hold a Counter64, the
// others a Counter32. Get answers any index; GetNext walks 1, 2, 3.
class Counters : public Leaf {
  public:
    bool get(Context& ctx) override { return !ctx.oid.empty() && answer(ctx, ctx.oid); }
    bool getNext(Context& ctx) override {
        const uint32_t index = ctx.oid.empty() ? 1 : ctx.oid[0] + 1;
        return index <= 3 && answer(ctx, OID{index});
    }
    bool set(Context&) override { return false; }

  private:
    static bool answer(Context& ctx, const OID& index) {
        ctx.name += index;
        ctx.out.addOID(ctx.name);
        if (index[0] % 2) {
            ctx.out.add(uint64_t{1} << 40, ber::COUNTER64);
        } else {
            ctx.out.add(7, ber::COUNTER32);
        }
        return true;
    }
};

class Version1Counters : public Dispatch {
  protected:
    void SetUp() override {
        Dispatch::SetUp();
        addLeaf(under({5}), &counters);
    }
    Counters counters;
};

// RFC 3584 4.2.2.1: SNMPv1 cannot carry Counter64, so such instances do not
// exist for a version 1 request. Walks and short names are the end-to-end
// v1 interfaces test's; here a name whose length takes the long form.
TEST_F(Version1Counters, Counter64IsInvisibleToVersion1AlsoUnderALongName) {
    OID longName = under({5, 1});
    for (int i = 0; i < 70; ++i)
        longName += 300;
    EXPECT_EQ(ask(0, ber::GET_REQUEST, longName).status, 2);
    EXPECT_EQ(ask(1, ber::GET_REQUEST, longName).status, 0);
    EXPECT_EQ(names(ask(0, ber::GET_NEXT_REQUEST, under({5}))), std::vector<std::string>{e("5.2")});
}

}  // namespace
