// Memory for a text's bytes: a mapping of its own rather than the C
// library's heap, so that a text's pages go back to the system as soon as it
// goes.
#pragma once

#include <cstddef>

class TextBlock
{
public:
    // Raises std::bad_alloc where the memory cannot be had. A block `filled`
    // whole at once, as a load fills it, takes huge pages where the system
    // offers them: far fewer page faults, which are most of a read's time.
    explicit TextBlock(std::size_t capacity, bool filled = false);
    ~TextBlock();
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;

    char* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }

private:
    char* data_ = nullptr;
    std::size_t capacity_;
    std::size_t mapped_ = 0;
};
