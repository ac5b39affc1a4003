#include "textblock.h"

#include <cstdint>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Huge pages are this large and aligned so on x86-64; a block from this size
// on is aligned to take them.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t PageSize()
{
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

TextBlock::TextBlock(std::size_t capacity, bool filled) : capacity_(capacity)
{
    if (capacity == 0)
        return;
    const bool huge = filled && capacity >= 2 * kHugePage;
    const std::size_t page = PageSize();
    if (capacity > SIZE_MAX / 2)
        throw std::bad_alloc();
    const std::size_t bytes = (capacity + page - 1) / page * page;
    mapped_ = bytes + (huge ? kHugePage : 0);
    void* block = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    auto* start = static_cast<char*>(block);
    if (huge) {
        // Trimmed to a huge page's alignment at both ends.
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        const std::size_t head = (kHugePage - address % kHugePage) % kHugePage;
        if (head > 0)
            munmap(start, head);
        munmap(start + head + bytes, kHugePage - head);
        start += head;
        mapped_ = bytes;
        madvise(start, bytes, MADV_HUGEPAGE);
    }
    data_ = start;
}

TextBlock::~TextBlock()
{
    if (data_)
        munmap(data_, mapped_);
}
