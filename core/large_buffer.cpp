#include "core/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

void AdviseLargeBuffer(void* data, std::size_t bytes)
{
    constexpr std::uintptr_t kHugePage = 2u << 20;
    // Below two huge pages there is little to gain and the advice would split
    // the allocator's mappings for nothing.
    if (data == nullptr || bytes < 2 * kHugePage)
        return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
