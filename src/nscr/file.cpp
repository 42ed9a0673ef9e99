#include "nscr/file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "nscr/error.h"

namespace nscr {
namespace {

[[noreturn]] void raiseFileError(const std::string& path, int error) {
    throw Error(path + ": " + std::strerror(error));
}

[[noreturn]] void raiseNotRegular(const std::string& path) { throw Error(path + ": not a regular file"); }

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

bool isSocket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Opens path for reading without waiting on a FIFO that has no writer.
// Opening a socket fails with ENXIO; it is refused like any other file
// that is not regular.
int openForReading(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) return fd;
    int error = errno;
    if (error == ENXIO && isSocket(path)) raiseNotRegular(path);
    raiseFileError(path, error);
}

struct stat statusOf(const std::string& path, int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) raiseFileError(path, errno);
    return info;
}

}  // namespace

void requireReadableWhole(const std::string& path, int fd) {
    struct stat info = statusOf(path, fd);
    if (!S_ISREG(info.st_mode)) raiseNotRegular(path);
    if (static_cast<std::uint64_t>(info.st_size) > largestReadableFile) raiseFileError(path, EFBIG);
}

namespace {

// Opens a file to be read whole, to the end; gives its size as a hint.
std::size_t openWhole(const std::string& path, FileDescriptor& file) {
    requireReadableWhole(path, file.get());
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags >= 0) ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
    return static_cast<std::size_t>(statusOf(path, file.get()).st_size);
}

// Reads into room of `free` bytes; 0 at the end of the file.
std::size_t readSome(const std::string& path, int fd, char* room, std::size_t free) {
    for (;;) {
        ssize_t got = ::read(fd, room, free);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) raiseFileError(path, errno);
    }
}

}  // namespace

// The size is a hint: both read to the end so that files whose size is not
// known in advance (/proc) or that grow meanwhile are read whole too, up to
// the limit.
ByteBuffer readFileBytes(const std::string& path) {
    FileDescriptor file(openForReading(path));
    std::size_t size = openWhole(path, file);
    ByteBuffer content(size > 0 ? size + 1 : 4096);
    for (;;) {
        if (content.size() > largestReadableFile) raiseFileError(path, EFBIG);
        if (content.size() == content.capacity()) content.room(content.capacity());
        std::size_t free = content.capacity() - content.size();
        char* room = content.room(free);
        std::size_t got = readSome(path, file.get(), room, free);
        if (got == 0) break;
        content.commit(room + got);
    }
    return content;
}

std::string readWholeFile(const std::string& path) {
    FileDescriptor file(openForReading(path));
    std::string content;
    content.reserve(openWhole(path, file) + 1);
    adviseHugePages(content.data(), content.capacity());
    content.resize(content.capacity());
    std::size_t used = 0;
    for (;;) {
        if (used > largestReadableFile) raiseFileError(path, EFBIG);
        if (used == content.size()) content.resize(content.size() * 2);
        std::size_t got = readSome(path, file.get(), content.data() + used, content.size() - used);
        if (got == 0) break;
        used += got;
    }
    content.resize(used);
    return content;
}

namespace {

volatile std::sig_atomic_t cutShortStatus = 1;

// A mapped file cut short under the program: its bytes past the new end
// are gone, so the run stops, saying why.
void stopOnLostBytes(int) {
    constexpr char message[] = "Error: a script file was cut short while it was read\n";
    [[maybe_unused]] ssize_t put = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(cutShortStatus);
}

void watchMappedFiles() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = stopOnLostBytes;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

void MappedFile::setExitStatusWhenCutShort(int status) { cutShortStatus = status; }

std::shared_ptr<MappedFile> MappedFile::map(const std::string& path) {
    FileDescriptor file(openForReading(path));
    std::size_t size = openWhole(path, file);
    if (size == 0) return nullptr;
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, file.get(), 0);
    if (data == MAP_FAILED) return nullptr;
    watchMappedFiles();
    return std::make_shared<MappedFile>(static_cast<char*>(data), size);
}

MappedFile::~MappedFile() { ::munmap(data_, size_); }

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

// Writes all of data to fd and closes it; the error number of the first
// failure, 0 when both went well.
int writeAndClose(FileDescriptor& file, const std::vector<iovec>& data) {
    int error = writePieces(file.get(), data);
    if (::close(file.release()) != 0 && error == 0) error = errno;
    return error;
}

// Holds back the signals that end a program from a terminal or a service
// manager while it lives; one that came meanwhile is delivered when it
// ends. Pages are written after the converter's threads are done, so the
// calling thread is the only one that could take them.
class TerminatingSignalsHeld {
public:
    TerminatingSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
        ::pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~TerminatingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
    TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

private:
    sigset_t before_;
};

// Everything before the last "/" ("/" for a file in the root, "." for a
// name without one).
std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string directoryPrefixOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links from path to the file they end in (path itself
// when it is none); that file need not exist. Left to the system to report
// when a link cannot be read.
std::string followLinks(const std::string& path) {
    constexpr int mostLinks = 40;
    std::string target = path;
    for (int links = 0; links <= mostLinks; ++links) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::string link(PATH_MAX, '\0');
        ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return target;
        link.resize(static_cast<std::size_t>(length));
        target = link.front() == '/' ? link : directoryPrefixOf(target) + link;
    }
    raiseFileError(path, ELOOP);
}

// A name no file is likely to have yet, hidden from plain listings.
std::string temporaryName() {
    std::array<unsigned char, 8> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) != static_cast<ssize_t>(bytes.size())) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        auto mixed = static_cast<unsigned long long>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
                     static_cast<unsigned long long>(::getpid());
        std::memcpy(bytes.data(), &mixed, bytes.size());
    }
    std::string name = ".hibarune-";
    for (unsigned char byte : bytes) name += "0123456789abcdefghijklmnopqrstuv"[byte % 32];
    return name + ".tmp";
}

constexpr int temporaryNameTries = 100;

// Gives the unnamed file open as fd a fresh temporary name in directory;
// the error number when that fails.
int linkUnderTemporaryName(int fd, const std::string& directory, std::string& name) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < temporaryNameTries; ++tries) {
        name = directory + "/" + temporaryName();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Creates a temporary file in directory with the permission bits of any
// new file; its descriptor, or -1 with errno set.
int createTemporaryFile(const std::string& directory, std::string& name) {
    for (int tries = 0; tries < temporaryNameTries; ++tries) {
        name = directory + "/" + temporaryName();
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// A file cannot be made in directory: the folder is named, not the page.
[[noreturn]] void raiseCannotCreate(const std::string& directory, int error) {
    std::string shown = directory.ends_with('/') ? directory : directory + "/";
    throw Error("cannot create a file in '" + shown + "': " + std::strerror(error));
}

// Gives the new file the permission bits of the one it replaces (mode 0:
// none there, so those of any new file); the error number when that fails.
int keepMode(int fd, mode_t mode) {
    if (mode == 0) return 0;
    return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

// Renames the temporary file over target, or removes it when told of a
// failure or when the rename fails.
void putInPlace(const std::string& path, const std::string& temporary, const std::string& target, int error) {
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        raiseFileError(path, error);
    }
}

// Does the file system refuse unnamed temporary files?
bool unnamedFilesRefused(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

void replaceThroughNamedFile(const std::string& path, const std::string& target, const std::vector<iovec>& data,
                             mode_t mode) {
    TerminatingSignalsHeld held;
    std::string temporary;
    FileDescriptor file(createTemporaryFile(directoryOf(target), temporary));
    if (file.get() < 0) raiseCannotCreate(directoryOf(target), errno);
    int error = keepMode(file.get(), mode);
    if (error != 0) ::close(file.release());
    else error = writeAndClose(file, data);
    putInPlace(path, temporary, target, error);
}

// Writes data to an unnamed file in target's directory and, once all is
// written, links it in under a temporary name and renames that over target,
// with the signals held back for that moment only: a signal at any other
// time leaves nothing behind. Returns false where unnamed files cannot be
// had or linked in (no /proc), so that a named one does the work.
bool replaceThroughUnnamedFile(const std::string& path, const std::string& target, const std::vector<iovec>& data,
                               mode_t mode, bool targetExists) {
    std::string directory = directoryOf(target);
    FileDescriptor file(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        if (unnamedFilesRefused(errno)) return false;
        raiseCannotCreate(directory, errno);
    }
    if (int error = keepMode(file.get(), mode)) raiseFileError(path, error);
    if (int error = writePieces(file.get(), data)) raiseFileError(path, error);

    // Where there is no file yet, the written one is linked in under its
    // own name at once; one made there meanwhile is replaced as any other.
    if (!targetExists) {
        std::string self = "/proc/self/fd/" + std::to_string(file.get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (::close(file.release()) == 0) return true;
            int error = errno;
            ::unlink(target.c_str());
            raiseFileError(path, error);
        }
        if (errno == ENOENT) return false;
        if (errno != EEXIST) raiseCannotCreate(directory, errno);
    }

    TerminatingSignalsHeld held;
    std::string temporary;
    if (int error = linkUnderTemporaryName(file.get(), directory, temporary)) {
        if (error == ENOENT) return false;
        raiseCannotCreate(directory, error);
    }
    int error = ::close(file.release()) != 0 ? errno : 0;
    putInPlace(path, temporary, target, error);
    return true;
}

}  // namespace

namespace detail {

void replaceThroughNamedFile(const std::string& path, const std::string& target,
                             const std::vector<std::string_view>& pieces) {
    struct stat info {};
    mode_t mode = ::stat(target.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
    nscr::replaceThroughNamedFile(path, target, ioVectorsOf(pieces), mode);
}

}  // namespace detail

void writeWholeFile(const std::string& path, std::string_view data) {
    writeWholeFile(path, std::vector<std::string_view>{data});
}

void writeWholeFile(const std::string& path, const std::vector<std::string_view>& pieces) {
    std::string target = followLinks(path);
    std::vector<iovec> data = ioVectorsOf(pieces);
    struct stat info {};
    mode_t mode = 0;
    bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists) {
        // Writing to a FIFO or a device could wait for ever or reach far.
        if (!S_ISREG(info.st_mode)) raiseNotRegular(path);
        // The page is replaced in its folder: a folder that takes no new
        // file is the cause to name, whatever the page's own mode.
        std::string directory = directoryOf(target);
        if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) raiseCannotCreate(directory, errno);
        // A page its owner made read-only stays so, as it did when pages
        // were written in place.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) raiseFileError(path, errno);
        mode = info.st_mode & 0777;
    }
    if (!replaceThroughUnnamedFile(path, target, data, mode, exists)) replaceThroughNamedFile(path, target, data, mode);
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace nscr
