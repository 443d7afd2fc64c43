// Password storage: Argon2id hashes (libsodium crypto_pwhash_str, interactive limits). The
// 30-character limit of a password applies to the clear text a caller passes.
#pragma once

#include <string>
#include <string_view>

#include "common/Variant.h"

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
// True when `password` matches `stored`: verified against the hash, or compared exactly when
// the stored value is not a hash (data imported by other means).
bool PasswordMatches(std::string_view stored, std::string_view password);

}  // namespace ledgerkit
