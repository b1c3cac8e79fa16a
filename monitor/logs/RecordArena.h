// Memory of the log records (internal to monitor/logs).
//
// A list holds millions of records that are made one after the other and
// mostly released together. They are carved from large blocks that the
// kernel fills in one step (instead of one page fault per 4 KiB), with a few
// bytes of bookkeeping instead of a heap chunk each. A record released right
// after it was made (a line that is not a record, or that the filter drops)
// gives its room back at once; a block is returned to the system when its last
// record is released. Records too large for a block come from the heap.
#pragma once

#include <cstddef>

namespace tarmin::monitor::detail {

// Room for `bytes` bytes, aligned to 8; throws std::bad_alloc when there is none.
void *allocateRecord(std::size_t bytes);
// Releases memory from allocateRecord (null allowed); callable from any thread.
void releaseRecord(void *p) noexcept;

} // namespace tarmin::monitor::detail
