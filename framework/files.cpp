#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

constexpr const char* kNoMemory = "There is not enough memory to load it.";

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Hands a piece on. Where the taker has no memory left for it, the load
// fails with the path and the reason, as any other failure to read does.
bool Hand(const TakePiece& take, const std::string& path, std::string_view piece,
          std::uint64_t done, std::uint64_t size)
{
    try {
        return take(piece, done, size);
    } catch (const std::bad_alloc&) {
        FailToOpen(path, kNoMemory);
    } catch (const std::length_error&) {
        FailToOpen(path, kNoMemory);
    }
}

} // namespace

void FailToOpen(const std::string& path, const std::string& reason)
{
    throw Exception("Cannot open file \"" + path + "\". " + reason);
}

bool ReadFilePieces(const std::string& path, std::size_t pieceSize, const TakePiece& take)
{
    // Not blocking on open, so a FIFO with no writer cannot hang us before
    // the type check turns it away.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        FailToOpen(path, std::strerror(errno));
    struct stat info
    {
    };
    if (::fstat(file.get(), &info) != 0)
        FailToOpen(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        FailToOpen(path, std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode))
        FailToOpen(path, "It is not a regular file.");

    const auto size = static_cast<std::uint64_t>(info.st_size);
    // All of it is held in memory, so more than the machine has, swap
    // included, can never load: refused before any of it is read.
    struct sysinfo machine
    {
    };
    if (::sysinfo(&machine) == 0 &&
        size / std::max<std::uint64_t>(machine.mem_unit, 1) > machine.totalram + machine.totalswap)
        FailToOpen(path, kNoMemory);
    if (!Hand(take, path, {}, 0, size))
        return false;
    std::unique_ptr<char[]> piece;
    try {
        piece.reset(new char[pieceSize]);
    } catch (const std::bad_alloc&) {
        FailToOpen(path, kNoMemory);
    }
    std::uint64_t done = 0;
    // The file may grow or shrink while it is read: read on to its end.
    for (;;) {
        const ssize_t got = ::read(file.get(), piece.get(), pieceSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            FailToOpen(path, std::strerror(errno));
        }
        if (got == 0)
            return true;
        done += static_cast<std::uint64_t>(got);
        if (!Hand(take, path, {piece.get(), static_cast<std::size_t>(got)}, done, size))
            return false;
    }
}
