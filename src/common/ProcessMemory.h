// How a program of ours asks the C library to keep memory it has freed, for the next request.
//
// SQLite frees and allocates blocks at the top of the heap at the end of every statement that
// ran under a statement savepoint (every write the company's triggers check). With the C
// library's defaults, a freed top above 128 KiB is given back to the kernel at once and taken
// again by the next statement: two system calls and a flush of the page tables of every CPU,
// about a third of a cheque's time on a RAM disk. Library-internal; for our programs' main.
#pragma once

namespace ledgerkit {

// Lets the process keep up to 32 MiB of freed heap, and serve blocks up to 4 MiB from the
// heap rather than from mappings of their own, so that neither is given back and taken again
// by every statement. What the process holds stays bounded by its peak plus that margin. False,
// doing nothing, where the C library has no such settings.
bool KeepFreedMemoryForReuse();

}  // namespace ledgerkit
