// Services on the users of a company, for the operations of every manager; like the company
// services (services/Company.h) they run inside the caller's active unit of work.
//
// Library-internal.
#pragma once

#include <memory>

#include "common/Variant.h"
#include "entities/IUser.h"

namespace ledgerkit::services {

// The profile of the user named `user_name` (matched as user names are: without regard to
// letter case or Unicode form), or nullptr when there is none. Null selects what an empty name
// selects.
std::shared_ptr<IUser> UserProfile(const Variant& account, const Variant& user_name);

}  // namespace ledgerkit::services
