// RpcService: the JSON-RPC bridge for callers that the process does not trust, whatever carries
// their requests (the HTTP server of `ledgerkit serve` is one transport).
//
// Three things set it apart from a bare bridge:
// - companies are named, never given as paths: every Account argument is a company name that
//   CompanyLocation maps to its file in the data folder, and nothing else is ever opened;
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
  // The folder holding one file per company, NAME.ldb.
  std::filesystem::path data_dir;
  // A session unused for longer than this is over.
  std::chrono::seconds session_idle{std::chrono::minutes(30)};
  // Most objects one session holds at once.
  size_t max_handles_per_session = 10'000;
  // Failed logons allowed per user name and per client address within failure_window before
  // further logons from either are refused until the window has moved on.
  int max_failed_logons = 5;
  std::chrono::seconds failure_window{60};
};

// Where a company's data lives. Today a file in the data folder; a database server would be one
// more kind of location, chosen here.
struct CompanyLocation {
  std::string account;  // the Account value the library is given
};

// The location of company `name`, or nothing when `name` is not a plain company name: 1 to 64
// letters, digits, '_' or '-', starting with a letter or digit (so no path separator, no "..",
// no NUL, nothing a shell or file system reads specially).
std::optional<CompanyLocation> LocateCompany(const ServiceOptions& options, std::string_view name);

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
  ServiceAnswer Handle(std::string_view body, std::string_view token, std::string_view client);

  // Sessions this process holds objects or state for.
  size_t SessionCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ledgerkit
