// UberStream: what the decoder and the encoder of a message share.
#pragma once

struct UberStream {
    // Security level of the message: 0 none, 1 authentication, 2 authentication
    // and privacy (RFC 3414). Always the first member of both streams.
    int securityLevel = 0;
};
