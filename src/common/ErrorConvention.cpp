#include "common/ErrorConvention.h"

#include <exception>

#include "common/Convert.h"

namespace ledgerkit {

bool CarriesMarker(std::string_view description) { return description.find(kErrorMarker) != std::string_view::npos; }

Error MarkError(const Error& error) {
  if (CarriesMarker(error.description())) return error;
  std::string description = error.description();
  description += kLineBreak;
  description += kErrorMarker;
  description += std::to_string(error.number());
  return Error(error.number(), error.source(), std::move(description));
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
  return Error(error.number(), error.source(), std::move(description));
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
