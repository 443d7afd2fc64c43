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
#include <vector>

#include "common/Command.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit {

// The matching form of a user name (UTF-8 in, UTF-8 out). Text that is not valid UTF-8 is
// folded as far as it can be read, each bad byte becoming U+FFFD, so it matches only itself.
std::string UserNameKey(std::string_view name);

// Why `name` cannot be a user name, as the end of a sentence naming it, or nothing when it can:
// leading or trailing blanks, control characters, invisible format characters (zero-width
// space, joiners, direction marks) and text that is not valid UTF-8 are refused.
std::optional<std::string> UserNameFault(std::string_view name);

// The form two names share when a person would take one for the other: ICU's confusable
// skeleton (UTS #39) of their matching forms, so "аdmin" with a Cyrillic а, "admın" with a
// dotless ı and "ADMIN" all share the skeleton of "admin".
std::string UserNameSkeleton(std::string_view name);

// Fails with Invalid argument (5) when `name` cannot be a user name, the description naming
// `label` (the argument) and the fault; the name itself is not repeated, as it may not print.
void RequireUserName(std::string_view name, std::string_view label);

// A user name argument as a filter compares it: its text, an empty text for Null.
std::string UserNameText(const Variant& name);

// The filter condition selecting the rows of IUser or SysSessions that hold user name `name`,
// and its values in marker order (UserNameFilterValues). A row with its matching form (UserKey)
// is found by it; a row written by other means without one (UserKey Null) by its stored
// spelling, the letter case of A-Z ignored, as a file's UserName column compares, on every
// engine. Both columns are indexed, so the engine serves each side of the OR from an index.
Sql UserNameFilter(const EngineDialect& dialect);
std::vector<Parameter> UserNameFilterValues(const Variant& name);

}  // namespace ledgerkit
