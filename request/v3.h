// SNMPv3 messages under the user-based security model (RFC 3412, RFC 3414):
// the security steps between the message header and the PDU, the usmStats
// report, and the protection of the reply once its PDU is written.
#pragma once

#include <cstdint>
#include <vector>

#include "community/community_keep.h"
#include "mib/context.h"
#include "platform/snmp/v3_server_info.h"
#include "request/pdu.h"

// The user's keys and protocols, as the request's checks and the reply's
// encryption and signature need them: the user's record itself, not a copy.
// The record outlives the request: the table changes only through platform
// messages, and those wait while a request is served (a provider's exchange
// defers them). Empty keys and protocols 0 for an unknown user, and for a
// report found before any key is used.
class V3Keys {
  public:
    void use(const CommunityKeep::Item& user) { user_ = &user; }
    // The user, once the message passed the security checks.
    const CommunityKeep::Item* user() const { return user_; }
    const std::vector<unsigned char>& authKey() const { return user_ ? user_->authKey : none_; }
    uint32_t authProtocol() const { return user_ ? user_->authProtocol : 0; }
    const std::vector<unsigned char>& privKey() const { return user_ ? user_->privKey : none_; }
    uint32_t privProtocol() const { return user_ ? user_->privProtocol : 0; }

  private:
    static inline const std::vector<unsigned char> none_;
    const CommunityKeep::Item* user_ = nullptr;
};

// Reads the SNMPv3 header and security parameters at ctx.in (after the
// version), checks the user against `users` and the message against
// `engine`, and writes the reply's header into ctx.out. On success `policy`
// either carries a report (a usmStats counter, or snmpUnknownContexts for a
// context other than the default one, RFC 3413 3.2; counted) or the
// requester's size limit, and `keys` the user; ctx.community is the user
// name. The user's rights are the caller's to grant. False when the message is dropped: the
// reason goes to stderr as one line. `sourceAddress` is the sender as the
// user's source filter sees it.
bool acceptV3(Context& ctx, SourceAddress sourceAddress, const CommunityKeep& users,
              V3ServerInfo& engine, PduPolicy& policy, V3Keys& keys);

// Once the PDU is closed: encrypts the scoped PDU, closes the message and
// signs it, as the reply's security level asks. False when the reply cannot
// be protected and must not be sent.
bool protectV3Reply(Context& ctx, const V3Keys& keys);
