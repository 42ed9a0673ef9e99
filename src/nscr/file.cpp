#include "nscr/file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
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

namespace {

// Writes the pieces whole, taking up again after a short write; gives the
// error number of a failed write, 0 when all went out.
int writePieces(int fd, std::vector<iovec> pieces) {
    std::size_t first = 0;
    while (first < pieces.size()) {
        int count = static_cast<int>(std::min<std::size_t>(pieces.size() - first, IOV_MAX));
        ssize_t put = ::writev(fd, pieces.data() + first, count);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (auto left = static_cast<std::size_t>(put); first < pieces.size(); ++first) {
            iovec& piece = pieces[first];
            if (left < piece.iov_len) {
                piece.iov_base = static_cast<char*>(piece.iov_base) + left;
                piece.iov_len -= left;
                break;
            }
            left -= piece.iov_len;
        }
    }
    return 0;
}

std::vector<iovec> ioVectorsOf(const std::vector<std::string_view>& pieces) {
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (std::string_view piece : pieces)
        if (!piece.empty()) vectors.push_back({const_cast<char*>(piece.data()), piece.size()});
    return vectors;
}

}  // namespace

void writeWholeFile(const std::string& path, std::string_view data) {
    writeWholeFile(path, std::vector<std::string_view>{data});
}

void writeWholeFile(const std::string& path, const std::vector<std::string_view>& pieces) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) raiseFileError(path, errno);
    int error = writePieces(file.get(), ioVectorsOf(pieces));
    if (::close(file.release()) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(path.c_str());
        raiseFileError(path, error);
    }
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace nscr
