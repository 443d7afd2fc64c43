// Services on the company's business details: its name, its primary location's address and its
// document counters. Like the company services (services/Company.h) they run inside the
// caller's active unit of work; the values are typed as converted at the door
// (services/Arguments.h), nullopt storing NULL.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/ISubscriberLocation.h"

namespace ledgerkit::services {

// Sets the name of the company (every ISubScriber row of the file).
void SetCompanyName(const Variant& account, const std::optional<std::string>& name);

struct BusinessAddress {
  std::optional<std::string> address1;
  std::optional<std::string> address2;
  std::optional<std::string> address3;
  std::optional<std::string> city;
  std::optional<std::string> province;
  std::optional<std::string> postal_code;
  std::optional<std::string> country;
  std::optional<std::string> telephone;
  std::optional<std::string> fax;
};

// Sets the address of the location marked primary; changes nothing without one.
void SetPrimaryAddress(const Variant& account, const BusinessAddress& address);

// The location marked primary, or nullptr when there is none.
std::shared_ptr<ISubscriberLocation> PrimaryLocation(const Variant& account);

struct DocumentCounters {
  std::optional<int32_t> next_invoice;
  std::optional<int32_t> next_expense_report;
  std::optional<int32_t> next_client_account;
};

// Stores the three document counters as given (no range or order check).
void SetDocumentCounters(const Variant& account, const DocumentCounters& counters);

}  // namespace ledgerkit::services
