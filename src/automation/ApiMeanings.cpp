// The meanings of the public names; see ApiMeanings.h.
#include "automation/ApiMeanings.h"

namespace ledgerkit {

namespace {

using K = ValueKind;

// Arguments that mean the same wherever they appear.
const std::vector<ArgumentMeaning>& Common() {
  static const std::vector<ArgumentMeaning> all = {
      {.name = "Account",
       .kind = K::kText,
       .meaning = "The company: a company file's path (or `Driver=SQLite;Dbq=PATH`), a PostgreSQL company URI, or "
                  "over `ledgerkit serve` the company's name."},
      {.name = "UserName", .kind = K::kText, .of = "SysSessions.UserName",
       .meaning = "The user of the session the call is made in."},
      {.name = "Token", .kind = K::kText, .of = "SysSessions.Token",
       .meaning = "The session's token, as `BeginUserSession` returned it."},
  };
  return all;
}

const std::vector<MemberMeaning>& Members() {
  static const std::vector<MemberMeaning> all = {
      {.class_name = "CACMgr",
       .member = "GetAllAccounts",
       .meaning = "Every account of the chart, active or not, by account number.",
       .returns = "The accounts."},
  };
  return all;
}

const std::vector<PropertyMeaning>& Properties() {
  static const std::vector<PropertyMeaning> all = {
      {.entity = "ACAccount", .property = "Balance",
       .meaning = "The account's stored balance: debits less credits of its committed register rows."},
  };
  return all;
}

const std::vector<ClassMeaning>& Classes() {
  static const std::vector<ClassMeaning> all = {
      {.name = "CACMgr", .meaning = "The ledger: accounts, account types, banks, transactions, reconciliation, tax codes, invoices."},
  };
  return all;
}

}  // namespace

std::span<const ArgumentMeaning> CommonArguments() { return Common(); }
std::span<const MemberMeaning> MemberMeanings() { return Members(); }
std::span<const PropertyMeaning> PropertyMeanings() { return Properties(); }
std::span<const ClassMeaning> ClassMeanings() { return Classes(); }

const MemberMeaning* FindMemberMeaning(std::string_view class_name, std::string_view member) {
  for (const MemberMeaning& entry : Members()) {
    if (entry.class_name == class_name && entry.member == member) return &entry;
  }
  return nullptr;
}

const ArgumentMeaning* FindArgumentMeaning(std::string_view class_name, std::string_view member,
                                           std::string_view argument) {
  if (const MemberMeaning* own = FindMemberMeaning(class_name, member)) {
    for (const ArgumentMeaning& entry : own->arguments) {
      if (entry.name == argument) return &entry;
    }
  }
  for (const ArgumentMeaning& entry : Common()) {
    if (entry.name == argument) return &entry;
  }
  return nullptr;
}

const PropertyMeaning* FindPropertyMeaning(std::string_view entity, std::string_view property) {
  for (const PropertyMeaning& entry : Properties()) {
    if (entry.entity == entity && entry.property == property) return &entry;
  }
  return nullptr;
}

const ClassMeaning* FindClassMeaning(std::string_view name) {
  for (const ClassMeaning& entry : Classes()) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace ledgerkit
