#include "allocator.h"

#include <cstdlib>  // defines __GLIBC__ where it applies

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvane {

void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // Fixed values, which also end glibc's own sliding of the mmap threshold:
    // blocks up to 8 MB come from the heap, and up to 32 MB of free memory at
    // the top of a heap stays with the process.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
    // Windows' heap keeps freed blocks for reuse by itself.
}

}  // namespace orvane
