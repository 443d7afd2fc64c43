// User names as people read them: two names that print the same to a person are one name.
//
// Names are compared in Unicode's identifier-matching form (NFKC with case folding, the
// NFKC_Casefold mapping of ICU): "Ädmin", "A" + combining diaeresis + "dmin" and "ädmin" are one
// name, and full-width "ａｄｍｉｎ" is "admin". The spelling a caller gave is what is stored and
// shown; the matching form is kept beside it (the UserKey columns) for lookups.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ledgerkit {

// The matching form of a user name (UTF-8 in, UTF-8 out). Text that is not valid UTF-8 is
// folded as far as it can be read, each bad byte becoming U+FFFD, so it matches only itself.
std::string UserNameKey(std::string_view name);

// Why `name` cannot be a user name, as the end of a sentence naming it, or nothing when it can:
// leading or trailing blanks, control characters, invisible format characters (zero-width
// space, joiners, direction marks) and text that is not valid UTF-8 are refused.
std::optional<std::string> UserNameFault(std::string_view name);

}  // namespace ledgerkit
