// Library-internal helpers shared by the topics of CACMgr.
#pragma once

#include <memory>
#include <initializer_list>
#include <string>

#include "common/Command.h"
#include "common/Variant.h"
#include "entities/ACTransLog.h"

namespace ledgerkit::ledger {

// The key of the company record (the owner of new rows); Object is nothing (91) without one.
Variant CompanyKey(const Variant& account);

// The header of the ledger transaction `number`; Invalid argument (5) naming the number when
// there is none.
std::shared_ptr<ACTransLog> RequireHeader(const Variant& account, const Variant& number);

// "No <what> has the key <key>." for a lookup by key that found nothing.
std::string NoRowWithKey(const std::string& what, const Variant& key);

// The row of entity class T with the key; Invalid argument (5) naming it when there is none.
template <class T>
std::shared_ptr<T> RequireByKey(const Variant& account, const Variant& key) {
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
