// Session tokens: 24 to 32 upper-case hexadecimal digits built from a fresh 128-bit random
// identifier (libsodium randombytes_buf): its first 32-bit field in 8 digits, the two 16-bit
// fields in 4 digits each, then each of the last eight bytes in hexadecimal, two digits when
// that text has no letter (so 5 gives "05") and as it is otherwise (so 10 gives "A").
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ledgerkit {

// A new session token.
std::string NewToken();
// The token laid out from a given 128-bit identifier (the first four bytes are the first field,
// most significant first, then two bytes for each 16-bit field, then the eight bytes).
std::string TokenFromIdentifier(const std::array<uint8_t, 16>& identifier);

}  // namespace ledgerkit
