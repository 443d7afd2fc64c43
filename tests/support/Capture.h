// Test support: run a call that must fail and get its Error back for one-line assertions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "ledgerkit/common/Error.h"

namespace ledgerkit::testing {

template <class Call>
Error CaptureError(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error;
  }
  ADD_FAILURE() << "the call succeeded, an Error was expected";
  return Error(0, "", "(no error)");
}

// How many times `needle` occurs in `text`.
inline int Occurrences(std::string_view text, std::string_view needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

}  // namespace ledgerkit::testing
