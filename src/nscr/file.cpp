#include "nscr/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nscr/error.h"

namespace nscr {
namespace {

[[noreturn]] void raiseFileError(const std::string& path, int error) {
    throw Error(path + ": " + std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace

ByteBuffer readFileBytes(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) raiseFileError(path, errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) raiseFileError(path, errno);
    if (S_ISDIR(info.st_mode)) raiseFileError(path, EISDIR);

    // The size is a hint: read to the end so that files whose size is not
    // known in advance (pipes, /proc) are read whole too.
    ByteBuffer content(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096);
    for (;;) {
        if (content.size() == content.capacity()) content.room(content.capacity());
        std::size_t free = content.capacity() - content.size();
        char* room = content.room(free);
        ssize_t got = ::read(file.get(), room, free);
        if (got < 0) {
            if (errno == EINTR) continue;
            raiseFileError(path, errno);
        }
        if (got == 0) break;
        content.commit(room + got);
    }
    return content;
}

std::string readWholeFile(const std::string& path) { return std::string(readFileBytes(path).view()); }

void writeWholeFile(const std::string& path, std::string_view data) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) raiseFileError(path, errno);
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t put = ::write(file.get(), p, left);
        if (put < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::unlink(path.c_str());
            raiseFileError(path, error);
        }
        p += put;
        left -= static_cast<std::size_t>(put);
    }
    if (::close(file.release()) != 0) {
        int error = errno;
        ::unlink(path.c_str());
        raiseFileError(path, error);
    }
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace nscr
