#include "common/Text.h"

#include <strings.h>

#include <optional>
#include <string>

#include "common/Error.h"

namespace ledgerkit {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

size_t CountCharacters(std::string_view text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
  return count;
}

void RequireFitsWidth(std::string_view text, size_t width, std::string_view what) {
  const size_t length = CountCharacters(text);
  if (length > width) {
    throw Error::Runtime(kInvalidArgument, "The text for " + std::string(what) + " has " + std::to_string(length) +
                                               " characters; at most " + std::to_string(width) + " fit.");
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
