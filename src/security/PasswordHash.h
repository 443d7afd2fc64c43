// Password storage: Argon2id hashes (libsodium crypto_pwhash_str, interactive limits). The
// 30-character limit of a password applies to the clear text a caller passes.
//
// A password check costs one Argon2id verification whatever is stored, and whether or not
// there is anything to check against: a stored value in clear text or Null, and a user name
// that matches no row, are checked against a fixed dummy hash as well, so the time a failed
// logon takes does not tell which user names exist. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

inline constexpr int32_t kPasswordWidth = 30;

// Initialises the cryptographic library once per process; fails with Invalid argument (5).
void EnsureSodium();

// The clear password as text, refused (Invalid argument) when longer than 30 characters;
// `label` names the argument in that message.
std::string ClearPassword(const Variant& password, std::string_view label);
// A new salted hash of `password`.
std::string HashPassword(std::string_view password);
// True when `stored` is a hash made by HashPassword.
bool IsPasswordHash(std::string_view stored);
// True when `password` matches `stored`, a stored password column: verified against the hash,
// or compared exactly when the stored value is not a hash (data imported by other means). Null
// matches nothing. Always costs one Argon2id verification.
bool PasswordMatches(const Variant& stored, std::string_view password);
// Spends one Argon2id verification of `password` against the dummy hash, for a check that has
// no row to check against.
void SpendPasswordVerification(std::string_view password);

// Argon2id verifications run by this process so far (real and dummy alike).
uint64_t PasswordVerifications();

}  // namespace ledgerkit
