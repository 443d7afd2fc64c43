// EnumerationClass: what the three enumeration classes share. Each publishes one stored
// enumeration as a two-column values table (Code: the value as decimal text, Description) and
// tests whether a value belongs to it. The table is built on first use and kept for the life of
// the object; GetAllValues always returns that same result set, so IsValidValue moves its cursor.
// No database is touched. Failures carry a diagnostic block naming the operation.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Recordset.h"

namespace ledgerkit {

class EnumerationClass : public Dispatch {
 public:
  // One member of the enumeration: its value, its constant's name and its description text.
  struct Member {
    int32_t value;
    std::string_view name;
    std::string_view description;
  };

  const MemberTable& Members() const override;

  // The values table, one row per member in ascending value order; built on the first call and
  // then left on its last row. Every call returns the same result set object.
  std::shared_ptr<Recordset> GetAllValues();
  // True when vntValue, as text, equals the Code of a row (exact, case-sensitive): the number
  // 3, the number 3.0 and the text 3 match Code "3"; " 3" and "03" do not. The values table is
  // left after the matching row, or at its end. Null fails with Invalid use of Null.
  bool IsValidValue(const Variant& vntValue);

  // The enumeration's public name ("eTransType") and its members in ascending value order.
  std::string_view enumeration_name() const { return enumeration_name_; }
  std::span<const Member> values() const { return members_; }

 protected:
  // `enumeration_name` is the enumeration's public name ("eTransType"); it forms the labels of
  // the diagnostic blocks.
  EnumerationClass(std::string_view enumeration_name, std::span<const Member> members);

 private:
  std::string_view enumeration_name_;
  std::string get_all_values_label_;
  std::string is_valid_value_label_;
  std::span<const Member> members_;
  std::shared_ptr<Recordset> values_;
};

}  // namespace ledgerkit
