#include "security/PasswordHash.h"

#include <sodium.h>

#include <array>
#include <atomic>

#include "common/Convert.h"
#include "common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

namespace {

std::atomic<uint64_t> verifications{0};

bool VerifyHash(const std::string& hash, std::string_view password) {
  EnsureSodium();
  verifications.fetch_add(1, std::memory_order_relaxed);
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

// A hash of a random password nobody knows, made with the limits of HashPassword so that
// verifying against it takes as long as verifying against a user's hash.
const std::string& DummyHash() {
  static const std::string hash = [] {
    EnsureSodium();
    std::array<unsigned char, 16> secret{};
    randombytes_buf(secret.data(), secret.size());
    std::array<char, 2 * 16 + 1> text{};
    sodium_bin2hex(text.data(), text.size(), secret.data(), secret.size());
    return HashPassword(text.data());
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
