// LinkCheck: what CallLimits::refuse_links asks of a company file before it is opened or a kept
// connection to it is handed out again.
//
// Library-internal.
#pragma once

#include <string>

namespace ledgerkit {

// Why the company file `path` may not be opened without following a link, or empty when it may:
// the file, when it exists, is a regular file that is no symbolic link, and each of the files
// kept beside it (-wal, -shm, -journal, -lock) that exists is one too. A missing file is not
// refused here (opening it fails on its own). Looks with lstat only; opens nothing.
std::string LinkRefusal(const std::string& path);

}  // namespace ledgerkit
