#include "common/Text.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <string>

#include "ledgerkit/common/Error.h"

namespace ledgerkit {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

size_t CountCharacters(std::string_view text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
  return count;
}

Utf8Sequence Utf8SequenceAt(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {1, true};
  // How many continuation bytes the lead byte calls for, and the range of the first one
  // (narrower where a wider range would give an overlong form, a surrogate or past U+10FFFF).
  size_t needed = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  size_t length = 1;
  while (needed > 0 && length <= needed && at + length < text.size()) {
    const auto next = static_cast<unsigned char>(text[at + length]);
    if (next < low || next > high) break;
    low = 0x80;
    high = 0xBF;
    ++length;
  }
  return {length, needed > 0 && length == needed + 1};
}

bool IsWellFormedUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const Utf8Sequence sequence = Utf8SequenceAt(text, at);
    if (!sequence.valid) return false;
    at += sequence.length;
  }
  return true;
}

void RequireFitsWidth(std::string_view text, size_t width, std::string_view what) {
  const size_t length = CountCharacters(text);
  if (length > width) {
    throw Error::Runtime(kInvalidArgument, "The text for " + std::string(what) + " has " + std::to_string(length) +
                                               " characters; at most " + std::to_string(width) + " fit.")
        .WithArgument(what);
  }
}

namespace {

// The byte length of the first kQuotedCharacters characters of `text`, or nothing when the whole
// text is that short.
std::optional<size_t> QuotedCut(std::string_view text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u) continue;
    if (characters == kQuotedCharacters) return i;
    ++characters;
  }
  return std::nullopt;
}

}  // namespace

std::string QuoteForMessage(std::string_view text) {
  const auto cut = QuotedCut(text);
  std::string quoted(1, '"');
  if (!cut) {
    quoted += text;
    quoted += '"';
    return quoted;
  }
  quoted += text.substr(0, *cut);
  quoted += "...\" (";
  quoted += std::to_string(CountCharacters(text));
  quoted += " characters)";
  return quoted;
}

std::string ExcerptForMessage(std::string_view text) {
  const auto cut = QuotedCut(text);
  if (!cut) return std::string(text);
  return std::string(text.substr(0, *cut)) + "... (" + std::to_string(CountCharacters(text)) + " characters)";
}

}  // namespace ledgerkit
