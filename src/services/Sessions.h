// Services on the logon sessions of a company file (SysSessions), for the operations of every
// manager; like the other services they run inside the caller's active unit of work. A session
// belongs to a user name, matched as user names are (security/UserNames.h), and is found by its
// token.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/SysSessions.h"

namespace ledgerkit::services {

// Replaces every session of `user_name` (any spelling of it) by a new one and returns its
// token. The name is stored as given, with its matching form beside it.
std::string StartSession(const Variant& account, std::string_view user_name);

// Removes every session of `user_name`, whatever its spelling or token.
void EndSessions(const Variant& account, std::string_view user_name);

// The session holding `token`, or nullptr when there is none (an empty token finds none).
std::shared_ptr<SysSessions> SessionByToken(const Variant& account, std::string_view token);

// What KeepSessionAlive found.
enum class SessionState { kLive, kNone, kExpired };

// The session holding `token` as a service that enforces idle time sees it: kNone when there is
// none; kExpired (and the row removed) when its LastUpdate is more than `max_idle_seconds` old;
// otherwise kLive, with LastUpdate set to now. Needs a writing unit.
SessionState KeepSessionAlive(const Variant& account, std::string_view token, int64_t max_idle_seconds);

}  // namespace ledgerkit::services
