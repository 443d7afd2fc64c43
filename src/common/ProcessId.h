// The id of the running process, read without a system call: what every kept connection,
// pooled session and writers' queue compares with the id it was made under, at every unit of
// work, so that a child of fork never uses what its parent made. Library-internal.
#pragma once

#include <sys/types.h>

namespace ledgerkit {

// getpid(), kept: read once, and again in the child of every fork (through pthread_atfork).
pid_t CurrentProcessId();

}  // namespace ledgerkit
