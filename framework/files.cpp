#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

void FailToOpen(const std::string& path, const std::string& reason)
{
    throw Exception("Cannot open file \"" + path + "\". " + reason);
}

FileReader::FileReader(const std::string& path) : path_(path)
{
    // Not blocking on open, so a FIFO with no writer cannot hang us before
    // the type check turns it away.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        FailToOpen(path, std::strerror(errno));
    struct stat info
    {
    };
    try {
        if (::fstat(fd_, &info) != 0)
            FailToOpen(path, std::strerror(errno));
        if (S_ISDIR(info.st_mode))
            FailToOpen(path, std::strerror(EISDIR));
        if (!S_ISREG(info.st_mode))
            FailToOpen(path, "It is not a regular file.");
        size_ = static_cast<std::uint64_t>(info.st_size);
        // All of it is held in memory, so more than the machine has, swap
        // included, can never load: refused before any of it is read.
        struct sysinfo machine
        {
        };
        if (::sysinfo(&machine) == 0 && size_ / std::max<std::uint64_t>(machine.mem_unit, 1) >
                                            machine.totalram + machine.totalswap)
            FailToOpen(path, "There is not enough memory to load it.");
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

FileReader::~FileReader()
{
    ::close(fd_);
}

std::size_t FileReader::Read(char* into, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd_, into + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            FailToOpen(path_, std::strerror(errno));
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}
