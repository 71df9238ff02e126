// V3Info: the header and security parameters of one SNMPv3 message
// (RFC 3412 6 HeaderData, RFC 3414 2.4 UsmSecurityParameters) and the
// context fields of its scoped PDU.
//
// InStream::readV3Info fills one for a received message (the stream owns
// it); OutStream::writeV3Info, cryptPacket and signPacket build an outgoing
// message from one (a trap fills its own, a reply reuses the request's).
#pragma once

#include <cstdint>
#include <string>

struct V3Info {
    uint32_t msgID = 0;
    // The sender's largest acceptable message (RFC 3412 6.2). A request's
    // value bounds the reply; outgoing messages always state our own limit.
    uint32_t msgMaxSize = 0;
    // One octet: bit value 1 authentication, 2 privacy, 4 reportable.
    std::string msgFlags;
    uint32_t msgSecurityModel = 0;  // 3, the user-based security model
    std::string msgAuthoritativeEngineID;
    uint32_t msgAuthoritativeEngineBoots = 0;
    uint32_t msgAuthoritativeEngineTime = 0;
    std::string msgUserName;
    // The salt as received. Outgoing messages get a fresh one from the
    // stream whatever this holds, and a placeholder of the MAC's length for
    // msgAuthenticationParameters, which the receiving stream checks where
    // it lies in the message.
    std::string msgPrivacyParameters;
    // The user's authentication protocol (usm::AUTH_*), for an outgoing
    // message: it sizes the MAC placeholder and, with privacy, gives the
    // hash of the privacy key extension. decryptAndCheckSignature sets it
    // for the reply; a trap sets its user's.
    uint32_t authProtocol = 0;
    std::string contextEngineID;
    std::string contextName;

    // Empties it for the next message, as V3Info{} would, but keeping the
    // memory of its strings (a stream reads message after message into one).
    void clear() {
        msgID = 0;
        msgMaxSize = 0;
        msgFlags.clear();
        msgSecurityModel = 0;
        msgAuthoritativeEngineID.clear();
        msgAuthoritativeEngineBoots = 0;
        msgAuthoritativeEngineTime = 0;
        msgUserName.clear();
        msgPrivacyParameters.clear();
        authProtocol = 0;
        contextEngineID.clear();
        contextName.clear();
    }
};
