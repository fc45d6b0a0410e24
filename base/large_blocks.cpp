#include "base/large_blocks.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

void returnLargeBlocksToTheSystem()
{
#if defined(M_MMAP_THRESHOLD)
    // A fixed threshold also ends glibc's raising of it.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}
