// The PostgreSQL engine's connection strings: the driver's answers about them (which it claims,
// their unit key, their company names, how they are shown) and the reading of a company URI into
// what libpq connects with.
//
// Secrets are found the way libpq reads the string (PQconninfoParse, URIs and key=value forms
// alike), never by guessing where a URI ends inside a message: the password of the user part
// and every password and sslpassword value are masked whatever characters they hold, and a
// string libpq cannot read is never shown beyond its scheme.
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"
#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

namespace {

// The company a connection URI names when it leaves the `company` parameter out.
constexpr std::string_view kDefaultCompany = "ledgerkit";
constexpr std::string_view kScheme = "postgresql://";
constexpr std::string_view kShortScheme = "postgres://";
// What stands for a secret in anything shown.
constexpr std::string_view kMask = "***";

bool IsUri(std::string_view text) { return text.starts_with(kScheme) || text.starts_with(kShortScheme); }

// Percent-decodes a URI parameter's value.
std::string Decode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int value = 0;
      std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

// Percent-decodes as libpq does (a '+' stays a '+').
std::string DecodePercent(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int value = 0;
    if (text[i] == '%' && i + 2 < text.size() &&
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Where libpq finds the parts of a URI: the user part runs to the first '@' before any '/' (its
// password follows its first ':'), and the parameters follow the first '?' after it.
struct UriLayout {
  size_t authority = 0;                     // just after "://"
  size_t at_sign = std::string_view::npos;  // the '@' ending the user part
  size_t password = std::string_view::npos; // the user part's password, up to at_sign
  size_t query = std::string_view::npos;    // the '?' opening the parameters
};

UriLayout LayoutOf(std::string_view uri) {
  UriLayout layout;
  layout.authority = uri.find("://") + 3;
  const size_t stop = uri.find_first_of("@/", layout.authority);
  if (stop != std::string_view::npos && uri[stop] == '@') {
    layout.at_sign = stop;
    const size_t colon = uri.find(':', layout.authority);
    if (colon < stop) layout.password = colon + 1;
  }
  layout.query = uri.find('?', layout.at_sign == std::string_view::npos ? layout.authority : layout.at_sign + 1);
  return layout;
}

bool IsSecretKeyword(std::string_view keyword) { return keyword == "password" || keyword == "sslpassword"; }

// One key=value parameter of a URI's query, as written.
struct Parameter {
  size_t begin;  // its first character
  size_t end;    // one past its last (the next '&' or the end)
  size_t value;  // the first character of its value, or npos without '='
};

std::vector<Parameter> ParametersOf(std::string_view uri, const UriLayout& layout) {
  std::vector<Parameter> parameters;
  if (layout.query == std::string_view::npos) return parameters;
  for (size_t begin = layout.query + 1; begin <= uri.size();) {
    size_t end = uri.find('&', begin);
    if (end == std::string_view::npos) end = uri.size();
    const size_t equals = uri.find('=', begin);
    parameters.push_back({begin, end, equals < end ? equals + 1 : std::string_view::npos});
    begin = end + 1;
  }
  return parameters;
}

// The URI with the library's own parameter (company=) taken out: what libpq reads. `company`
// receives its decoded value when one is there.
std::string WithoutCompany(std::string_view uri, std::optional<std::string>* company) {
  const UriLayout layout = LayoutOf(uri);
  if (layout.query == std::string_view::npos) return std::string(uri);
  std::string rest;
  for (const Parameter& parameter : ParametersOf(uri, layout)) {
    const std::string_view text = uri.substr(parameter.begin, parameter.end - parameter.begin);
    if (text.starts_with("company=")) {
      if (company != nullptr) *company = Decode(text.substr(8));
    } else if (!text.empty()) {
      rest += (rest.empty() ? "" : "&") + std::string(text);
    }
  }
  const std::string base(uri.substr(0, layout.query));
  return rest.empty() ? base : base + "?" + rest;
}

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

// libpq's reading of a connection string (URI or key=value), or nothing with `why` saying what
// it refused (without the part it quotes, which may be a piece of a secret).
Options ReadByLibpq(const std::string& conninfo, std::string* why) {
  char* error = nullptr;
  Options options(PQconninfoParse(conninfo.c_str(), &error), &PQconninfoFree);
  if (!options && why != nullptr) {
    std::string message = error != nullptr ? error : "out of memory";
    message = message.substr(0, message.find_first_of(":\"\r\n"));
    while (!message.empty() && message.back() == ' ') message.pop_back();
    *why = message;
  }
  PQfreemem(error);
  return options;
}

// What libpq read for `keyword`, or nothing when the string does not give it.
std::optional<std::string> OptionValue(const PQconninfoOption* options, std::string_view keyword) {
  for (const PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; ++option) {
    if (keyword == option->keyword) {
      if (option->val == nullptr) return std::nullopt;
      return std::string(option->val);
    }
  }
  return std::nullopt;
}

// The URI with the user part's password and every password and sslpassword value replaced by
// the mask, each where libpq finds it.
std::string MaskUri(std::string_view uri) {
  const UriLayout layout = LayoutOf(uri);
  std::string out;
  size_t copied = 0;
  if (layout.password != std::string_view::npos) {
    out += uri.substr(0, layout.password);
    out += kMask;
    copied = layout.at_sign;
  }
  if (layout.query == std::string_view::npos) return out + std::string(uri.substr(copied));
  out += uri.substr(copied, layout.query + 1 - copied);
  bool first = true;
  for (const Parameter& parameter : ParametersOf(uri, layout)) {
    if (!first) out += '&';
    first = false;
    const bool secret =
        parameter.value != std::string_view::npos &&
        IsSecretKeyword(DecodePercent(uri.substr(parameter.begin, parameter.value - 1 - parameter.begin)));
    if (secret) {
      out += uri.substr(parameter.begin, parameter.value - parameter.begin);
      out += kMask;
    } else {
      out += uri.substr(parameter.begin, parameter.end - parameter.begin);
    }
  }
  return out;
}

// The key=value form with every password and sslpassword value (quoted or not, with its
// backslash escapes) replaced by the mask, read token by token as libpq reads it.
std::string MaskKeywordValues(std::string_view text) {
  std::string out;
  size_t at = 0;
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (at < text.size()) {
    const size_t start = at;
    while (at < text.size() && blank(text[at])) ++at;
    const size_t keyword_begin = at;
    while (at < text.size() && text[at] != '=' && !blank(text[at])) ++at;
    const std::string_view keyword = text.substr(keyword_begin, at - keyword_begin);
    while (at < text.size() && blank(text[at])) ++at;
    if (at < text.size() && text[at] == '=') ++at;
    while (at < text.size() && blank(text[at])) ++at;
    out += text.substr(start, at - start);
    const size_t value_begin = at;
    if (at < text.size() && text[at] == '\'') {
      for (++at; at < text.size() && text[at] != '\''; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
      }
      if (at < text.size()) ++at;
    } else {
      for (; at < text.size() && !blank(text[at]); ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
      }
    }
    if (IsSecretKeyword(keyword)) {
      out += kMask;
    } else {
      out += text.substr(value_begin, at - value_begin);
    }
  }
  return out;
}

// The connection string as messages show it. The masked text is read by libpq again: unless
// every secret it reads there is the mask, and it reads one wherever the string had one, only
// the scheme is shown.
std::string ShownConnectionString(std::string_view text) {
  const bool uri = IsUri(text);
  const std::string unread = uri ? std::string(text.substr(0, text.find("://") + 3)) + "..." : "(connection string)";
  if (uri) {
    // A second '@' before the parameters (a password written with a raw '/' or '@') is read
    // by libpq as host and database, by a person as a password: shown as neither.
    const UriLayout layout = LayoutOf(text);
    const size_t from = layout.at_sign == std::string_view::npos ? layout.authority : layout.at_sign + 1;
    if (text.substr(from, layout.query - std::min(layout.query, from)).find('@') != std::string_view::npos) {
      return unread;
    }
  }
  const std::string masked = uri ? MaskUri(text) : MaskKeywordValues(text);
  const Options given = ReadByLibpq(uri ? WithoutCompany(text, nullptr) : std::string(text), nullptr);
  const Options shown = ReadByLibpq(uri ? WithoutCompany(masked, nullptr) : masked, nullptr);
  if (!given || !shown) return unread;
  for (const std::string_view keyword : {"password", "sslpassword"}) {
    const auto before = OptionValue(given.get(), keyword);
    const auto after = OptionValue(shown.get(), keyword);
    if (before.has_value() != after.has_value() || (after && *after != kMask)) return unread;
  }
  return masked;
}

std::string UnitKey(std::string_view account) {
  // One company, one key: the short scheme is written as the long one.
  if (account.starts_with(kShortScheme)) return std::string(kScheme) + std::string(account.substr(kShortScheme.size()));
  return std::string(account);
}

// A company is a schema: a plain lower-case identifier the server never reads specially.
constexpr size_t kMaxCompanyName = 63;

bool CompanyNameFits(std::string_view name) {
  bool plain = !name.empty() && name.size() <= kMaxCompanyName && !std::isdigit(static_cast<unsigned char>(name[0])) &&
               !name.starts_with("pg_");
  for (const char c : name) plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  return plain;
}

constexpr std::string_view kCompanyNameRule = "letters a-z, digits and _, at most 63, not starting with a digit or pg_";

// Refuses (Invalid argument, 5) a server URI that names a company already or that libpq cannot
// read, showing it masked.
std::string CompanyOnServer(std::string_view server, std::string_view name) {
  std::optional<std::string> named;
  static_cast<void>(WithoutCompany(server, &named));
  if (named) {
    throw Error::Runtime(kInvalidArgument, "The server URI names no company (each call names its own), but " +
                                               QuoteForMessage(ShownConnectionString(server)) +
                                               " has a company parameter.");
  }
  const char joint = LayoutOf(server).query == std::string_view::npos ? '?' : '&';
  std::string account = std::string(server) + joint + "company=" + std::string(name);
  static_cast<void>(ParsePostgresTarget(account));
  return account;
}

// PostgreSQL's SQLSTATE classes the library reports.
std::vector<EngineErrorEntry> PostgresErrors() {
  const std::pair<const char*, const char*> classes[] = {
      {"08", "connection exception: the server was lost or refused the connection; the next call connects again"},
      {"22", "data exception"},
      {"23", "integrity constraint violation"},
      {"25", "invalid transaction state"},
      {"28", "invalid authorization: the server refused the user or password"},
      {"40", "transaction rollback: a serialization failure or deadlock; nothing was changed"},
      {"42", "syntax error or access rule violation (a report query)"},
      {"53", "insufficient resources on the server"},
      {"54", "program limit exceeded"},
      {"55", "object not in prerequisite state (a lock not available)"},
      {"57", "operator intervention: the statement was cancelled or the server is shutting down"},
      {"58", "system error on the server"},
      {"XX", "internal error of the server"}};
  std::vector<EngineErrorEntry> errors;
  for (const auto& [klass, meaning] : classes) {
    const int32_t number = PostgresErrorNumber(std::string(klass) + "000");
    errors.push_back({std::string("PostgreSQL") + klass, number,
                      std::string("PostgreSQL, ") + ErrorNumberHex(number) + " (" +
                          ErrorNumberHex(static_cast<int32_t>(kPostgresErrorBase)) + " + SQLSTATE class " + klass +
                          " read as two base-36 digits): " + meaning + ". The description ends in the whole SQLSTATE, " +
                          "[SQLSTATE " + klass + "xxx]."});
  }
  return errors;
}

std::unique_ptr<EngineConnection> OpenUri(std::string_view uri) { return OpenPostgresCompany(ParsePostgresTarget(uri)); }

void CreateUri(std::string_view uri, const Catalog& catalog, const std::function<void()>& first_rows) {
  CreatePostgresDatabase(uri, catalog, first_rows);
}

}  // namespace

PostgresTarget ParsePostgresTarget(std::string_view uri) {
  PostgresTarget target;
  target.given = ShownConnectionString(uri);
  std::optional<std::string> company;
  target.uri = WithoutCompany(uri, &company);
  target.company = company.value_or(std::string(kDefaultCompany));
  // Both schemes name the same server: its sessions are shared.
  target.server = UnitKey(target.uri);
  // What libpq cannot read is refused here, in words of its own: libpq's message would quote
  // the piece it stopped at, which may be part of a password.
  std::string why;
  if (!ReadByLibpq(target.uri, &why)) {
    throw Error::Runtime(kInvalidArgument, "The connection URI " + target.given +
                                               " is not one libpq reads (" + why +
                                               "); a password holding & = # % or a blank is written percent-encoded.");
  }
  if (!CompanyNameFits(target.company)) {
    throw Error::Runtime(kInvalidArgument, "The company name " + QuoteForMessage(target.company) +
                                               " in the connection URI is not a plain lower-case name (" +
                                               std::string(kCompanyNameRule) + ").");
  }
  return target;
}

const EngineDriver& PostgresDriver() {
  static const EngineDriver driver{
      .name = kPostgresSource,
      .account_forms = "a postgresql:// or postgres:// URI",
      .names_files = false,
      .claims = IsUri,
      .connection_string = [](std::string_view account) { return std::string(account); },
      .unit_key = UnitKey,
      .shown = ShownConnectionString,
      .company_name_fits = CompanyNameFits,
      .company_name_rule = kCompanyNameRule,
      .company_account = CompanyOnServer,
      .errors = PostgresErrors,
      .open = OpenUri,
      .create = CreateUri,
      .dialect = PostgresEngineDialect(),
  };
  return driver;
}

}  // namespace ledgerkit
