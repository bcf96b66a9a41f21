#include "support/prefault.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace bayescreen {

namespace {

// The advice's number where the system headers predate it (Linux 5.14).
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;
#endif

}  // namespace

void prefault_for_writing(void *begin, size_t bytes) {
  const long page_size = sysconf(_SC_PAGESIZE);
  if (page_size <= 0 || bytes == 0) return;
  const uintptr_t page = static_cast<uintptr_t>(page_size);
  // Only the pages wholly inside the buffer: the partial pages at its ends
  // may be in use by other objects, and are mapped on first write anyway.
  const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~(page - 1);
  if (end > first) (void)madvise(reinterpret_cast<void *>(first), end - first, kPopulateWrite);
}

}  // namespace bayescreen
