#include "files.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw Exception("Cannot open file \"" + path + "\". " + reason);
}

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

} // namespace

std::string ReadFileBytes(const std::string& path)
{
    // Not blocking on open, so a FIFO with no writer cannot hang us before
    // the type check turns it away.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        Fail(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        Fail(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        Fail(path, std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode))
        Fail(path, "It is not a regular file.");

    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t used = 0;
        for (;;) {
            // The file may grow while it is read: read on to its end.
            if (used == bytes.size())
                bytes.resize(bytes.size() + (bytes.size() / 2) + 65536);
            const ssize_t got = ::read(file.get(), bytes.data() + used, bytes.size() - used);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                Fail(path, std::strerror(errno));
            }
            if (got == 0)
                break;
            used += static_cast<std::size_t>(got);
        }
        bytes.resize(used);
    } catch (const std::bad_alloc&) {
        Fail(path, "There is not enough memory to load it.");
    } catch (const std::length_error&) {
        Fail(path, "There is not enough memory to load it.");
    }
    return bytes;
}
