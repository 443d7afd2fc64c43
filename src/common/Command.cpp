#include "common/Command.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/ResultReader.h"
#include "common/Text.h"

namespace ledgerkit {

Parameter Param(const ColumnDef& column, Variant value, std::string_view label) {
  return Parameter{std::string(column.name), column.kind, column.kind == FieldType::kText ? column.width : 0,
                   std::move(value), std::string(label.empty() ? column.name : label)};
}

Parameter Selecting(const ColumnDef& column, Variant value) {
  return Parameter{std::string(column.name), column.kind, 0, std::move(value), std::string(column.name)};
}

Parameter SelectingText(const Variant& value, std::string label) {
  return Parameter{label, FieldType::kText, 0, value.IsNull() ? Variant("") : value, label};
}

namespace {

void BindConverted(EngineStatement& statement, int index, const Parameter& parameter);

}  // namespace

// A value that does not convert to its parameter's kind fails naming the parameter's label, the
// argument it came from, as the one at fault.
void BindParameter(EngineStatement& statement, int index, const Parameter& parameter) {
  try {
    BindConverted(statement, index, parameter);
  } catch (const Error& error) {
    throw error.WithArgument(parameter.label.empty() ? parameter.name : parameter.label);
  }
}

namespace {

void BindConverted(EngineStatement& statement, int index, const Parameter& parameter) {
  if (parameter.value.IsNull()) {
    statement.BindNull(index);
    return;
  }
  switch (parameter.type) {
    case FieldType::kLong: statement.BindInteger(index, ToLong(parameter.value)); return;
    case FieldType::kInteger: statement.BindInteger(index, ToInteger(parameter.value)); return;
    case FieldType::kKey: statement.BindInteger(index, ToKey(parameter.value)); return;
    case FieldType::kBoolean: statement.BindInteger(index, ToBoolean(parameter.value) ? 1 : 0); return;
    case FieldType::kCurrency: statement.BindInteger(index, ToCurrency(parameter.value).scaled()); return;
    case FieldType::kDouble: statement.BindReal(index, ToDouble(parameter.value)); return;
    case FieldType::kDate: statement.BindText(index, ToDate(parameter.value).ToStoredText()); return;
    case FieldType::kText: {
      const std::string text = ToText(parameter.value);
      if (parameter.size > 0) {
        RequireFitsWidth(text, static_cast<size_t>(parameter.size), parameter.label.empty() ? parameter.name : parameter.label);
      }
      statement.BindText(index, text);
      return;
    }
    case FieldType::kVariant: break;
  }
  // A value of no declared kind is bound as what it holds.
  switch (parameter.value.type()) {
    case VarType::kDouble: statement.BindReal(index, ToDouble(parameter.value)); return;
    case VarType::kString: statement.BindText(index, ToText(parameter.value)); return;
    case VarType::kDate: statement.BindText(index, ToDate(parameter.value).ToStoredText()); return;
    case VarType::kCurrency: statement.BindInteger(index, ToCurrency(parameter.value).scaled()); return;
    case VarType::kBoolean: statement.BindInteger(index, ToBoolean(parameter.value) ? 1 : 0); return;
    default: statement.BindInteger(index, ToLong(parameter.value)); return;
  }
}

}  // namespace

Command::Command(const Variant& account) : scope_(account) {}

Command::~Command() = default;

void Command::SetText(Sql sql) {
  if (sql != text_) statement_.reset();
  text_ = std::move(sql);
}

void Command::Append(std::string name, FieldType type, int32_t size, Variant value, std::string label) {
  parameters_.push_back(Parameter{std::move(name), type, size, std::move(value), std::move(label)});
}

void Command::Delete(size_t index) {
  if (index >= parameters_.size()) {
    throw Error::Runtime(kInvalidArgument, "The command has no parameter at index " + std::to_string(index) + ".");
  }
  parameters_.erase(parameters_.begin() + static_cast<std::ptrdiff_t>(index));
}

void Command::Assign(size_t index, Variant value) {
  if (index >= parameters_.size()) {
    throw Error::Runtime(kInvalidArgument, "The command has no parameter at index " + std::to_string(index) + ".");
  }
  parameters_[index].value = std::move(value);
}

void Command::Assign(std::string_view name, Variant value) {
  for (Parameter& parameter : parameters_) {
    if (parameter.name == name) {
      parameter.value = std::move(value);
      return;
    }
  }
  throw Error::Runtime(kInvalidArgument, "The command has no parameter named " + std::string(name) + ".");
}

void Command::Bind() {
  if (!statement_) statement_ = scope_.connection().Prepare(text_);
  statement_->Reset();
  const int markers = statement_->ParameterCount();
  if (markers != static_cast<int>(parameters_.size())) {
    throw Error::Runtime(kInvalidArgument, "The statement has " + std::to_string(markers) + " parameter markers but " +
                                               std::to_string(parameters_.size()) +
                                               " parameters were given: " + text_.Shown());
  }
  for (size_t i = 0; i < parameters_.size(); ++i) BindParameter(*statement_, static_cast<int>(i) + 1, parameters_[i]);
}

int64_t Command::Execute() {
  Bind();
  while (statement_->Step()) {
  }
  return scope_.connection().Changes();
}

Variant Command::ExecuteScalar(std::optional<FieldType> as) {
  Bind();
  if (statement_->ColumnCount() == 0 || !statement_->Step()) {
    throw Error::Runtime(kNoCurrentRow, "No current row: the statement returned no row: " + text_.Shown());
  }
  const FieldType type = as ? *as : DescribeColumn(statement_->Column(0)).type;
  Variant value = ReadValue(*statement_, 0, type);
  // Run a write with RETURNING to its end so that every row it touches is done.
  while (statement_->Step()) {
  }
  return value;
}

std::shared_ptr<Recordset> Command::ExecuteQuery() {
  Bind();
  return ReadAll(*statement_);
}

}  // namespace ledgerkit
