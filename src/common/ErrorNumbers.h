// The library's own public error numbers, one enumeration per manager. A member's value is the
// same in every enumeration that has it; each enumeration is a struct scope so that the shared
// member names (eValidationError, eSevereError) do not collide.
#pragma once

#include <cstdint>

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

}  // namespace ledgerkit
