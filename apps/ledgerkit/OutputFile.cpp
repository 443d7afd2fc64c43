#include "OutputFile.h"

#include <system_error>
#include <unistd.h>

#include "ledgerkit/common/Error.h"

namespace ledgerkit::cli {

OutputFile::OutputFile(const std::string& path) : to_stdout_(path.empty() || path == "-"), target_(path) {
  if (to_stdout_) return;
  // Beside the target, so the rename stays on one file system; the pid and a counter keep two
  // runs apart, and an existing name is never opened over.
  static int counter = 0;
  const std::filesystem::path target(path);
  for (int attempt = 0; attempt < 100 && !file_.is_open(); ++attempt) {
    std::filesystem::path candidate = target;
    candidate += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) continue;
    file_.open(candidate, std::ios::binary | std::ios::trunc);
    if (file_.is_open()) temporary_ = candidate;
  }
  if (!file_.is_open()) throw Error::Runtime(kInvalidArgument, "Cannot write " + path + ": its folder cannot be written.");
}

OutputFile::~OutputFile() {
  if (to_stdout_ || committed_) return;
  file_.close();
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

void OutputFile::Commit() {
  std::ostream& out = stream();
  out.flush();
  if (to_stdout_) {
    if (!out) throw Error::Runtime(kInvalidArgument, "The output could not be written completely to standard output.");
    committed_ = true;
    return;
  }
  file_.close();
  std::error_code error;
  // A file that was there keeps its permissions.
  const auto existing = std::filesystem::status(target_, error);
  if (!error && std::filesystem::is_regular_file(existing)) {
    std::filesystem::permissions(temporary_, existing.permissions(), error);
  }
  error.clear();
  if (!file_.fail()) std::filesystem::rename(temporary_, target_, error);
  if (file_.fail() || error) {
    throw Error::Runtime(kInvalidArgument,
                         "Cannot write " + target_ + (error ? ": " + error.message() : std::string(": the disk refused it")) +
                             "; the file was left as it was.");
  }
  committed_ = true;
}

}  // namespace ledgerkit::cli
