#include "security/UserNames.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>
#include <unicode/utf8.h>

#include <cstdio>

#include "ledgerkit/common/Convert.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

namespace {

const icu::Normalizer2& MatchingForm() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCCasefoldInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
      throw Error::Runtime(kInvalidArgument, std::string("The Unicode data for user names cannot be loaded: ") +
                                                 u_errorName(status) + ".");
    }
    return normalizer;
  }();
  return *instance;
}

std::string CodePointText(UChar32 c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

}  // namespace

std::string UserNameKey(std::string_view name) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString source =
      icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
  const icu::UnicodeString folded = MatchingForm().normalize(source, status);
  if (U_FAILURE(status)) {
    throw Error::Runtime(kInvalidArgument, std::string("A user name cannot be put in its matching form: ") +
                                               u_errorName(status) + ".");
  }
  std::string key;
  folded.toUTF8String(key);
  return key;
}

std::string UserNameSkeleton(std::string_view name) {
  // One checker for the process: ICU's checkers are safe to share for reading once opened.
  static const USpoofChecker* const checker = [] {
    UErrorCode status = U_ZERO_ERROR;
    USpoofChecker* opened = uspoof_open(&status);
    if (U_FAILURE(status)) {
      throw Error::Runtime(kInvalidArgument, std::string("The Unicode data for confusable user names cannot be loaded: ") +
                                                 u_errorName(status) + ".");
    }
    return opened;
  }();
  const std::string key = UserNameKey(name);
  std::string skeleton(key.size() * 4 + 16, '\0');
  for (;;) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uspoof_getSkeletonUTF8(checker, 0, key.data(), static_cast<int32_t>(key.size()),
                                                  skeleton.data(), static_cast<int32_t>(skeleton.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      skeleton.resize(static_cast<size_t>(length) + 1);
      continue;
    }
    if (U_FAILURE(status)) {
      throw Error::Runtime(kInvalidArgument, std::string("A user name cannot be put in its confusable form: ") +
                                                 u_errorName(status) + ".");
    }
    skeleton.resize(static_cast<size_t>(length));
    return skeleton;
  }
}

std::optional<std::string> UserNameFault(std::string_view name) {
  if (name.empty()) return "is empty";
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  const auto length = static_cast<int32_t>(name.size());
  int32_t offset = 0;
  UChar32 first = U_SENTINEL;
  UChar32 last = U_SENTINEL;
  while (offset < length) {
    UChar32 c = 0;
    U8_NEXT(bytes, offset, length, c);
    if (c < 0) return "is not valid UTF-8 text";
    if (u_charType(c) == U_CONTROL_CHAR) return "holds the control character " + CodePointText(c);
    if (u_charType(c) == U_FORMAT_CHAR) return "holds the invisible character " + CodePointText(c);
    if (first == U_SENTINEL) first = c;
    last = c;
  }
  if (first != U_SENTINEL && u_isUWhiteSpace(first)) return "begins with a blank";
  if (last != U_SENTINEL && u_isUWhiteSpace(last)) return "ends with a blank";
  return std::nullopt;
}

void RequireUserName(std::string_view name, std::string_view label) {
  if (const auto fault = UserNameFault(name)) {
    throw Error::Runtime(kInvalidArgument, "The user name given as " + std::string(label) + " " + *fault + ".");
  }
}

std::string UserNameText(const Variant& name) { return name.IsNull() ? std::string() : ToText(name); }

Sql UserNameFilter(const EngineDialect& dialect) {
  return Sql("(UserKey=", kValue, " OR (UserKey IS NULL AND ", dialect.AsciiNoCaseEquals("UserName"), "))");
}

std::vector<Parameter> UserNameFilterValues(const Variant& name) {
  const std::string text = UserNameText(name);
  return {SelectingText(UserNameKey(text), "UserKey"), SelectingText(text, "UserName")};
}

}  // namespace ledgerkit
