// Reading a file whole, as a load does, and writing one whole or not at all,
// as a save does.
#pragma once

#include "sysutils.h"

#include <cstdint>
#include <string>

#include <sys/uio.h>

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

// Raises the Exception of a file that cannot be saved, with the reason.
[[noreturn]] void FailToSave(const std::string& path, const std::string& reason);

// A file written whole or not at all: its bytes go to a new file beside it,
// which takes its place once complete and on the disk; until then, and when
// anything fails, the file stays as it was. A symbolic link is followed, and
// its target replaced. The file keeps its permissions. Each failure raises
// an Exception naming the path and the reason.
class FileWriter
{
public:
    explicit FileWriter(const std::string& path);
    // Leaves the file as it was, unless committed.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // The next bytes, `count` runs of them.
    void Write(const iovec* runs, int count);
    // The new file on the disk, in the file's place.
    void Commit();

private:
    [[noreturn]] void Fail(int error);

    std::string path_;    // as given, for messages
    std::string target_;  // the file itself, its links followed
    std::string written_; // the new file beside it
    int fd_ = -1;
};
