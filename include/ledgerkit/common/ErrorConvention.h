// The two epilogues with which every public operation ends a failure, and the message helpers.
//
// Marked re-raise: the description gets a line break, the error marker and the number once;
// a description that already carries the marker passes unchanged. Diagnostic-block re-raise:
// a block naming the operation is put in front of the description every time, so nested
// operations stack their blocks outermost first. Both keep number and source.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// The error marker, with its leading blank.
inline constexpr std::string_view kErrorMarker = " >VantorERR@";
inline constexpr std::string_view kLineBreak = "\r\n";

// True when the description contains the error marker anywhere (case-sensitive).
bool CarriesMarker(std::string_view description);
// The error with the marker and its number appended, unless the description already carries it.
Error MarkError(const Error& error);
// The error with the diagnostic block of `label` in front of its description.
Error AddDiagnosticBlock(std::string_view label, const Error& error);
// The exception in flight as an Error: an Error as it is, anything else (but bad_alloc, which
// is rethrown) as a runtime error carrying its text. Call only inside a catch block.
Error CurrentError();

// The message of `error` alone, for a person to read: without the error marker and its number,
// without the diagnostic blocks in front, without the "[SQLSTATE xxxxx]" an engine error of the
// server ends with (kept when it is all there is), on one line (OneLine). Never empty when the
// description is not: a description that is nothing but those parts is shown cleaned.
std::string MessageForPerson(const Error& error);
// `text` on one line: every run of line breaks, blanks and control characters (C0, DEL, C1,
// U+2028 and U+2029) becomes one blank, with none at either end.
std::string OneLine(std::string_view text);

// Runs `body`; any failure leaves as an Error marked once.
template <class Body>
decltype(auto) WithMarkedReraise(Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    throw MarkError(CurrentError());
  }
}

// Runs `body`; any failure leaves as an Error with the diagnostic block of `label` in front.
template <class Body>
decltype(auto) WithDiagnosticBlock(std::string_view label, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    throw AddDiagnosticBlock(label, CurrentError());
  }
}

// Replaces every occurrence of `token` that stands in `text` by `value`, leftmost first.
// Text inserted by a replacement is not searched again, so a value holding the token ends too.
// Each argument is converted to text first (Null fails with Invalid use of Null).
std::string ReplaceToken(const Variant& text, const Variant& token, const Variant& value);

// The template with "%1", "%2", "%3" replaced by the values through ReplaceToken. A value that
// is Null, or omitted, is skipped: its placeholder stays in the text.
std::string FormatMessage(const Variant& message_template, const std::optional<Variant>& value1 = std::nullopt,
                          const std::optional<Variant>& value2 = std::nullopt,
                          const std::optional<Variant>& value3 = std::nullopt);

}  // namespace ledgerkit
