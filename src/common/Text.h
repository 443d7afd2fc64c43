// Text helpers shared by the layers: names compared as the public interface compares them, and
// text widths counted as the schema counts them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ledgerkit {

// True when the two names are equal but for the letter case of ASCII letters (member, class and
// column names).
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// Characters of a UTF-8 text: every byte that does not continue a sequence starts one.
size_t CountCharacters(std::string_view text);

// The UTF-8 sequence that starts at byte `at` of `text`: its length in bytes and whether it is a
// well-formed character (no overlong form, surrogate or code point past U+10FFFF). An ill-formed
// one is its maximal part that could have begun a character, at least one byte, as a replacement
// character stands for it.
struct Utf8Sequence {
  size_t length;
  bool valid;
};
Utf8Sequence Utf8SequenceAt(std::string_view text, size_t at);
// True when every sequence of `text` is well-formed UTF-8.
bool IsWellFormedUtf8(std::string_view text);

// Fails with Invalid argument (5), "The text for <what> has N characters; at most W fit.", when
// `text` is longer than `width` characters; the error names `what` as the argument at fault.
void RequireFitsWidth(std::string_view text, size_t width, std::string_view what);

// A caller's text as an error description quotes it: in double quotes, cut after
// kQuotedCharacters characters (at a character boundary) with the cut shown, as in
// `"abc..." (10485760 characters)`, so that a huge value cannot swell a description.
inline constexpr size_t kQuotedCharacters = 200;
std::string QuoteForMessage(std::string_view text);

// The same cut without the quotes, for a text that shows its own delimiters (a JSON value):
// `[1,2,...] (10485760 characters)`.
std::string ExcerptForMessage(std::string_view text);

}  // namespace ledgerkit
