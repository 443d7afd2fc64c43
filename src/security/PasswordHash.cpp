#include "security/PasswordHash.h"

#include <sodium.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

std::atomic<uint64_t> verifications{0};

bool VerifyHash(const std::string& hash, std::string_view password) {
  EnsureSodium();
  verifications.fetch_add(1, std::memory_order_relaxed);
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

// A hash string with the limits of HashPassword and a random salt and digest: verifying a
// password against it takes as long as against a user's hash and never succeeds. Made without
// hashing, so that even the first failed logon of a process (each run of the command-line
// tool) costs what any other does.
const std::string& DummyHash() {
  static const std::string hash = [] {
    EnsureSodium();
    auto random_base64 = [](size_t size) {
      std::vector<unsigned char> bytes(size);
      randombytes_buf(bytes.data(), bytes.size());
      constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL_NO_PADDING;
      std::string text(sodium_base64_ENCODED_LEN(size, kVariant), '\0');
      sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), kVariant);
      text.resize(std::strlen(text.c_str()));
      return text;
    };
    std::string text = "$argon2id$v=19$m=" + std::to_string(crypto_pwhash_MEMLIMIT_INTERACTIVE / 1024) +
                       ",t=" + std::to_string(crypto_pwhash_OPSLIMIT_INTERACTIVE) + ",p=1$" +
                       random_base64(crypto_pwhash_SALTBYTES) + "$" + random_base64(32);
    // Should the library ever encode its hashes otherwise, a real hash of a random secret serves.
    if (crypto_pwhash_str_needs_rehash(text.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                       crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
      text = HashPassword(random_base64(16));
    }
    return text;
  }();
  return hash;
}

}  // namespace

void EnsureSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw Error::Runtime(kInvalidArgument, "The cryptographic library could not be initialised.");
}

std::string ClearPassword(const Variant& password, std::string_view label) {
  std::string text = ToText(password);
  RequireFitsWidth(text, kPasswordWidth, label);
  return text;
}

std::string HashPassword(std::string_view password) {
  EnsureSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw std::bad_alloc();  // the only failure is running out of memory
  }
  return hash;
}

bool IsPasswordHash(std::string_view stored) { return stored.starts_with("$argon2"); }

bool PasswordMatches(const Variant& stored, std::string_view password) {
  if (stored.IsNull()) {
    SpendPasswordVerification(password);
    return false;
  }
  const std::string text = ToText(stored);
  if (IsPasswordHash(text)) return VerifyHash(text, password);
  // Clear text (imported data) compares in no time; the dummy verification keeps such a row
  // from standing out by how fast a wrong password is refused.
  SpendPasswordVerification(password);
  return text.size() == password.size() && sodium_memcmp(text.data(), password.data(), text.size()) == 0;
}

void SpendPasswordVerification(std::string_view password) {
  static_cast<void>(VerifyHash(DummyHash(), password));
}

uint64_t PasswordVerifications() { return verifications.load(std::memory_order_relaxed); }

}  // namespace ledgerkit
