// Services on the company record, for the operations of every manager: typed functions that run
// inside the caller's active unit of work on `account` (never a unit of their own), so a public
// operation converts its arguments once and calls these instead of another public operation.
//
// Library-internal.
#pragma once

#include <cstdint>
#include <memory>

#include "ledgerkit/common/Variant.h"
#include "ledgerkit/entities/ISubScriber.h"

namespace ledgerkit::services {

// The company record (the first ISubScriber row), or nullptr when the file has none.
std::shared_ptr<ISubScriber> CompanyRecord(const Variant& account);

// The key of the company record, which owns every new row; Object is nothing (91) without one.
int32_t CompanyKey(const Variant& account);

// Hands out the next ledger transaction number: returns the counter's value (Null when the
// counter holds Null, which stays Null) and advances it by one. The number stays consumed even
// when the unit of work around the call rolls back. Needs a writing unit. Overflow (6) when the
// counter is at its largest value; Object is nothing (91) without a company record.
Variant TakeTransactionNumber(const Variant& account);

}  // namespace ledgerkit::services
