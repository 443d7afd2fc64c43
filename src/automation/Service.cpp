#include "automation/Service.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "automation/Directory.h"
#include "automation/JsonDepth.h"
#include "ledgerkit/automation/RpcBridge.h"
#include "common/CallLimits.h"
#include "ledgerkit/common/Convert.h"
#include "common/DataAccessInternal.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Dispatch.h"
#include "common/Engine.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Operation.h"
#include "common/Text.h"
#include "common/UnitOfWork.h"
#include "security/UserNames.h"
#include "ledgerkit/entities/IUser.h"
#include "ledgerkit/security/CUserManager.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "services/Sessions.h"
#include "services/Users.h"

namespace ledgerkit {

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// The runtime error every refusal carries; the HTTP status and the description say which.
constexpr int32_t kPermissionDenied = 70;
constexpr size_t kMaxCompanyName = 64;
constexpr int kMaxDepth = 100;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsLogon(std::string_view class_name, std::string_view member) {
  return SameText(class_name, "CSecurityMgr") && SameText(member, "BeginUserSession");
}

// Operations that change who may do what, or reach every row of the file, are an
// administrator's.
bool NeedsAdmin(std::string_view class_name, std::string_view member) {
  if (SameText(class_name, "CReportMgr")) return SameText(member, "ExecReportQuery");
  if (SameText(class_name, "CUserManager")) {
    return SameText(member, "AddUserProfile") || SameText(member, "UpdateUserProfile") ||
           SameText(member, "DeleteUserProfile");
  }
  // The company record: its name, address and counters.
  if (SameText(class_name, "CAccountMgr")) {
    return SameText(member, "UpdateNextNumbers") || SameText(member, "UpdateAccountBusinessInfo");
  }
  return false;
}

// Arguments that name the company an operation works on.
bool IsCompanyArgument(std::string_view name) { return SameText(name, "Account") || SameText(name, "sAccount"); }
// Arguments that name a company and that no operation consults: given the session's own file, so
// that nothing a caller writes there is ever opened.
bool IsUnusedCompanyArgument(std::string_view name) {
  return SameText(name, "ProfileAccount") || SameText(name, "ForAccount");
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A refusal decided before any bridge sees the request.
struct Refusal {
  int status;
  std::string description;
};

Json ErrorResponse(const Json& id, const Error& error);

Json RefusalResponse(const Json& id, const Refusal& refusal) {
  return ErrorResponse(id, Error::Runtime(kPermissionDenied, refusal.description));
}

Json ErrorResponse(const Json& id, const Error& error) {
  Json data = Json::object();
  data["number"] = error.number();
  data["source"] = error.source();
  data["description"] = error.description();
  data["text"] = MessageForPerson(error);
  if (error.argument()) data["argument"] = *error.argument();
  if (error.operation()) data["operation"] = *error.operation();
  Json body = Json::object();
  body["code"] = error.number();
  body["message"] = error.description();
  body["data"] = std::move(data);
  Json response = Json::object();
  response["jsonrpc"] = "2.0";
  response["id"] = id;
  response["error"] = std::move(body);
  return response;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// `text` as it stands in a JSON text (without the quotes around it).
std::string AsJsonText(const std::string& text) {
  const std::string quoted = Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
  return quoted.substr(1, quoted.size() - 2);
}

// `text` (a JSON text) with the company's location named by the company's name instead: as
// given, and as the engine's messages show it (its secrets masked), each also as JSON writes it.
void NameCompany(std::string& text, const std::string& location, const std::string& company) {
  const std::string shown = ShownAccount(location);
  for (const std::string& form : {location, AsJsonText(location), shown, AsJsonText(shown)}) {
    ReplaceAll(text, form, company);
  }
}

// Argument `index` of a request as the library would read it as text: a string as it stands, a
// number in its plain form (a user name sent as 42 is the user "42"); empty for anything else.
std::string TextArgument(const Json& request, size_t index) {
  if (!request.is_object() || !request.contains("params")) return {};
  const Json& params = request["params"];
  if (!params.is_array() || params.size() <= index) return {};
  const Json& value = params[index];
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return value.dump();
  if (value.is_number_float()) return ToText(Variant(value.get<double>()));
  return {};
}

bool IsPasswordArgument(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.find("password") != std::string::npos;
}

// Shown to the caller as an empty text: no password a caller sent comes back in `args`.
void BlankPasswordArguments(const MemberEntry& member, std::vector<Variant>& args) {
  for (size_t i = 0; i < args.size() && i < member.arguments.size(); ++i) {
    if (IsPasswordArgument(member.arguments[i])) args[i] = std::string();
  }
}

// Failed logons by key (a user of a company, or a client address) within a sliding window.
class FailureCounter {
 public:
  FailureCounter(int limit, std::chrono::seconds window) : limit_(limit), window_(window) {}

  // Seconds until `key` may try again, or 0 when it may now.
  int64_t Wait(const std::string& key) {
    std::lock_guard lock(mutex_);
    const auto found = failures_.find(key);
    if (found == failures_.end()) return 0;
    Trim(found->second);
    if (static_cast<int>(found->second.size()) < limit_) return 0;
    const auto until = found->second.front() + window_;
    return std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(until - Clock::now()).count());
  }

  // Forgets the failures of `key` (a user who has just logged on).
  void Reset(const std::string& key) {
    std::lock_guard lock(mutex_);
    failures_.erase(key);
  }

  void Record(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto& times = failures_[key];
    Trim(times);
    times.push_back(Clock::now());
    // Memory stays bounded whatever the number of keys tried: old keys go once idle.
    if (failures_.size() > 100'000) {
      for (auto it = failures_.begin(); it != failures_.end();) {
        Trim(it->second);
        it = it->second.empty() ? failures_.erase(it) : std::next(it);
      }
    }
  }

 private:
  void Trim(std::deque<Clock::time_point>& times) const {
    const auto oldest = Clock::now() - window_;
    while (!times.empty() && times.front() < oldest) times.pop_front();
    while (static_cast<int>(times.size()) > limit_) times.pop_front();
  }

  const int limit_;
  const std::chrono::seconds window_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<Clock::time_point>> failures_;
};

// What a filter decided about the call it last saw.
struct Verdict {
  int status = 200;     // 401 or 403 when the call was refused
  bool ended = false;   // the call ended the session
};

// A refusal of the call, naming `argument` when it is the argument that is refused.
[[noreturn]] void Deny(Verdict& verdict, int status, std::string description, std::string_view argument = {}) {
  verdict.status = status;
  throw Error::Runtime(kPermissionDenied, std::move(description)).WithArgument(argument);
}

std::string CompanyNameOf(const Variant& value) {
  return value.type() == VarType::kString ? value.AsString() : std::string();
}

// Where a company name leads: nothing for a name that is not one; a location with an empty
// account for a name no company has (a directory's miss).
using Locator = std::function<std::optional<CompanyLocation>(const std::string& name)>;

// The one call taken without a session: a logon, on the named company's file.
class LogonFilter final : public RpcCallFilter {
 public:
  // `locate` is LocateCompany on `options` when not given.
  LogonFilter(const ServiceOptions& options, Locator locate) : options_(options), locate_(std::move(locate)) {
    if (!locate_) locate_ = [this](const std::string& name) { return LocateCompany(options_, name); };
  }

  void BeforeCall(Dispatch& object, const MemberEntry& member, std::vector<Variant>& args) override {
    if (!IsLogon(object.ClassName(), member.name)) {
      Deny(verdict, 401, "Only CSecurityMgr.BeginUserSession is taken without a session.");
    }
    saved_.clear();
    for (size_t i = 0; i < args.size() && i < member.arguments.size(); ++i) {
      if (!IsCompanyArgument(member.arguments[i])) continue;
      const std::string name = CompanyNameOf(args[i]);
      const auto location = locate_(name);
      if (!location) {
        unknown_company = true;
        throw Error::Runtime(kInvalidArgument, "The Account argument must be a company name (" +
                                                   CompanyNameRule(options_) + "), not " + QuoteForMessage(name) + ".")
            .WithArgument(member.arguments[i]);
      }
      if (location->account.empty() || !CompanyExists(*location)) {
        unknown_company = true;
        throw Error::Runtime(kInvalidArgument, "There is no company named " + QuoteForMessage(name) + ".")
            .WithArgument(member.arguments[i]);
      }
      company = name;
      location_ = location->account;
      saved_.emplace_back(i, args[i]);
      args[i] = location->account;
    }
  }

  void AfterCall(Dispatch&, const MemberEntry& member, std::vector<Variant>& args) override {
    for (auto& [index, value] : saved_) args[index] = value;
    BlankPasswordArguments(member, args);
  }

  const std::string& location() const { return location_; }

  Verdict verdict;
  std::string company;
  bool unknown_company = false;  // the logon named a company that does not exist

 private:
  const ServiceOptions& options_;
  Locator locate_;
  std::string location_;
  std::vector<std::pair<size_t, Variant>> saved_;
};

struct Session;

// Every call of a session: its company and no other, as its user, with its token.
class SessionFilter final : public RpcCallFilter {
 public:
  SessionFilter(std::string company, std::string location, std::string user, std::string token)
      : company_(std::move(company)), location_(std::move(location)), user_(std::move(user)), token_(std::move(token)) {}

  void BeforeCall(Dispatch& object, const MemberEntry& member, std::vector<Variant>& args) override {
    const std::string_view class_name = object.ClassName();
    if (IsLogon(class_name, member.name)) {
      Deny(verdict, 403, "A logon is a request of its own, sent without a session.");
    }
    saved_.clear();
    for (size_t i = 0; i < args.size() && i < member.arguments.size(); ++i) {
      const std::string_view name = member.arguments[i];
      if (IsCompanyArgument(name)) {
        const std::string given = CompanyNameOf(args[i]);
        if (given != company_) {
          Deny(verdict, 401, "The session is not one of company " + QuoteForMessage(given) + "; log on to it.", name);
        }
        saved_.emplace_back(i, args[i]);
        args[i] = location_;
      } else if (IsUnusedCompanyArgument(name)) {
        saved_.emplace_back(i, args[i]);
        args[i] = location_;
      } else if (SameText(name, "UserName") || SameText(name, "theUserName")) {
        args[i] = user_;
      } else if (SameText(name, "Token")) {
        args[i] = token_;
      }
    }
    if (NeedsAdmin(class_name, member.name) && !IsAdmin()) {
      Deny(verdict, 403,
           std::string(class_name) + "." + std::string(member.name) + " needs a user with Admin; " +
               QuoteForMessage(user_) + " is not one.");
    }
  }

  void AfterCall(Dispatch& object, const MemberEntry& member, std::vector<Variant>& args) override {
    for (auto& [index, value] : saved_) args[index] = value;
    BlankPasswordArguments(member, args);
    if (SameText(object.ClassName(), "CSecurityMgr") && SameText(member.name, "EndUserSession")) verdict.ended = true;
  }

  Verdict verdict;

 private:
  // Read at every call that needs it, so that taking Admin away takes effect at once.
  bool IsAdmin() const {
    CUserManager users;
    const std::shared_ptr<IUser> profile = users.GetUserProfile(location_, user_, token_, location_, user_);
    if (!profile) return false;
    const Variant& admin = profile->Value("Admin");
    return admin.type() == VarType::kBoolean && admin.AsBoolean();
  }

  const std::string company_;
  const std::string location_;
  const std::string user_;
  const std::string token_;
  std::vector<std::pair<size_t, Variant>> saved_;
};

// Where a session stands at a call.
enum class Standing { kLive, kNone, kExpired, kUserGone, kUserBarred };

struct Session {
  std::string company;
  std::string location;
  std::string user;
  std::string user_key;  // company and the matching form of the user name
  std::string token;
  std::shared_ptr<SessionFilter> filter;
  std::unique_ptr<RpcBridge> bridge;
  std::mutex mutex;  // one call of a session at a time: a bridge serves one caller
  Clock::time_point last_use;
};

}  // namespace

namespace {

// The engine the companies of `options` are on: the one that reads the server URI, or the file
// engine for a data folder.
const EngineDriver& CompanyDriver(const ServiceOptions& options) {
  return DriverForAccount(options.server.empty() ? options.data_dir.string() : options.server);
}

}  // namespace

std::optional<CompanyLocation> LocateCompany(const ServiceOptions& options, std::string_view name) {
  // The service's own rule first (a name in sessions and the access log), then the engine's.
  if (!IsPlainCompanyName(name)) return std::nullopt;
  const EngineDriver& driver = CompanyDriver(options);
  if (!driver.company_name_fits(name)) return std::nullopt;
  const std::string place = options.server.empty() ? options.data_dir.string() : options.server;
  return CompanyLocation{driver.company_account(place, name), !driver.names_files};
}

std::string CompanyNameRule(const ServiceOptions& options) {
  if (!options.directory.empty()) return "1 to 64 letters, digits, '_' or '-', starting with a letter or digit";
  return std::string(CompanyDriver(options).company_name_rule) + ", starting with a letter or digit";
}

bool CompanyExists(const CompanyLocation& location) {
  if (!location.on_server) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(location.account, ignored);
  }
  // Opening the company checks its schema (and creates nothing): a schema that is missing, or
  // that holds no company, is refused as missing.
  try {
    UnitOfWork::Run(Variant(location.account), Access::kRead, [] {});
    return true;
  } catch (const Error& error) {
    if (CompanyDialect(Variant(location.account)).IsMissingCompany(error)) return false;
    // The engine's message shows the location with its secrets masked already.
    throw;
  }
}

void CheckServerUri(std::string_view uri) {
  const EngineDriver* server = nullptr;
  std::string forms;
  for (const EngineDriver* driver : EngineDrivers()) {
    if (driver->names_files) continue;
    if (driver->claims(uri)) server = driver;
    forms += (forms.empty() ? "" : " or ") + std::string(driver->account_forms);
  }
  if (forms.empty()) {
    throw Error::Runtime(kInvalidArgument, "This build reads no companies on a server (no server engine was built).");
  }
  if (server == nullptr) {
    // Not quoted: what credentials another kind of URI carries is not known here.
    throw Error::Runtime(kInvalidArgument, "The server must be " + forms + ".");
  }
  // The driver refuses a place it cannot add a company to: one that names a company already,
  // or one it cannot read.
  static_cast<void>(server->company_account(uri, "ledgerkit"));
}

class RpcService::Impl {
 public:
  explicit Impl(ServiceOptions options)
      : options_(std::move(options)),
        failures_(options_.max_failed_logons, options_.failure_window),
        probes_(kMaxUnknownCompanies, options_.failure_window),
        unknown_tokens_(kMaxUnknownTokens, options_.failure_window) {
    if (!options_.directory.empty()) {
      directory_ = std::make_unique<CompanyDirectory>(options_.directory);
      names_ = std::make_unique<DirectoryCache>(*directory_, options_.directory_cache);
    }
  }

  ServiceAnswer Handle(std::string_view body, std::string_view token, std::string_view client,
                       Clock::time_point deadline) {
    ServiceAnswer answer;
    ReapIdle();
    const CallLimitsScope limits(LimitsUntil(deadline));
    auto single = [&answer](std::string response) {
      answer.body = std::move(response);
      return answer;
    };
    if (JsonNestingDepth(body) > kMaxDepth || !Json::accept(body.begin(), body.end())) {
      // The bridge words these answers; no call is made.
      RpcBridge bridge(RpcLimits{}, std::make_shared<LogonFilter>(options_, Locator()));
      answer.body = bridge.HandleLine(body).value_or(std::string());
      return answer;
    }
    const Json parsed = Json::parse(body.begin(), body.end());
    if (!parsed.is_array()) {
      if (auto response = AnswerOne(parsed, token, client, answer)) return single(*response);
      answer.status = answer.status == 200 ? 204 : answer.status;
      return answer;
    }
    if (parsed.empty()) {
      RpcBridge bridge(RpcLimits{}, std::make_shared<LogonFilter>(options_, Locator()));
      answer.body = bridge.HandleLine("[]").value_or(std::string());
      return answer;
    }
    std::string out;
    for (const Json& request : parsed) {
      if (auto response = AnswerOne(request, token, client, answer)) {
        out += out.empty() ? '[' : ',';
        out += *response;
      }
    }
    if (out.empty()) {
      answer.status = answer.status == 200 ? 204 : answer.status;
      return answer;
    }
    answer.body = out + ']';
    return answer;
  }

  // What every call of one request is held to: the report time limit or the request's own
  // deadline, whichever comes first, and on files no link followed.
  CallLimits LimitsUntil(Clock::time_point deadline) {
    CallLimits limits;
    const Clock::time_point now = Clock::now();
    limits.report_limit_seconds = options_.report_timeout.count();
    limits.report_deadline = now + options_.report_timeout;
    if (deadline < limits.report_deadline) {
      limits.report_deadline = deadline;
      limits.report_limit_seconds = std::max<long long>(
          1, std::chrono::ceil<std::chrono::seconds>(deadline - now).count());
    }
    limits.refuse_links = options_.server.empty();
    if (directory_) limits.before_write = [this](const Variant& account) { AllowWrite(account); };
    return limits;
  }

  // Where company `name` is: for a directory, as its cache has it (a miss is a location with an
  // empty account).
  std::optional<CompanyLocation> Locate(const std::string& name) {
    if (!directory_) return LocateCompany(options_, name);
    if (!IsPlainCompanyName(name)) return std::nullopt;
    const std::optional<DirectoryEntry> entry = names_->Find(name);
    if (!entry) return CompanyLocation{};
    return CompanyLocation{entry->location, !DriverForAccount(entry->location).names_files};
  }

  // Every writing unit of a call over a directory asks here, with the company's write lock
  // held, whether the company at `account` may be written now: the directory is read afresh
  // (never the cache), so a move that has marked the company finds no write let through after
  // it, and one that holds the company's write lock to copy it lets none through before it ends.
  void AllowWrite(const Variant& account) {
    const std::string location = account.type() == VarType::kString ? account.AsString() : std::string();
    const std::optional<DirectoryEntry> entry = directory_->FindLocation(location);
    if (!entry) {
      names_->ForgetLocation(location);
      throw Error::Runtime(kPermissionDenied,
                           "The company is no longer at the location this call was given (it was moved or taken out "
                           "of the directory); nothing was written; call again.");
    }
    if (entry->moving) {
      throw Error::Runtime(kPermissionDenied, "The company " + QuoteForMessage(entry->name) +
                                                  " is being moved; writes are refused until the move is over "
                                                  "(reads are answered); nothing was written.");
    }
  }

  // The failed-logon counts: the directory's, shared by every service over it, or this
  // process's own. A directory that cannot be read fails FailureWait, and so refuses the logon:
  // the limit is never skipped. A failure that cannot be recorded or reset is let go: the
  // logon it follows was refused or made already, and the next FailureWait reaches the
  // directory again.
  int64_t FailureWait(const std::string& key) {
    if (directory_) return directory_->FailureWait(key, options_.max_failed_logons, options_.failure_window);
    return failures_.Wait(key);
  }
  void RecordFailure(const std::string& key) {
    if (!directory_) return failures_.Record(key);
    try {
      directory_->RecordFailure(key);
    } catch (const Error&) {
    }
  }
  void ResetFailures(const std::string& key) {
    if (!directory_) return failures_.Reset(key);
    try {
      directory_->ResetFailures(key);
    } catch (const Error&) {
    }
  }

  RpcLimits BridgeLimits(size_t max_handles) const {
    return RpcLimits{.max_line = size_t{64} << 20,
                     .max_handles = max_handles,
                     .max_held_bytes = options_.max_session_bytes,
                     .by_value = true,
                     .blank_properties = {"Password"}};
  }

  std::string CompanyOf(std::string_view token) const {
    std::lock_guard lock(sessions_mutex_);
    const auto found = sessions_.find(std::string(token));
    return found == sessions_.end() ? std::string() : found->second->company;
  }

  size_t SessionCount() const {
    std::lock_guard lock(sessions_mutex_);
    return sessions_.size();
  }

 private:
  static void Note(ServiceAnswer& answer, int status) {
    if (answer.status == 200 && status != 200) answer.status = status;
  }

  // The response text to one request, or nothing for a notification.
  std::optional<std::string> AnswerOne(const Json& request, std::string_view token, std::string_view client,
                                       ServiceAnswer& answer) {
    Json id = nullptr;
    bool notification = false;
    std::string method;
    if (request.is_object()) {
      notification = !request.contains("id");
      if (request.contains("id") && (request["id"].is_string() || request["id"].is_number())) id = request["id"];
      if (request.contains("method") && request["method"].is_string()) method = request["method"].get<std::string>();
    }
    if (answer.method.empty()) answer.method = method.substr(0, 100);
    if (method == "rpc.discover") {
      // The description of the protocol is public: no session is needed to read it. A bridge
      // of its own answers it (and refuses params), holding nothing.
      RpcBridge bridge(BridgeLimits(1));
      return bridge.HandleLine(Dump(request));
    }
    const size_t dot = method.find('.');
    if (dot != std::string::npos && IsLogon(method.substr(0, dot), method.substr(dot + 1))) {
      return Logon(request, id, client, answer);
    }
    auto refuse = [&](Refusal refusal) -> std::optional<std::string> {
      Note(answer, refusal.status);
      return Dump(RefusalResponse(id, refusal));
    };
    if (token.empty()) {
      return refuse({401, "This call needs the token of a session, sent as Authorization: Bearer TOKEN; log on with "
                          "CSecurityMgr.BeginUserSession."});
    }
    std::shared_ptr<Session> session = Find(token);
    if (session && directory_) {
      // The company may have moved (its sessions went with it) or left the directory since.
      std::optional<CompanyLocation> now;
      try {
        now = Locate(session->company);
      } catch (const Error& error) {
        return Dump(ErrorResponse(id, error));
      }
      if (!now || now->account != session->location) {
        DropToken(session->token);
        session = nullptr;
      }
    }
    if (!session) {
      if (WasReaped(token)) return refuse({401, ExpiredText()});
      session = Adopt(request, token, client);
      if (!session) return refuse({401, "No session holds this token; log on again."});
    }
    std::lock_guard turn(session->mutex);
    if (answer.company.empty()) {
      answer.company = session->company;
      answer.user = session->user;
    }
    Standing state = Standing::kNone;
    try {
      state = CheckSession(*session);
    } catch (const Error& error) {
      // The company file cannot be read (moved away, locked for too long): the call is not made.
      std::string text = Dump(ErrorResponse(id, error));
      NameCompany(text, session->location, session->company);
      return text;
    }
    if (state == Standing::kUserGone || state == Standing::kUserBarred) {
      // The user was deleted, or may no longer log on: every session of theirs ends now.
      RunOperation(session->location, Access::kWrite, [&] { services::EndSessions(session->location, session->user); });
      DropUser(session->user_key);
      return refuse({401, "The user " + QuoteForMessage(session->user) +
                              (state == Standing::kUserGone ? " no longer exists" : " may no longer log on") +
                              "; the session has ended."});
    }
    if (state != Standing::kLive) {
      DropToken(session->token);
      return refuse({401, state == Standing::kExpired ? ExpiredText() : "The session has ended; log on again."});
    }
    const bool password_change = SameText(method, "CSecurityMgr.ChangeUserPassword");
    const std::string client_key = "\n" + std::string(client);
    if (password_change) {
      // Guessing an old password counts with failed logons of the same user and address.
      int64_t wait = 0;
      try {
        wait = std::max(FailureWait(session->user_key), FailureWait(client_key));
      } catch (const Error& error) {
        return Dump(ErrorResponse(id, error));
      }
      if (wait > 0) return refuse({429, TooManyText(wait)});
    }
    session->last_use = Clock::now();
    session->filter->verdict = Verdict{};
    std::optional<std::string> line = session->bridge->HandleLine(Dump(request));
    const Verdict verdict = session->filter->verdict;
    Note(answer, verdict.status);
    if (password_change && line && IsInvalidUserInfo(Json::parse(*line, nullptr, false))) {
      RecordFailure(session->user_key);
      RecordFailure(client_key);
    }
    if (verdict.ended) DropUser(session->user_key);
    if (!line || notification) return std::nullopt;
    NameCompany(*line, session->location, session->company);
    return line;
  }

  // Where a session stands at a call: kUserGone or kUserBarred when its user was deleted or may
  // no longer log on; kNone when its row is gone; kExpired (and removed) past the idle limit;
  // else kLive. Its LastUpdate is written only when it is older than a tenth of the idle
  // limit (at most a minute): most calls then only read the row, sparing a durable commit per
  // call, and a session may end up to that much before the idle limit after its last call.
  Standing CheckSession(const Session& session) {
    const int64_t idle = options_.session_idle.count();
    const int64_t refresh = std::min<int64_t>(60, idle / 10);
    // Nothing yet when the row is live but stale: it is refreshed below, in a writing unit.
    const std::optional<Standing> seen = RunOperation(session.location, Access::kRead, [&]() -> std::optional<Standing> {
      // A session is only as good as its user, read afresh at every call (first, so that a
      // session whose rows went with its user is told why).
      const std::shared_ptr<IUser> user = services::UserProfile(session.location, Variant(session.user));
      if (!user) return Standing::kUserGone;
      const Variant& allowed = user->Value("AllowLogon");
      if (allowed.type() != VarType::kBoolean || !allowed.AsBoolean()) return Standing::kUserBarred;
      const std::shared_ptr<SysSessions> row = services::SessionByToken(session.location, session.token);
      if (!row) return Standing::kNone;
      const Variant& last = row->Value("LastUpdate");
      if (last.type() != VarType::kDate) return std::nullopt;
      const int64_t age = Date::Now().seconds() - last.AsDate().seconds();
      if (age < refresh) return Standing::kLive;
      return std::nullopt;
    });
    if (seen) return *seen;
    services::SessionState state = services::SessionState::kLive;
    try {
      state = RunOperation(session.location, Access::kWrite,
                           [&] { return services::KeepSessionAlive(session.location, session.token, idle); });
    } catch (const Error& error) {
      // A company being moved takes no writes: its live sessions go on without the refresh.
      if (!directory_ || error.number() != kPermissionDenied) throw;
    }
    if (state == services::SessionState::kLive) return Standing::kLive;
    return state == services::SessionState::kExpired ? Standing::kExpired : Standing::kNone;
  }

  std::string ExpiredText() const {
    const int64_t seconds = options_.session_idle.count();
    const std::string length = seconds % 60 == 0 ? std::to_string(seconds / 60) + (seconds == 60 ? " minute" : " minutes")
                                                  : std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    return "The session expired after " + length + " without a call; log on again.";
  }

  static std::string TooManyText(int64_t wait) {
    return "Too many failed logons or password changes for this user or from this address; try again in " +
           std::to_string(wait) + " seconds.";
  }

  static bool IsInvalidUserInfo(const Json& response) {
    return response.is_object() && response.contains("error") && response["error"].is_object() &&
           response["error"].contains("data") &&
           response["error"]["data"].value("number", 0) == static_cast<int32_t>(errCSecurityMgr::eInvalidUserInfo);
  }

  std::optional<std::string> Logon(const Json& request, const Json& id, std::string_view client, ServiceAnswer& answer) {
    const std::string company = TextArgument(request, 0);
    const std::string user = TextArgument(request, 1);
    const std::string user_key = company + '\n' + UserNameKeyOrText(user);
    const std::string client_key = "\n" + std::string(client);
    if (answer.company.empty()) {
      answer.company = company.substr(0, kMaxCompanyName);
      answer.user = user.substr(0, 100);
    }
    int64_t wait = 0;
    try {
      wait = std::max({FailureWait(user_key), FailureWait(client_key), probes_.Wait(client_key)});
    } catch (const Error& error) {
      return Dump(ErrorResponse(id, error));
    }
    if (wait > 0) {
      Note(answer, 429);
      return Dump(RefusalResponse(id, {429, TooManyText(wait)}));
    }
    auto filter = std::make_shared<LogonFilter>(options_, [this](const std::string& name) { return Locate(name); });
    RpcBridge bridge(BridgeLimits(16), filter);
    std::optional<std::string> line = bridge.HandleLine(Dump(request));
    Note(answer, filter->verdict.status);
    if (!line) return std::nullopt;
    Json response = Json::parse(*line, nullptr, false);
    if (response.is_object() && response.contains("result") && response["result"]["value"].is_string()) {
      Register(filter->company, filter->location(), user, user_key, response["result"]["value"].get<std::string>());
      ResetFailures(user_key);
    } else if (IsInvalidUserInfo(response)) {
      Note(answer, 401);
      RecordFailure(user_key);
      RecordFailure(client_key);
    } else if (filter->unknown_company) {
      // Probing for company names counts against the address.
      Note(answer, 401);
      probes_.Record(client_key);
    }
    NameCompany(*line, filter->location(), filter->company);
    return line;
  }

  // A session this process does not hold may have been opened through another instance serving
  // the same companies: its row in the company the call names (its first argument) is the
  // authority, checked at every call as any other. Found, it is taken on here as if its logon
  // had come here; nothing is found for a token no row of that company holds. Lookups of tokens
  // that find nothing are limited per address, so guessing costs the guesser, not the companies.
  std::shared_ptr<Session> Adopt(const Json& request, std::string_view token, std::string_view client) {
    const std::string client_key = "\n" + std::string(client);
    if (unknown_tokens_.Wait(client_key) > 0) return nullptr;
    const std::string company = TextArgument(request, 0);
    std::optional<CompanyLocation> location;
    std::shared_ptr<SysSessions> row;
    try {
      location = Locate(company);
      if (location && !location->account.empty() && CompanyExists(*location)) {
        row = RunOperation(location->account, Access::kRead,
                           [&] { return services::SessionByToken(location->account, token); });
      }
    } catch (const Error&) {
      // A company that cannot be read now holds no session this call can use.
    }
    if (!row) {
      unknown_tokens_.Record(client_key);
      return nullptr;
    }
    const std::string user = Field<db::SysSessions::UserName>(*row).value_or("");
    Register(company, location->account, user, company + '\n' + UserNameKeyOrText(user), std::string(token));
    return Find(token);
  }

  static std::string UserNameKeyOrText(const std::string& user) {
    try {
      return UserNameKey(user);
    } catch (const std::exception&) {
      return user;
    }
  }

  void Register(const std::string& company, const std::string& location, const std::string& user,
                const std::string& user_key, const std::string& token) {
    auto session = std::make_shared<Session>();
    session->company = company;
    session->location = location;
    session->user = user;
    session->user_key = user_key;
    session->token = token;
    session->filter = std::make_shared<SessionFilter>(company, location, user, token);
    session->bridge = std::make_unique<RpcBridge>(BridgeLimits(options_.max_handles_per_session), session->filter);
    session->last_use = Clock::now();
    std::lock_guard lock(sessions_mutex_);
    // A logon replaces the user's earlier sessions in the file; their objects go with them.
    std::erase_if(sessions_, [&](const auto& entry) { return entry.second->user_key == user_key; });
    sessions_.emplace(token, std::move(session));
  }

  std::shared_ptr<Session> Find(std::string_view token) {
    std::lock_guard lock(sessions_mutex_);
    const auto found = sessions_.find(std::string(token));
    return found == sessions_.end() ? nullptr : found->second;
  }

  void DropToken(const std::string& token) {
    std::lock_guard lock(sessions_mutex_);
    sessions_.erase(token);
  }

  // Every session of a user ends together (EndUserSession removes all their rows).
  void DropUser(const std::string& user_key) {
    std::lock_guard lock(sessions_mutex_);
    std::erase_if(sessions_, [&](const auto& entry) { return entry.second->user_key == user_key; });
  }

  // Lets go of the objects of sessions idle for longer than a session lives; the rows of their
  // sessions are found expired when next used.
  void ReapIdle() {
    const auto now = Clock::now();
    std::lock_guard lock(sessions_mutex_);
    if (now - last_reap_ < std::chrono::seconds(10)) return;
    last_reap_ = now;
    std::erase_if(sessions_, [&](const auto& entry) {
      if (now - entry.second->last_use <= options_.session_idle) return false;
      RememberReaped(entry.first);
      return true;
    });
  }

  // Tokens let go for idleness, so that their next call hears that the session expired; the
  // oldest are forgotten first past kMaxReaped. Called with sessions_mutex_ held.
  void RememberReaped(const std::string& token) {
    if (reaped_.insert(token).second) reaped_order_.push_back(token);
    while (reaped_order_.size() > kMaxReaped) {
      reaped_.erase(reaped_order_.front());
      reaped_order_.pop_front();
    }
  }

  bool WasReaped(std::string_view token) {
    std::lock_guard lock(sessions_mutex_);
    return reaped_.contains(std::string(token));
  }

  static constexpr size_t kMaxReaped = 100'000;

  const ServiceOptions options_;
  // The company directory and what is kept of its names, with ServiceOptions::directory.
  std::unique_ptr<CompanyDirectory> directory_;
  std::unique_ptr<DirectoryCache> names_;
  FailureCounter failures_;
  // Logons naming no company, per address: a mistyped name is forgiven a few times, a search
  // through names is not.
  static constexpr int kMaxUnknownCompanies = 30;
  FailureCounter probes_;
  // Tokens held by no session row of the company a call named, per address (Adopt).
  static constexpr int kMaxUnknownTokens = 30;
  FailureCounter unknown_tokens_;
  mutable std::mutex sessions_mutex_;
  std::unordered_map<std::string, std::shared_ptr<Session>> sessions_;
  std::unordered_set<std::string> reaped_;
  std::deque<std::string> reaped_order_;
  Clock::time_point last_reap_ = Clock::now();
};

RpcService::RpcService(ServiceOptions options)
    : server_(options.server.empty() ? options.directory : options.server), impl_(std::make_unique<Impl>(std::move(options))) {}
RpcService::~RpcService() = default;

ServiceAnswer RpcService::Handle(std::string_view body, std::string_view token, std::string_view client,
                                 std::chrono::steady_clock::time_point deadline) {
  ServiceAnswer answer = impl_->Handle(body, token, client, deadline);
  // Locations are replaced by company names in every response, and every message that names a
  // location was built from its masked form. The server's URI as given is masked here too, in
  // case a text came back quoting it whole: an exact replacement, never a guess.
  if (!server_.empty()) {
    const std::string shown = ShownAccount(server_);
    ReplaceAll(answer.body, server_, shown);
    ReplaceAll(answer.body, AsJsonText(server_), AsJsonText(shown));
  }
  return answer;
}

void RpcService::StopReports() { InterruptRunningReports(); }

std::string RpcService::CompanyOf(std::string_view token) const { return impl_->CompanyOf(token); }

size_t RpcService::SessionCount() const { return impl_->SessionCount(); }

}  // namespace ledgerkit
