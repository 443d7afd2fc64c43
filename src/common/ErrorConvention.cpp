#include "ledgerkit/common/ErrorConvention.h"

#include <exception>

#include "ledgerkit/common/Convert.h"
#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

bool CarriesMarker(std::string_view description) { return description.find(kErrorMarker) != std::string_view::npos; }

Error MarkError(const Error& error) {
  if (CarriesMarker(error.description())) return error;
  std::string description = error.description();
  description += kLineBreak;
  description += kErrorMarker;
  description += std::to_string(error.number());
  return error.WithDescription(std::move(description));
}

Error AddDiagnosticBlock(std::string_view label, const Error& error) {
  std::string description(label);
  description += kLineBreak;
  description += "Error#:      ";
  description += std::to_string(error.number());
  description += kLineBreak;
  description += "Source:      ";
  description += error.source();
  description += kLineBreak;
  description += "Description: ";
  description += error.description();
  return error.WithDescription(std::move(description));
}

namespace {

constexpr std::string_view kBlockNumber = "Error#:      ";
constexpr std::string_view kBlockSource = "Source:      ";
constexpr std::string_view kBlockDescription = "Description: ";
constexpr std::string_view kSqlstateOpening = " [SQLSTATE ";

// The byte length of the line break, blank or control character at `at`, or 0 for another
// character.
size_t BreakLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(at);
  if (c <= 0x20 || c == 0x7F) return 1;
  // C1 controls (NEL among them) are U+0080..U+009F: C2 80..C2 9F.
  if (c == 0xC2 && at + 1 < text.size() && byte(at + 1) >= 0x80 && byte(at + 1) <= 0x9F) return 2;
  // The line and paragraph separators U+2028 and U+2029: E2 80 A8, E2 80 A9.
  if (c == 0xE2 && at + 2 < text.size() && byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) {
    return 3;
  }
  return 0;
}

// `text` without every error marker and the number that follows it.
std::string WithoutMarkers(std::string_view text) {
  std::string out;
  size_t from = 0;
  for (size_t at = text.find(kErrorMarker); at != std::string_view::npos; at = text.find(kErrorMarker, from)) {
    out.append(text, from, at - from);
    size_t end = at + kErrorMarker.size();
    if (end < text.size() && text[end] == '-') ++end;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    from = end;
  }
  out.append(text, from);
  return out;
}

// The length of the line of `text` that starts at `from` and begins with `head`, through its
// line break; 0 when there is no such line.
size_t BlockLine(std::string_view text, size_t from, std::string_view head) {
  if (text.substr(from, head.size()) != head) return 0;
  const size_t end = text.find(kLineBreak, from + head.size());
  return end == std::string_view::npos ? 0 : end + kLineBreak.size() - from;
}

// `text` without its diagnostic blocks: each is its label (a run of characters without blanks,
// at the start or after other text, "Line 3 of the journal: LABEL"), a line break, the number
// and source lines and "Description: ", and stands in front of the description it wraps.
std::string WithoutBlocks(std::string_view text) {
  std::string out;
  size_t from = 0;  // what is not copied yet
  size_t search = 0;
  for (;;) {
    const size_t label_end = text.find(kLineBreak, search);
    if (label_end == std::string_view::npos) break;
    size_t at = label_end + kLineBreak.size();
    search = at;
    const size_t number = BlockLine(text, at, kBlockNumber);
    if (number == 0) continue;
    at += number;
    const size_t source = BlockLine(text, at, kBlockSource);
    if (source == 0) continue;
    at += source;
    if (text.substr(at, kBlockDescription.size()) != kBlockDescription) continue;
    size_t label_start = label_end;
    while (label_start > from && BreakLength(text, label_start - 1) == 0) --label_start;
    out.append(text, from, label_start - from);
    from = at + kBlockDescription.size();
    search = from;
  }
  out.append(text, from);
  return out;
}

// `text` without the SQLSTATE the server's errors end with, unless nothing would be left.
std::string_view WithoutSqlstate(std::string_view text) {
  const size_t at = text.rfind(kSqlstateOpening);
  if (at == std::string_view::npos || at == 0) return text;
  const std::string_view state = text.substr(at + kSqlstateOpening.size());
  if (state.size() != 6 || state.back() != ']') return text;
  for (const char c : state.substr(0, 5)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return text;
  }
  return text.substr(0, at);
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  bool pending_blank = false;
  for (size_t at = 0; at < text.size();) {
    const size_t length = BreakLength(text, at);
    if (length > 0) {
      pending_blank = !line.empty();
      at += length;
      continue;
    }
    if (pending_blank) line += ' ';
    pending_blank = false;
    line += text[at++];
  }
  return line;
}

std::string MessageForPerson(const Error& error) {
  std::string line = OneLine(WithoutBlocks(WithoutMarkers(error.description())));
  if (error.source() == kPostgresSource) line = std::string(WithoutSqlstate(line));
  if (!line.empty()) return line;
  line = OneLine(error.description());
  if (!line.empty() || error.description().empty()) return line;
  // Nothing but blanks and control characters.
  return "Error " + std::to_string(error.number()) + " (" + error.source() + ").";
}

Error CurrentError() {
  try {
    throw;
  } catch (const Error& error) {
    return error;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& other) {
    return Error::Runtime(kInvalidArgument, other.what());
  } catch (...) {
    return Error::Runtime(kInvalidArgument, "An unknown failure occurred.");
  }
}

std::string ReplaceToken(const Variant& text, const Variant& token, const Variant& value) {
  std::string result = ToText(text);
  const std::string token_text = ToText(token);
  const std::string value_text = ToText(value);
  if (token_text.empty()) return result;
  size_t position = result.find(token_text);
  while (position != std::string::npos) {
    result.replace(position, token_text.size(), value_text);
    position = result.find(token_text, position + value_text.size());
  }
  return result;
}

std::string FormatMessage(const Variant& message_template, const std::optional<Variant>& value1,
                          const std::optional<Variant>& value2, const std::optional<Variant>& value3) {
  std::string text = ToText(message_template);
  const std::optional<Variant>* values[] = {&value1, &value2, &value3};
  const char* placeholders[] = {"%1", "%2", "%3"};
  for (int i = 0; i < 3; ++i) {
    const std::optional<Variant>& value = *values[i];
    if (value && !value->IsNull()) text = ReplaceToken(text, placeholders[i], *value);
  }
  return text;
}

}  // namespace ledgerkit
