#include "security/PasswordHash.h"

#include <sodium.h>

#include "common/Convert.h"
#include "common/Error.h"
#include "common/Text.h"

namespace ledgerkit {

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

bool PasswordMatches(std::string_view stored, std::string_view password) {
  if (!IsPasswordHash(stored)) return stored == password;
  EnsureSodium();
  const std::string terminated(stored);
  return crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

}  // namespace ledgerkit
