#include "services/Users.h"

#include <string>

#include "common/UserNames.h"
#include "entities/EntityInternal.h"

namespace ledgerkit::services {

std::shared_ptr<IUser> UserProfile(const Variant& account, const Variant& user_name) {
  const auto users =
      Fetch<IUser>(account, FetchArgs{.filter = std::string(kUserNameFilter), .bind = UserNameFilterValues(user_name)});
  return FirstOf<IUser>(*users);
}

}  // namespace ledgerkit::services
