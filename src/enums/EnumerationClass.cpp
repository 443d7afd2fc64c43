#include "ledgerkit/enums/EnumerationClass.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/MemberTable.h"

namespace ledgerkit {

EnumerationClass::EnumerationClass(std::string_view enumeration_name, std::span<const Member> members)
    : enumeration_name_(enumeration_name),
      get_all_values_label_("VantorINV::" + std::string(enumeration_name) + "::GetAllValues"),
      is_valid_value_label_("VantorINV::" + std::string(enumeration_name) + "::IsValidValue"),
      members_(members) {}

const MemberTable& EnumerationClass::Members() const {
  static const MemberTable table{
      MethodMember<&EnumerationClass::GetAllValues>("GetAllValues"),
      MethodMember<&EnumerationClass::IsValidValue>("IsValidValue", {"vntValue"}),
  };
  return table;
}

std::shared_ptr<Recordset> EnumerationClass::GetAllValues() {
  return WithDiagnosticBlock(get_all_values_label_, [&] {
    if (!values_) {
      auto values = std::make_shared<Recordset>();
      values->AppendColumn("Code", FieldType::kText, 255, kFieldKeyColumn);
      values->AppendColumn("Description", FieldType::kText, 255, kFieldMayBeNull);
      values->Open();
      for (const Member& member : members_) {
        values->AddNew();
        values->SetField(0, std::to_string(member.value));
        values->SetField(1, std::string(member.description));
      }
      values_ = std::move(values);
    }
    return values_;
  });
}

bool EnumerationClass::IsValidValue(const Variant& vntValue) {
  return WithDiagnosticBlock(is_valid_value_label_, [&] {
    Recordset& values = *GetAllValues();
    values.MoveFirst();
    const std::string text = ToText(vntValue, "vntValue");
    bool found = false;
    while (!values.AtEOF() && !found) {
      found = values.Field(0).AsString() == text;
      values.MoveNext();
    }
    return found;
  });
}

}  // namespace ledgerkit
