// Where a command writes what it produces: standard output, or a file that is replaced only
// when the whole of it was written. The text goes to a temporary file beside the target, which
// is renamed over the target by Commit; a command that fails before Commit leaves the target as
// it was (an existing file keeps its content) and removes the temporary file.
#pragma once

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace ledgerkit::cli {

class OutputFile {
 public:
  // `path` empty or "-": standard output. Otherwise Invalid argument when the temporary file
  // cannot be made beside `path`.
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return to_stdout_ ? std::cout : file_; }
  // Flushes; on a file, renames the temporary file over the target. Invalid argument naming
  // the path when anything could not be written.
  void Commit();

 private:
  bool to_stdout_ = true;
  std::string target_;
  std::filesystem::path temporary_;
  std::ofstream file_;
  bool committed_ = false;
};

}  // namespace ledgerkit::cli
