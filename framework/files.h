// Reading a file whole, as a load does: refused at once where it cannot be.
#pragma once

#include "sysutils.h"

#include <cstdint>
#include <string>

// Raises the Exception of a file that cannot be opened, with the reason.
[[noreturn]] void FailToOpen(const std::string& path, const std::string& reason);

// A regular file open for reading. Each failure raises an Exception naming
// the path and the reason: a file that is missing, unreadable, a directory,
// a FIFO or a device, or larger than memory and swap together.
class FileReader
{
public:
    explicit FileReader(const std::string& path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // The size it had when opened; it may grow or shrink while it is read.
    std::uint64_t Size() const { return size_; }
    // Up to `size` bytes into `into`, as many as there are; 0 at its end.
    std::size_t Read(char* into, std::size_t size);

private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};
