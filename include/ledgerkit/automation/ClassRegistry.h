// CreateObject: the classes a caller may create by name. Entity classes, collections and
// result sets are only ever returned by operations and cannot be created.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Dispatch.h"

namespace ledgerkit {

// A new instance of the creatable class `name` (letter case ignored). Fails with Class cannot
// be created (429) for any other name.
std::shared_ptr<Dispatch> CreateObject(std::string_view name);

// The names of the creatable classes available in this build, in registration order.
std::vector<std::string> CreatableClassNames();

}  // namespace ledgerkit
