#include "app/heap_warmup.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {
// glibc's own ceilings for the thresholds it raises as a process frees large blocks: set now, so
// that the warmed pages serve large blocks from the start, and no block is mapped and unmapped
// afresh each time (a spool's copy buffer once a sheet, say).
constexpr int kMapThreshold = 32 << 20;
constexpr int kTrimThreshold = 2 * kMapThreshold;
}  // namespace

void warmHeap(std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  mallopt(M_MMAP_THRESHOLD, kMapThreshold);
  mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
  void* block = std::malloc(bytes);
  if (!block) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(page - 1);
  // Failure (an older kernel) only leaves the pages to be faulted in as they are used.
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  std::free(block);
#else
  (void)bytes;
#endif
}
