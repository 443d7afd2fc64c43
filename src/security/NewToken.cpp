#include "security/NewToken.h"

#include <sodium.h>

#include <cstdio>

#include "security/PasswordHash.h"

namespace ledgerkit {

std::string TokenFromIdentifier(const std::array<uint8_t, 16>& identifier) {
  char buffer[64];
  const unsigned first = (unsigned{identifier[0]} << 24) | (unsigned{identifier[1]} << 16) |
                         (unsigned{identifier[2]} << 8) | identifier[3];
  const unsigned second = (unsigned{identifier[4]} << 8) | identifier[5];
  const unsigned third = (unsigned{identifier[6]} << 8) | identifier[7];
  std::snprintf(buffer, sizeof buffer, "%08X%04X%04X", first, second, third);
  std::string token = buffer;
  for (size_t i = 8; i < identifier.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%X", identifier[i]);
    std::string piece = buffer;
    const bool has_letter = piece.find_first_of("ABCDEF") != std::string::npos;
    if (!has_letter && piece.size() < 2) piece = "0" + piece;
    token += piece;
  }
  return token;
}

std::string NewToken() {
  EnsureSodium();
  std::array<uint8_t, 16> identifier{};
  randombytes_buf(identifier.data(), identifier.size());
  return TokenFromIdentifier(identifier);
}

}  // namespace ledgerkit
