// Library-internal helpers shared by the topics of CACMgr.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ledgerkit/common/ErrorConvention.h"
#include "common/Operation.h"
#include "common/RowWrite.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/common/Variant.h"
#include "entities/EntityInternal.h"
#include "services/Company.h"

namespace ledgerkit::ledger {

// Runs a read operation over rows of entity class T as one unit of work, like RunOperation.
// The fetch is what reads the file, so a file that cannot be opened (or an Account that names
// none) is reported as T's fetch reports it: inside its diagnostic block, for the ledger
// classes, with the marker once. Every other failure leaves marked once.
template <class T, class Body>
auto RunEntityRead(const Variant& account, Body&& body) {
  return WithMarkedReraise([&] {
    bool opened = false;
    try {
      return UnitOfWork::Run(account, Access::kRead, [&] {
        opened = true;
        return body();
      });
    } catch (...) {
      if (opened || T::Def().fetch_label.empty()) throw;
      throw AddDiagnosticBlock(T::Def().fetch_label, MarkError(CurrentError()));
    }
  });
}

// A key that may be left unset: Null stays Null (stored as NULL), anything else is converted
// by ToKey and fails as it does (naming `argument` as the one at fault).
Variant NullableKey(const Variant& value, std::string_view argument = {});

// The value as a message shows it: its text, or Null.
std::string Shown(const Variant& value);

// "No <what> has the key <key>." for a lookup by key that found nothing.
std::string NoRowWithKey(const std::string& what, int32_t key);

// The row of entity class T with the key; Invalid argument (5) naming it when there is none,
// with `argument`, the caller's argument the key came from, as the one at fault.
template <class T>
std::shared_ptr<T> RequireByKey(const Variant& account, int32_t key, std::string_view argument = {}) {
  const auto rows = Fetch<T>(account, FetchArgs{.id = key});
  if (rows->Count() == 0) {
    throw Error::Runtime(kInvalidArgument, NoRowWithKey(std::string(T::Def().table), key)).WithArgument(argument);
  }
  return FirstOf<T>(*rows);
}

// Runs the change (Update) or removal (Delete) of `row` as one write operation.
void UpdateRows(const Variant& account, const RowWrite& row);
void DeleteRows(const Variant& account, const RowWrite& row);

// Inserts a row of catalog table Table owned by the company as one write operation and returns
// its key: Parent is the company key (Object is nothing (91) without a company record), then
// `fill` sets the row's own values.
template <class Table, class Fill>
Variant InsertOwned(const Variant& account, Fill fill) {
  return RunOperation(account, Access::kWrite, [&] {
    auto row = RowWrite::Of<Table>();
    row.Set(Table::Parent, services::CompanyKey(account), "SubscriberID");
    fill(row);
    return row.Insert(account);
  });
}

}  // namespace ledgerkit::ledger
