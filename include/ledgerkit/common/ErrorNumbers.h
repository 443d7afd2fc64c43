// The library's own public error numbers, one enumeration per manager. A member's value is the
// same in every enumeration that has it; each enumeration is a struct scope so that the shared
// member names (eValidationError, eSevereError) do not collide.
#pragma once

#include <cstdint>
#include <string_view>

namespace ledgerkit {

struct errCACMgr {
  enum Value : int32_t {
    eValidationError = static_cast<int32_t>(0x80040000u),
    eBadTransType = static_cast<int32_t>(0x80040001u),
    eAcctTypeMismatch = static_cast<int32_t>(0x80040002u),
    eSevereError = static_cast<int32_t>(0x800403E8u),
  };
};

struct errCUserManager {
  enum Value : int32_t {
    eValidationError = static_cast<int32_t>(0x80040000u),
    eUserNameExists = static_cast<int32_t>(0x80040002u),
    eUserIsReferenced = static_cast<int32_t>(0x80040003u),
    eSevereError = static_cast<int32_t>(0x800403E8u),
  };
};

struct errCSecurityMgr {
  enum Value : int32_t {
    eValidationError = static_cast<int32_t>(0x80040000u),
    eInvalidUserInfo = static_cast<int32_t>(0x80040001u),
    eUserAlreadyLoggedIn = static_cast<int32_t>(0x80040002u),
    eUserNotLoggedIn = static_cast<int32_t>(0x80040003u),
    eSevereError = static_cast<int32_t>(0x800403E8u),
    eSessionExpired = static_cast<int32_t>(0x800403E9u),
  };
};

// Message texts of the library's own errors, used exactly as they stand.
namespace messages {
inline constexpr const char* kBadTransType = "Bad Transaction Type.";
inline constexpr const char* kAcctTypeMismatch =
    "The account type must be the same as the parent account's type.";
inline constexpr const char* kUserNameExists =
    "That username is already being used.  Please try another.";
inline constexpr const char* kUserIsReferenced =
    "This user cannot be deleted because it is referenced by the following:\r\n\r\n%1\r\n\r\n"
    "Please remove these references before deleting the user.";
inline constexpr const char* kInvalidUserInfo = "The logon information you entered was incorrect.";
}  // namespace messages

// Every public error number of the library, for describing the API: its enumeration, its
// member name, its value and what a caller receives (the message text, or what it means when
// the text comes from the failure). The values are the enumerations' own.
struct LibraryErrorInfo {
  std::string_view enumeration;
  std::string_view name;
  int32_t number;
  std::string_view text;
};

inline constexpr std::string_view kNotRaised = "Declared for callers; no operation raises it.";

inline constexpr LibraryErrorInfo kLibraryErrors[] = {
    {"errCACMgr", "eValidationError", errCACMgr::eValidationError, kNotRaised},
    {"errCACMgr", "eBadTransType", errCACMgr::eBadTransType, messages::kBadTransType},
    {"errCACMgr", "eAcctTypeMismatch", errCACMgr::eAcctTypeMismatch, messages::kAcctTypeMismatch},
    {"errCACMgr", "eSevereError", errCACMgr::eSevereError, kNotRaised},
    {"errCUserManager", "eValidationError", errCUserManager::eValidationError, kNotRaised},
    {"errCUserManager", "eUserNameExists", errCUserManager::eUserNameExists, messages::kUserNameExists},
    {"errCUserManager", "eUserIsReferenced", errCUserManager::eUserIsReferenced, messages::kUserIsReferenced},
    {"errCUserManager", "eSevereError", errCUserManager::eSevereError, kNotRaised},
    {"errCSecurityMgr", "eValidationError", errCSecurityMgr::eValidationError, kNotRaised},
    {"errCSecurityMgr", "eInvalidUserInfo", errCSecurityMgr::eInvalidUserInfo, messages::kInvalidUserInfo},
    {"errCSecurityMgr", "eUserAlreadyLoggedIn", errCSecurityMgr::eUserAlreadyLoggedIn, kNotRaised},
    {"errCSecurityMgr", "eUserNotLoggedIn", errCSecurityMgr::eUserNotLoggedIn, kNotRaised},
    {"errCSecurityMgr", "eSevereError", errCSecurityMgr::eSevereError, kNotRaised},
    {"errCSecurityMgr", "eSessionExpired", errCSecurityMgr::eSessionExpired, kNotRaised},
};

}  // namespace ledgerkit
