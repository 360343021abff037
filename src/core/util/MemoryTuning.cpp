#include "util/MemoryTuning.h"

#include <cstdlib> // defines __GLIBC__ where it is the C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lintbay {

void keepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Blocks up to 4 MB come from the heap rather than from a mapping of their own, and up to 32 MB
    // of free heap stay with the process. Fixing the first also stops the allocator from moving it
    // on its own, which would set the second back to its small default.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
#endif
}

} // namespace lintbay
