#include "files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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

void FailToSave(const std::string& path, const std::string& reason)
{
    throw Exception("Cannot save file \"" + path + "\". " + reason);
}

namespace {

std::string Folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names, its symbolic links followed; the path itself where
// it names none yet.
std::string Target(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        const ssize_t size = ::readlink(path.c_str(), link, sizeof link);
        if (size < 0)
            return path;
        const std::string to(link, static_cast<std::size_t>(size));
        path = to.starts_with('/') ? to : Folder(path) + "/" + to;
    }
    return path;
}

} // namespace

FileWriter::FileWriter(const std::string& path) : path_(path), target_(Target(path))
{
    const std::string folder = Folder(target_);
    written_ = folder + "/." + target_.substr(target_.rfind('/') + 1) + ".vost-XXXXXX";
    fd_ = ::mkostemp(written_.data(), O_CLOEXEC);
    if (fd_ < 0)
        FailToSave(path_, std::strerror(errno));
    // The permissions of the file it replaces, or a new file's.
    struct stat old
    {
    };
    mode_t mode = 0;
    if (::stat(target_.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        [[maybe_unused]] const int owned = ::fchown(fd_, old.st_uid, old.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd_, mode) != 0)
        Fail(errno);
}

FileWriter::~FileWriter()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(written_.c_str());
    }
}

void FileWriter::Fail(int error)
{
    FailToSave(path_, std::strerror(error));
}

void FileWriter::Write(const iovec* runs, int count)
{
    std::vector<iovec> left(runs, runs + count);
    std::size_t first = 0;
    while (first < left.size()) {
        const ssize_t wrote =
            ::writev(fd_, left.data() + first, static_cast<int>(left.size() - first));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            Fail(errno);
        // Past what was written, which may end inside a run.
        auto done = static_cast<std::size_t>(wrote);
        while (first < left.size() && done >= left[first].iov_len)
            done -= left[first++].iov_len;
        if (first < left.size()) {
            left[first].iov_base = static_cast<char*>(left[first].iov_base) + done;
            left[first].iov_len -= done;
        }
    }
}

void FileWriter::Commit()
{
    if (::fsync(fd_) != 0)
        Fail(errno);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 || ::rename(written_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(written_.c_str());
        Fail(error);
    }
    // The rename itself on the disk too.
    const int folder = ::open(Folder(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}
