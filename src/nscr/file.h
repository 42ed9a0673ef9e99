#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nscr/byte_buffer.h"

namespace nscr {

// Files larger than this (1 GiB) are refused before any of them is read.
inline constexpr std::uint64_t largestReadableFile = std::uint64_t{1} << 30;

// Whole-file access. Failures raise Error with "path: " and strerror(errno).

// Refuses a file, open as fd, that is not to be read whole: anything that
// is not a regular file, such as a directory, a FIFO, a device or a socket
// ("path: not a regular file"), and a file larger than largestReadableFile
// ("path: File too large").
void requireReadableWhole(const std::string& path, int fd);
// Reads a regular file whole, refusing others as requireReadableWhole does.
// A FIFO is opened without waiting for a writer, so it is refused at once.
ByteBuffer readFileBytes(const std::string& path);
std::string readWholeFile(const std::string& path);

// A regular file's bytes mapped into memory, private to this process: no
// byte is copied or read before it is used, and a change made to them stays
// here. Should the file be cut short by another program meanwhile, the
// program stops with a message and the exit status of an error (1 unless
// set) rather than read past its end.
class MappedFile {
public:
    static void setExitStatusWhenCutShort(int status);
    // Maps a file that is to be read whole, refusing others as
    // requireReadableWhole does; nothing when it is empty or cannot be
    // mapped (a /proc file says it holds 0 bytes): then it is to be read.
    static std::shared_ptr<MappedFile> map(const std::string& path);
    MappedFile(char* data, std::size_t size) : data_(data), size_(size) {}
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    char* data_;
    std::size_t size_;
};

// Makes data the whole content of the file at path, all or nothing: it goes
// to a temporary file in the same directory that replaces the file only
// once written and closed. A failure, or a signal that ends the program,
// leaves the older file as it was and no temporary file behind. A file
// replaced keeps its permission bits; a new one gets those of any new file
// (0666 less the umask). A symbolic link (or a chain of them, or a dangling
// one) is kept: the file it names is replaced. Anything at path that is not
// a regular file (a directory, a FIFO, a device) is refused ("path: not a
// regular file"). When no file can be made in the directory, the message
// names it: "cannot create a file in 'dir/': Permission denied".
void writeWholeFile(const std::string& path, std::string_view data);
// The same for data held in pieces, written one after another in a single
// gathering write.
void writeWholeFile(const std::string& path, const std::vector<std::string_view>& pieces);
bool pathExists(const std::string& path);

namespace detail {
// How writeWholeFile replaces target (path, as given, names it in
// messages) where the file system has no unnamed temporary files: through
// a named one, with the terminating signals held back all its life. Open
// to the tests, which cannot otherwise reach it.
void replaceThroughNamedFile(const std::string& path, const std::string& target,
                             const std::vector<std::string_view>& pieces);
}  // namespace detail

}  // namespace nscr
