#include "Table.h"

#include "FailureLine.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/Text.h"

namespace ledgerkit::cli {

namespace {

// The text with each ill-formed UTF-8 sequence (each maximal part of one that could have begun a
// character) replaced by U+FFFD, so that text a file holds as arbitrary bytes still prints.
std::string ValidUtf8(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string valid;
  valid.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const Utf8Sequence sequence = Utf8SequenceAt(text, at);
    if (sequence.valid) {
      valid.append(text.substr(at, sequence.length));
    } else {
      valid += kReplacement;
    }
    at += sequence.length;
  }
  return valid;
}

bool AlignsRight(const Variant& value) {
  switch (value.type()) {
    case VarType::kInteger:
    case VarType::kLong:
    case VarType::kDouble:
    case VarType::kCurrency: return true;
    default: return false;
  }
}

// Display width of a UTF-8 text: one column per character.
size_t Width(const std::string& text) { return CountCharacters(text); }

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string CellText(const Variant& value) { return value.IsNull() || value.IsObject() ? "" : ValidUtf8(ToText(value)); }

void PrintTable(const Recordset& result, std::ostream& out) {
  if (!result.IsOpen()) {
    out << "(the statement returned no result set)\n";
    return;
  }
  const auto& columns = result.Columns();
  std::vector<size_t> widths;
  std::vector<std::string> names;
  for (const FieldInfo& column : columns) {
    names.push_back(ValidUtf8(column.name));
    widths.push_back(Width(names.back()));
  }
  std::vector<std::vector<std::string>> cells;
  for (const auto& row : result.Rows()) {
    std::vector<std::string> line;
    for (size_t i = 0; i < row.size(); ++i) {
      line.push_back(CellText(row[i]));
      widths[i] = std::max(widths[i], Width(line.back()));
    }
    cells.push_back(std::move(line));
  }
  // The last column is not padded on the right, so no line ends in blanks.
  auto pad = [&columns](const std::string& text, size_t width, bool right, size_t column) {
    const std::string fill(width - Width(text), ' ');
    if (right) return fill + text;
    return column + 1 == columns.size() ? text : text + fill;
  };
  for (size_t i = 0; i < columns.size(); ++i) out << (i ? "  " : "") << pad(names[i], widths[i], false, i);
  out << "\n";
  for (size_t i = 0; i < columns.size(); ++i) out << (i ? "  " : "") << std::string(widths[i], '-');
  out << "\n";
  for (size_t r = 0; r < cells.size(); ++r) {
    for (size_t i = 0; i < columns.size(); ++i) {
      out << (i ? "  " : "") << pad(cells[r][i], widths[i], AlignsRight(result.Rows()[r][i]), i);
    }
    out << "\n";
  }
  out << "(" << cells.size() << (cells.size() == 1 ? " row)\n" : " rows)\n");
}

void PrintCsv(const Recordset& result, std::ostream& out) {
  if (!result.IsOpen()) return;
  const auto& columns = result.Columns();
  for (size_t i = 0; i < columns.size(); ++i) out << (i ? "," : "") << CsvField(ValidUtf8(columns[i].name));
  out << "\r\n";
  for (const auto& row : result.Rows()) {
    for (size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << CsvField(CellText(row[i]));
    out << "\r\n";
  }
}

void PrintJson(const Recordset& result, std::ostream& out) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  if (result.IsOpen()) {
    const auto& columns = result.Columns();
    for (const auto& row : result.Rows()) {
      nlohmann::ordered_json object = nlohmann::ordered_json::object();
      for (size_t i = 0; i < row.size(); ++i) {
        const Variant& value = row[i];
        nlohmann::ordered_json& cell = object[ValidUtf8(columns[i].name)];
        switch (value.type()) {
          case VarType::kNull:
          case VarType::kEmpty:
          case VarType::kObject: cell = nullptr; break;
          case VarType::kInteger: cell = value.AsInteger(); break;
          case VarType::kLong: cell = value.AsLong(); break;
          case VarType::kDouble: cell = value.AsDouble(); break;
          case VarType::kBoolean: cell = value.AsBoolean(); break;
          // Money stays exact as decimal text; dates in their text form.
          default: cell = ValidUtf8(ToText(value)); break;
        }
      }
      rows.push_back(std::move(object));
    }
  }
  out << rows.dump(2) << "\n";
}

int PrintCheck(const std::vector<CheckFinding>& findings, bool as_json, std::ostream& out) {
  bool problems = false;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const CheckFinding& finding : findings) {
    const bool problem = finding.severity == CheckFinding::Severity::kProblem;
    problems |= problem;
    if (as_json) {
      nlohmann::ordered_json item = nlohmann::ordered_json::object();
      item["severity"] = problem ? "problem" : "warning";
      item["kind"] = finding.kind;
      item["message"] = finding.message;
      list.push_back(std::move(item));
    } else {
      out << (problem ? "problem " : "warning ") << finding.kind << ": " << finding.message << "\n";
    }
  }
  if (as_json) {
    out << list.dump(2) << "\n";
  } else if (findings.empty()) {
    out << "no findings\n";
  }
  if (problems) return 3;
  return findings.empty() ? 0 : 2;
}

std::string MoneyText(Currency amount) {
  std::string text = amount.ToText();
  const size_t point = text.find('.');
  if (point == std::string::npos) return text + ".00";
  if (text.size() - point == 2) text += '0';
  return text;
}

std::string ErrorLine(const Error& error) {
  // Control characters are made visible before the message is put on one line, so a value
  // echoed in it (a name, a line of a journal) shows what it holds and cannot act on the terminal.
  const std::string message = MessageForPerson(error.WithDescription(EscapedControls(error.description())));
  return message + " (error " + std::to_string(error.number()) + ", " + error.source() + ")";
}

}  // namespace ledgerkit::cli
