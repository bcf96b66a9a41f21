// Fresh memory mapped ahead of its first writes.
#pragma once
#include <cstddef>

namespace bayescreen {

// Asks the kernel to map, in one call, the whole pages of [begin, begin +
// bytes): a buffer just reserved that is about to be written in full. A
// first write to each page otherwise traps once per page, which on virtual
// machines costs about 10 us a page (twice the cost of mapping them all
// at once), the larger part of filling a large result list. Only a hint
// (madvise MADV_POPULATE_WRITE, Linux 5.14): where the kernel does not
// take it, the pages are mapped on first write as before.
void prefault_for_writing(void *begin, size_t bytes);

}  // namespace bayescreen
