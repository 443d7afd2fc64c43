// What every public name means, for the API description (ledgerkit describe, the OpenRPC
// document, docs/API.md): a sentence per member, the kind, bounds, units and Empty meaning of
// every argument, a sentence per entity property. Names, argument order and what a member
// returns come from the member tables; texts' widths and keys' tables from the schema catalog;
// enumeration values from the enumeration classes. This file adds only what those cannot say.
//
// An argument is described by its name, once, in `CommonArguments()` (Account, UserName and
// Token mean the same in every member); a member whose argument of that name means something
// else, or is bounded otherwise, says so in its own `arguments`. The tests hold every member,
// argument and property of the API to having a meaning here, and every name here to naming one.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ledgerkit {

// The kind of a value on the wire.
enum class ValueKind {
  kText,         // a string; `of` names the catalog column ("ACAccount.Name") whose width bounds it,
                 // or `width` gives the bound; neither: unbounded
  kLong,         // a 32-bit integer
  kKey,          // a positive 32-bit integer naming a row of the table `of`
  kKeyList,      // keys of the table `of` as text joined by "|", such as "3|8|15"
  kCurrency,     // money, exact to the ten-thousandth: {"$currency": "12.5"}
  kDate,         // {"$date": "2026-03-31"} or with a time of day
  kBoolean,      // true / false
  kDouble,       // a JSON number
  kEnumeration,  // a Long among the values of the enumeration `of` ("eTransType"), or of `values`
  kObject,       // a held object, {"$object": H}, of the class `of`
  kVariant,      // any value; `meaning` says which are taken
};

// One allowed value of a Long that is no published enumeration (Paid: -1, 0, 1).
struct AllowedValue {
  int32_t value;
  std::string_view name;
  std::string_view meaning;
};

struct ArgumentMeaning {
  std::string_view name;
  ValueKind kind = ValueKind::kVariant;
  std::string_view of = {};  // see ValueKind
  int32_t width = 0;         // kText: the most characters taken, when `of` names no column
  // What Empty ({"$empty": true}) means for this argument; empty when Empty is refused.
  std::string_view empty = {};
  // What Null means, where it is taken; empty when it is refused.
  std::string_view null = {};
  // The unit a number is in, where it is not plain ("percent: 13 is 13 %").
  std::string_view unit = {};
  std::vector<AllowedValue> values = {};  // kEnumeration without a published enumeration
  std::string_view meaning = {};          // one short sentence
  bool written_back_meaning = false;      // the member writes this argument back (see `meaning`)
};

struct MemberMeaning {
  std::string_view class_name;  // "CACMgr"
  std::string_view member;      // "IssueInvoice"
  std::string_view meaning;     // one or two short sentences: what it does, what it changes
  std::string_view returns = {};  // what the value it returns means; empty for nothing
  // The kind of the value, for a member whose table says only Variant (a new row's key, a
  // balance); kVariant when it may be anything. `value_null`: Null is also returned.
  ValueKind value = ValueKind::kVariant;
  bool value_null = false;
  // Arguments whose meaning here differs from CommonArguments(), by name.
  std::vector<ArgumentMeaning> arguments = {};
  // Error numbers a caller should expect from this member beyond the common ones (bad
  // arguments, a missing company, a refused session), with when: {number, "when ..."}.
  std::vector<std::pair<int32_t, std::string_view>> errors = {};
};

struct PropertyMeaning {
  std::string_view entity;    // "ACAccount"
  std::string_view property;  // "Balance"
  std::string_view meaning;
  std::string_view unit = {};
  std::vector<AllowedValue> values = {};  // a Long with a fixed set of values (Paid)
  std::string_view enumeration = {};      // a Long among a published enumeration's values
};

struct ClassMeaning {
  std::string_view name;  // a creatable class, an entity class, Collection or Recordset
  std::string_view meaning;
};

std::span<const ArgumentMeaning> CommonArguments();
std::span<const MemberMeaning> MemberMeanings();
std::span<const PropertyMeaning> PropertyMeanings();
std::span<const ClassMeaning> ClassMeanings();

// Lookups; nullptr when there is none.
const MemberMeaning* FindMemberMeaning(std::string_view class_name, std::string_view member);
// The member's own meaning of the argument when it has one, else the common one.
const ArgumentMeaning* FindArgumentMeaning(std::string_view class_name, std::string_view member,
                                           std::string_view argument);
const PropertyMeaning* FindPropertyMeaning(std::string_view entity, std::string_view property);
const ClassMeaning* FindClassMeaning(std::string_view name);

}  // namespace ledgerkit
