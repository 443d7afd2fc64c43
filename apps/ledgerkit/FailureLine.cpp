#include "FailureLine.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <CLI/CLI.hpp>

#include "Copy.h"
#include "Table.h"
#include "ledgerkit/entities/Schema.h"

namespace ledgerkit::cli {

namespace {

// True when `path` is a company file: a SQLite database carrying the company mark. Read only
// after a failure, to say why the file could not be used.
bool HasCompanyMark(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char header[72] = {};
  if (!file.read(header, sizeof header)) return false;
  if (std::string_view(header, 16) != std::string_view("SQLite format 3\0", 16)) return false;
  // The application id: four bytes, big-endian, at offset 68 of the header.
  const auto byte = [&](int at) { return static_cast<uint32_t>(static_cast<unsigned char>(header[at])); };
  const uint32_t mark = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
  return mark == static_cast<uint32_t>(kApplicationId);
}

std::string Suffix(const Error& error) {
  return " (error " + std::to_string(error.number()) + ", " + error.source() + ")";
}

}  // namespace

std::string EscapedControls(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C1 controls arrive in UTF-8 as C2 80..C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if ((c < 0x20 && c != '\n' && c != '\r') || c == 0x7F || c1) {
      const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", code);
      escaped += hex;
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

std::string CommandCompany(const CLI::App& app) {
  // The deepest command chosen that has a FILE argument (`account add FILE ...` as `check FILE`).
  std::string company;
  for (const CLI::App* command = &app;;) {
    if (const CLI::Option* file = command->get_option_no_throw("FILE"); file != nullptr && file->count() > 0) {
      company = file->as<std::string>();
    }
    const auto chosen = command->get_subcommands();
    if (chosen.empty()) break;
    command = chosen.front();
  }
  return company;
}

std::string FailureLine(const Error& error, const std::string& company) {
  if (!company.empty() && !IsServerCompany(company)) {
    std::error_code ignored;
    const auto status = std::filesystem::status(company, ignored);
    if (!std::filesystem::exists(status)) return "no company at " + EscapedControls(company) + Suffix(error);
    if (!std::filesystem::is_regular_file(status) || !HasCompanyMark(company)) {
      return EscapedControls(company) + " is not a ledgerkit company" + Suffix(error);
    }
  }
  return ErrorLine(error);
}

}  // namespace ledgerkit::cli
