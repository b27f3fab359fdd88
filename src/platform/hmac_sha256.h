// HMAC-SHA-256 (RFC 2104) from the platform's crypto library, and keys
// drawn from the system's random source: what seals a value that comes
// back from a client, so that a changed one is found.
#pragma once

#include <array>
#include <cstdint>

#include "base/io.h"

namespace sorvane {

using HmacKey = std::array<std::uint8_t, 32>;
using HmacSha256Tag = std::array<std::uint8_t, 32>;

// A new random key on each call: a process that draws one at start and keeps
// it seals values that no other process, nor this one after a restart,
// accepts. Aborts when the system has no random source.
HmacKey random_hmac_key();

// The tag of `message` under `key` (any length). Never fails on a working
// system; if the crypto library is broken the process aborts rather than
// accept a forged value.
HmacSha256Tag hmac_sha256(ByteSpan key, ByteSpan message);

// Whether `tag` is `message`'s tag under `key`, in a time that does not tell
// how much of a wrong tag was right.
bool hmac_sha256_matches(ByteSpan key, ByteSpan message, const HmacSha256Tag& tag);

}  // namespace sorvane
