// Whole-file reading and writing: what is refused, and what a page write
// leaves on disk whether it succeeds or fails.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <iterator>
#include <set>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "nscr/file.h"
#include "unit_support.h"

namespace {

namespace fs = std::filesystem;

class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "hibarune-unit-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    std::set<std::string> names() const {
        std::set<std::string> all;
        for (const auto& entry : fs::directory_iterator(dir)) all.insert(entry.path().filename().string());
        return all;
    }
    fs::path dir;
};

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Refusal {
    const char* name;
    std::function<std::string(const Scratch&)> make;  // gives the path to read
    std::string reason;
};

TEST(ReadFile, RefusesWhatIsNotARegularFileOfAtMostOneGibibyte) {
    const Refusal cases[] = {
        {"FIFO without a writer", [](const Scratch& s) { ::mkfifo(s.at("fifo").c_str(), 0600); return s.at("fifo"); },
         "not a regular file"},
        {"endless device", [](const Scratch&) { return std::string("/dev/zero"); }, "not a regular file"},
        {"socket",
         [](const Scratch& s) {
             int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::string path = s.at("socket");
             path.copy(address.sun_path, sizeof address.sun_path - 1);
             ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
             ::close(fd);
             return path;
         },
         "not a regular file"},
        {"directory", [](const Scratch& s) { return s.dir.string(); }, "not a regular file"},
        {"sparse file one byte over the limit",
         [](const Scratch& s) {
             std::string path = s.at("big");
             put(path, "");
             EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(nscr::largestReadableFile + 1)), 0);
             return path;
         },
         "File too large"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        std::string path = c.make(scratch);
        EXPECT_EQ(unit::errorOf([&] { nscr::readFileBytes(path); }), path + ": " + c.reason);
        EXPECT_EQ(unit::errorOf([&] { nscr::readWholeFile(path); }), path + ": " + c.reason);
        EXPECT_EQ(unit::errorOf([&] { nscr::MappedFile::map(path); }), path + ": " + c.reason);
    }
}

// A file is mapped whole, its bytes kept from the file when changed; one
// that says it holds nothing is left to be read.
TEST(ReadFile, MappedWholeOrLeftToBeRead) {
    Scratch scratch;
    put(scratch.at("four"), "abcd");
    put(scratch.at("empty"), "");
    std::shared_ptr<nscr::MappedFile> four = nscr::MappedFile::map(scratch.at("four"));
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(std::string_view(four->data(), four->size()), "abcd");
    four->data()[0] = 'x';
    EXPECT_EQ(nscr::readWholeFile(scratch.at("four")), "abcd");
    EXPECT_EQ(nscr::MappedFile::map(scratch.at("empty")), nullptr);
    EXPECT_EQ(nscr::MappedFile::map("/proc/self/status"), nullptr);  // says 0 bytes, has more
}

// A mapped file cut short by another program stops the run with a message,
// not a crash.
TEST(ReadFileDeathTest, MappedFileCutShortStopsTheRun) {
    Scratch scratch;
    std::string path = scratch.at("cut");
    put(path, std::string(1 << 16, 'a'));
    EXPECT_EXIT(
        {
            nscr::MappedFile::setExitStatusWhenCutShort(2);
            std::shared_ptr<nscr::MappedFile> mapped = nscr::MappedFile::map(path);
            if (::truncate(path.c_str(), 0) != 0) std::exit(3);
            volatile char last = mapped->data()[mapped->size() - 1];
            (void)last;
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "cut short while it was read");
}

// The ways a page is written: the usual one and the one for file systems
// without unnamed files.
using PageWriter = std::function<void(const std::string& path, const std::string& target, std::string_view)>;

const std::pair<const char*, PageWriter> pageWriters[] = {
    {"unnamed temporary", [](const std::string& path, const std::string&,
                             std::string_view data) { nscr::writeWholeFile(path, data); }},
    {"named temporary",
     [](const std::string& path, const std::string& target, std::string_view data) {
         nscr::detail::replaceThroughNamedFile(path, target, {data});
     }},
};

// A replaced page keeps its mode (a private page stays private); a new one
// gets the umask's.
TEST(WriteFile, KeepsTheModeOfAReplacedPageAndLeavesNoTemporary) {
    struct Row {
        std::optional<mode_t> old;
        mode_t expected;
    };
    for (const auto& [name, write] : pageWriters) {
        for (const Row& row : {Row{0600, 0600}, Row{0644, 0644}, Row{std::nullopt, 0640}}) {
            SCOPED_TRACE(name);
            Scratch scratch;
            std::string page = scratch.at("x.txt.html");
            if (row.old) {
                put(page, "old page");
                ::chmod(page.c_str(), *row.old);
            }
            mode_t before = ::umask(027);
            write(page, page, "new page");
            ::umask(before);
            EXPECT_EQ(bytesOf(page), "new page");
            struct stat info {};
            ASSERT_EQ(::stat(page.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, row.expected);
            EXPECT_EQ(scratch.names(), std::set<std::string>{"x.txt.html"});
        }
    }
}

// Runs f in a child whose files may grow to at most limit bytes, with the
// signal for passing it ignored so that the write fails instead; gives
// what f raised.
std::string errorUnderFileSizeLimit(rlim_t limit, const std::function<void()>& f) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "<no pipe>";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        std::string message = unit::errorOf(f);
        ssize_t put = ::write(pipeFds[1], message.data(), message.size());
        ::_exit(put == static_cast<ssize_t>(message.size()) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string message;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return message;
}

TEST(WriteFile, AFailedWriteKeepsTheOldPageAndLeavesNoTemporary) {
    const std::string large(1u << 20, 'x');
    for (const auto& [name, write] : pageWriters)
        for (bool old : {true, false}) {
            SCOPED_TRACE(std::string(name) + (old ? ", over a page" : ", where none was"));
            Scratch scratch;
            std::string page = scratch.at("x.txt.html");
            if (old) put(page, "old page");
            std::string error = errorUnderFileSizeLimit(64u << 10, [&, &write = write] { write(page, page, large); });
            EXPECT_EQ(error, page + ": File too large");
            if (old) {
                EXPECT_EQ(bytesOf(page), "old page");
            }
            EXPECT_EQ(scratch.names(), old ? std::set<std::string>{"x.txt.html"} : std::set<std::string>{});
        }
}

struct LinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // name, what it points to
    bool targetExists;
};

TEST(WriteFile, WritesTheFileALinkNamesAndKeepsTheLink) {
    const LinkCase cases[] = {
        {"link", {{"x.txt.html", "pages/real.html"}}, true},
        {"chain of links", {{"x.txt.html", "hop"}, {"hop", "pages/real.html"}}, true},
        {"dangling link", {{"x.txt.html", "pages/real.html"}}, false},
        {"link into a directory by an absolute path", {{"x.txt.html", "{dir}/pages/real.html"}}, false},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        fs::create_directory(scratch.dir / "pages");
        if (c.targetExists) put(scratch.at("pages/real.html"), "old page");
        for (auto [name, to] : c.links) {
            if (to.starts_with("{dir}")) to = scratch.dir.string() + to.substr(5);
            fs::create_symlink(to, scratch.dir / name);
        }
        nscr::writeWholeFile(scratch.at("x.txt.html"), "new page");
        for (const auto& link : c.links) EXPECT_TRUE(fs::is_symlink(scratch.dir / link.first)) << link.first;
        EXPECT_EQ(bytesOf(scratch.at("pages/real.html")), "new page");
        std::set<std::string> inPages;
        for (const auto& entry : fs::directory_iterator(scratch.dir / "pages"))
            inPages.insert(entry.path().filename().string());
        EXPECT_EQ(inPages, std::set<std::string>{"real.html"});
    }
}

// Nothing but a regular file is written: a FIFO would wait for a reader for
// ever, a device could be anything.
TEST(WriteFile, RefusesWhatIsNotARegularFileAndALoopOfLinks) {
    EXPECT_EQ(unit::errorOf([] { nscr::writeWholeFile("/dev/null", "page"); }), "/dev/null: not a regular file");
    Scratch scratch;
    ::mkfifo(scratch.at("fifo").c_str(), 0600);
    fs::create_directory(scratch.dir / "dir");
    for (const char* name : {"fifo", "dir"})
        EXPECT_EQ(unit::errorOf([&] { nscr::writeWholeFile(scratch.at(name), "page"); }),
                  scratch.at(name) + ": not a regular file");
    fs::create_symlink("b", scratch.dir / "a");
    fs::create_symlink("a", scratch.dir / "b");
    EXPECT_EQ(unit::errorOf([&] { nscr::writeWholeFile(scratch.at("a"), "page"); }),
              scratch.at("a") + ": Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_symlink(scratch.dir / "a"));
}

}  // namespace
