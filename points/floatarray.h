// An array of floats in one block. A block of a megabyte or more is a
// mapping of its own, grown, moved and trimmed with mremap: a cloud's points
// never grow by a copy, nor hold a reserve after they shrink, nor leave a
// heap holding the space they grew through. A load gathers no pieces, and a
// line typed at the end of a large text does not double what its points take.
#pragma once

#include <cstddef>

class FloatArray
{
public:
    FloatArray() = default;
    FloatArray(const FloatArray& other);
    FloatArray(FloatArray&& other) noexcept;
    FloatArray& operator=(FloatArray other) noexcept;
    ~FloatArray();

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    const float* data() const { return data_; }
    const float* begin() const { return data_; }
    const float* end() const { return data_ + size_; }
    float& operator[](std::size_t i) { return data_[i]; }
    const float& operator[](std::size_t i) const { return data_[i]; }

    // Appends three floats: one point, the loader's step.
    void AppendPoint(const float* point)
    {
        if (capacity_ - size_ < 3)
            Grow(size_ + 3);
        data_[size_] = point[0];
        data_[size_ + 1] = point[1];
        data_[size_ + 2] = point[2];
        size_ += 3;
    }
    // Appends `count` floats: a block of the loader's points.
    void Append(const float* values, std::size_t count);

    // Room for exactly `count` where there is less, or as many as held and
    // `spare` more: the block is moved to that size, not copied.
    void Reserve(std::size_t count);
    void Trim(std::size_t spare);
    // `count` floats, the new ones `value`.
    void Resize(std::size_t count, float value);
    void Assign(std::size_t count, float value);
    // `count` floats of `value` before index `at`, and [first, last) taken out.
    void Insert(std::size_t at, std::size_t count, float value);
    void Erase(std::size_t first, std::size_t last);

private:
    // Room for `count` at least, grown by a step so that appends one by one
    // cost a realloc now and then.
    void Grow(std::size_t count);
    // Exactly `count`; raises std::bad_alloc where it cannot.
    void Reallocate(std::size_t count);
    static float* Allocate(std::size_t count);
    static void Free(float* data, std::size_t count);

    float* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
