#include "floatarray.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMappedFrom = 1 << 20; // bytes

bool Mapped(std::size_t count)
{
    return count * sizeof(float) >= kMappedFrom;
}

std::size_t MappedBytes(std::size_t count)
{
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (count * sizeof(float) + page - 1) / page * page;
}

} // namespace

FloatArray::FloatArray(const FloatArray& other)
{
    Reallocate(other.size_);
    if (other.size_ > 0)
        std::memcpy(data_, other.data_, other.size_ * sizeof(float));
    size_ = other.size_;
}

FloatArray::FloatArray(FloatArray&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

FloatArray& FloatArray::operator=(FloatArray other) noexcept
{
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
}

FloatArray::~FloatArray()
{
    Free(data_, capacity_);
}

float* FloatArray::Allocate(std::size_t count)
{
    if (count == 0)
        return nullptr;
    void* block = Mapped(count) ? mmap(nullptr, MappedBytes(count), PROT_READ | PROT_WRITE,
                                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                : std::malloc(count * sizeof(float));
    if (block == nullptr || block == MAP_FAILED)
        throw std::bad_alloc();
    // In pages of 2 MB where the system has them: a gigabyte of points in
    // 4 KB pages costs a quarter of a million page faults, a second or more
    // when the load writes them. Only advice: it may go unheeded.
    if (Mapped(count))
        madvise(block, MappedBytes(count), MADV_HUGEPAGE);
    return static_cast<float*>(block);
}

void FloatArray::Free(float* data, std::size_t count)
{
    if (data && Mapped(count))
        munmap(data, MappedBytes(count));
    else
        std::free(data);
}

void FloatArray::Reallocate(std::size_t count)
{
    if (count > SIZE_MAX / sizeof(float) / 2) // with room to round up to pages
        throw std::bad_alloc();
    const std::size_t kept = std::min(size_, count);
    if (data_ && Mapped(capacity_) && Mapped(count)) {
        void* moved = mremap(data_, MappedBytes(capacity_), MappedBytes(count), MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            throw std::bad_alloc();
        data_ = static_cast<float*>(moved);
    } else if (data_ && !Mapped(capacity_) && !Mapped(count) && count > 0) {
        void* moved = std::realloc(data_, count * sizeof(float));
        if (!moved)
            throw std::bad_alloc();
        data_ = static_cast<float*>(moved);
    } else {
        // Into or out of a mapping of its own: the one copy of a block's life.
        float* block = Allocate(count);
        if (kept > 0)
            std::memcpy(block, data_, kept * sizeof(float));
        Free(data_, capacity_);
        data_ = block;
    }
    capacity_ = count;
    size_ = kept;
}

void FloatArray::Grow(std::size_t count)
{
    if (count <= capacity_)
        return;
    // In the heap realloc copies, so the block doubles; a mapping moves
    // without a copy, and a step of a sixteenth keeps the space it takes
    // close to what is used.
    const std::size_t step = Mapped(capacity_) ? capacity_ / 16 : capacity_;
    Reallocate(std::max({count, capacity_ + step, std::size_t{1024}}));
}

void FloatArray::Append(const float* values, std::size_t count)
{
    if (count == 0)
        return;
    Grow(size_ + count);
    std::memcpy(data_ + size_, values, count * sizeof(float));
    size_ += count;
}

void FloatArray::Reserve(std::size_t count)
{
    if (count > capacity_)
        Reallocate(count);
}

void FloatArray::Trim(std::size_t spare)
{
    Reallocate(size_ + spare);
}

void FloatArray::Resize(std::size_t count, float value)
{
    if (count > size_) {
        Grow(count);
        std::fill(data_ + size_, data_ + count, value);
    }
    size_ = count;
}

void FloatArray::Assign(std::size_t count, float value)
{
    size_ = 0;
    Resize(count, value);
}

void FloatArray::Insert(std::size_t at, std::size_t count, float value)
{
    if (count == 0)
        return;
    Grow(size_ + count);
    std::memmove(data_ + at + count, data_ + at, (size_ - at) * sizeof(float));
    std::fill(data_ + at, data_ + at + count, value);
    size_ += count;
}

void FloatArray::Erase(std::size_t first, std::size_t last)
{
    if (first == last)
        return;
    std::memmove(data_ + first, data_ + last, (size_ - last) * sizeof(float));
    size_ -= last - first;
}
