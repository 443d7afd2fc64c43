// The nesting depth of a JSON text, counted outside strings, so that a hostile text can be
// refused before the recursive parser (or the destructor of what it built) runs off the stack.
//
// Library-internal.
#pragma once

#include <string_view>

namespace ledgerkit {

int JsonNestingDepth(std::string_view text);

}  // namespace ledgerkit
