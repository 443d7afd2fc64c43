// RpcService: the JSON-RPC bridge for callers that the process does not trust, whatever carries
// their requests (the HTTP server of `ledgerkit serve` is one transport).
//
// Three things set it apart from a bare bridge:
// - companies are named, never given as paths: every Account argument is a company name that
//   LocateCompany maps to its file in the data folder or to its schema on the database server,
//   and nothing else is ever opened;
// - logon is enforced: CSecurityMgr.BeginUserSession is the only call taken without a session;
//   every other call names the token of a live session of the same company, and the service
//   fills UserName and Token from that session whatever the caller wrote. A few operations need
//   a user with Admin;
// - objects held for a caller belong to its session, are invisible to other sessions and are
//   let go when it ends.
//
// Thread-safe: calls of different sessions run at once; calls of one session take turns.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ledgerkit {

struct ServiceOptions {
  // Where the companies are: exactly one of the three is given.
  // The folder holding one file per company, NAME.ldb.
  std::filesystem::path data_dir;
  // A PostgreSQL server URI (postgresql://user@host:port/database, other connection parameters
  // allowed, no company parameter): company NAME is the schema NAME of that database.
  std::string server;
  // A company directory (CompanyDirectory): a PostgreSQL database URI whose lk_directory tables
  // map each company name to its location, on any server or in any file. Names are looked up
  // at most once per directory_cache per name (found or not); failed logons are counted in the
  // directory, shared by every service over it.
  std::string directory;
  std::chrono::milliseconds directory_cache{5000};
  // A session unused for longer than this is over.
  std::chrono::seconds session_idle{std::chrono::minutes(30)};
  // Most objects one session holds at once.
  size_t max_handles_per_session = 10'000;
  // Failed logons allowed per user name and per client address within failure_window before
  // further logons from either are refused until the window has moved on.
  int max_failed_logons = 5;
  std::chrono::seconds failure_window{60};
  // A report query running longer than this is stopped with a clean error.
  std::chrono::seconds report_timeout{30};
  // Most bytes of held objects one session keeps at once (beside max_handles_per_session); over
  // the service results are sent by value and held only when the caller asks.
  size_t max_session_bytes = size_t{64} << 20;
};

// Where a company's data lives: a file in the data folder or a schema on the server.
struct CompanyLocation {
  std::string account;  // the Account value the library is given
  bool on_server = false;
};

// The location of company `name`, or nothing when `name` is not a plain company name: 1 to 64
// letters, digits, '_' or '-', starting with a letter or digit (so no path separator, no "..",
// no NUL, nothing a shell or file system reads specially). On a server the name is the schema's
// own and must also be one: lower-case letters, digits and '_', starting with a letter, at most
// 63, not starting with "pg_". Capitals are refused rather than folded, so that one name is one
// company and one company has one name, in calls, sessions and the access log alike.
// For a data folder or a server only: a service over a directory looks its names up there.
std::optional<CompanyLocation> LocateCompany(const ServiceOptions& options, std::string_view name);

// What LocateCompany takes, in words, for messages.
std::string CompanyNameRule(const ServiceOptions& options);

// Whether the company at `location` exists, found without creating anything: a regular file in
// the data folder; on a server, a schema that opens as a company. Other failures to reach the
// server are thrown as the engine reported them (naming the location with its secrets masked).
bool CompanyExists(const CompanyLocation& location);

// Invalid argument (5) unless `uri` is a URI of the build's server engine (postgresql:// or
// postgres://) that its driver reads, without a company parameter; the message shows the URI
// only as the driver masks it.
void CheckServerUri(std::string_view uri);

// The answer to one request body.
struct ServiceAnswer {
  int status = 200;   // HTTP-style: 200, 204 (nothing to answer), 401, 403, 429
  std::string body;   // the JSON-RPC response or batch of responses; empty with 204
  // For the access log: the first request's company, user (of its session) and method.
  std::string company;
  std::string user;
  std::string method;
};

class RpcService {
 public:
  explicit RpcService(ServiceOptions options);
  ~RpcService();
  RpcService(const RpcService&) = delete;
  RpcService& operator=(const RpcService&) = delete;

  // Answers one body (a request or a batch) sent with `token` (empty when the caller sent none)
  // from `client` (its address, for the limit on failed logons).
  // Work still running at `deadline` (the moment the transport answers 503) is stopped where
  // it can be: a report query fails cleanly.
  ServiceAnswer Handle(std::string_view body, std::string_view token, std::string_view client,
                       std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

  // Stops every report query running now (shutdown); the calls running them fail cleanly.
  static void StopReports();

  // The company of the session holding `token`, or "" when this process knows none.
  std::string CompanyOf(std::string_view token) const;

  // Sessions this process holds objects or state for.
  size_t SessionCount() const;

 private:
  class Impl;
  std::string server_;  // the server URI as given; empty for a data folder
  std::unique_ptr<Impl> impl_;
};

}  // namespace ledgerkit
