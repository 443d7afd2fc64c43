// Library-internal helpers shared by the topics of CACMgr.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "common/Command.h"
#include "common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "common/Variant.h"
#include "entities/EntityInternal.h"
#include "entities/ACTransLog.h"

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

// The key of the company record (the owner of new rows); Object is nothing (91) without one.
Variant CompanyKey(const Variant& account);


// A key that may be left unset: Null stays Null (stored as NULL), anything else is converted
// by ToKey and fails as it does.
Variant NullableKey(const Variant& value);

// The value as a message shows it: its text, or Null.
std::string Shown(const Variant& value);

// The header of the ledger transaction `number` (a text, Null read as empty); Invalid argument
// (5) naming the number when there is none.
std::shared_ptr<ACTransLog> RequireHeader(const Variant& account, const Variant& number);

// "No <what> has the key <key>." for a lookup by key that found nothing.
std::string NoRowWithKey(const std::string& what, int32_t key);

// The row of entity class T with the key; Invalid argument (5) naming it when there is none.
template <class T>
std::shared_ptr<T> RequireByKey(const Variant& account, int32_t key) {
  const auto rows = Fetch<T>(account, FetchArgs{.id = key});
  return RequireFirst<T>(*rows, NoRowWithKey(std::string(T::Def().table), key));
}

// Runs one statement with its parameters as one write operation.
void RunWrite(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters);

// Runs one INSERT with a RETURNING clause as one write operation and returns the key it gives.
Variant InsertReturningKey(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters);

// Inserts a row owned by the company ("p1" is the company key, put in front of `parameters`)
// as one write operation, and returns the key the statement's RETURNING clause gives.
Variant InsertOwned(const Variant& account, const char* sql, std::initializer_list<Parameter> parameters);

}  // namespace ledgerkit::ledger
