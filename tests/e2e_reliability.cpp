// Odd inputs, failing disks, signals, and scarce memory and threads, through
// the real program: each gives one clear outcome and never loses an older
// page or leaves a partial one behind.

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include <grp.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "e2e_support.h"

namespace {

using namespace e2e;

const std::vector<Line> okScript = {{";ok", {{"COMMENT", ";ok"}}}};
const std::vector<Line> movScript = {
    {"mov %0,1",
     {{"COMMON_COMMAND", "mov"}, {"SPACE", " "}, {"NUMBER_VARIABLE", "%0"}, {"ASCII", ","}, {"NUMBER", "1"}}}};

const std::string okPage = expectedPage(Mode::style, false, okScript);
const std::string oldPage = "old page \x82\xA0\r\n";

// Exit statuses of a child that could not become the user without root.
constexpr int cannotDropRoot = 125;
constexpr int cannotStart = 127;
constexpr uid_t nobody = 65534;

// Makes the child a user without root: nobody when the tests run as root,
// else the user as it is.
void becomeUnprivileged() {
    if (::getuid() != 0) return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(cannotDropRoot);
}

void setLimit(int resource, rlim_t value) {
    rlimit limit{value, value};
    if (::setrlimit(resource, &limit) != 0) ::_exit(cannotDropRoot);
}

// Lets a user without root into the sandbox; gives a reason to skip when
// such a user would still read a file made unreadable (extra capabilities).
std::string openToUnprivileged(const Sandbox& box) {
    const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read;
    const fs::perms searchable = readable | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(box.dir, searchable);
    fs::permissions(box.dir / "hibarune", searchable);
    if (fs::exists(box.dir / "commands.txt")) fs::permissions(box.dir / "commands.txt", readable);
    if (::getuid() != 0) {
        fs::path probe = box.dir / "probe";
        writeFile(probe, "");
        fs::permissions(probe, fs::perms::none);
        bool bypassed = ::access(probe.c_str(), R_OK) == 0;
        fs::remove(probe);
        if (bypassed) return "this user reads files without read permission";
    }
    return {};
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string all;
    all.reserve(text.size() * times);
    for (std::size_t k = 0; k < times; ++k) all += text;
    return all;
}

// Writes as many whole copies of block to path as fit in size bytes, in
// large writes; gives the size written.
std::size_t writeRepeated(const fs::path& path, std::string_view block, std::size_t size) {
    const std::size_t perChunk = std::max<std::size_t>(1, (1u << 20) / block.size());
    const std::string chunk = repeated(block, perChunk);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::size_t copies = size / block.size();
    for (std::size_t left = copies; left > 0;) {
        std::size_t part = std::min(left, perChunk);
        out.write(chunk.data(), static_cast<std::streamsize>(part * block.size()));
        left -= part;
    }
    EXPECT_TRUE(out.good()) << path;
    return copies * block.size();
}

RunOptions inChild(std::function<void()> prepare) { return {std::move(prepare), {}}; }

// The same options with the run ended by an alarm after 20 s, so that a
// program that hangs fails the case instead of stalling the tests.
RunOptions bounded(RunOptions options) {
    options.inChild = [prepare = std::move(options.inChild)] {
        ::alarm(20);
        if (prepare) prepare();
    };
    return options;
}

// A sandbox entry as the cases expect it: a link by what it points to, a
// small regular file by its bytes, a large one by its size.
std::string describe(const fs::path& path) {
    fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) return "-> " + fs::read_symlink(path).string();
    if (fs::is_fifo(status)) return "fifo";
    if (fs::is_directory(status)) return "directory";
    if (!fs::is_regular_file(status)) return "other";
    std::uintmax_t size = fs::file_size(path);
    return size > (64u << 10) ? std::to_string(size) + " bytes" : readFile(path).value_or("?");
}

// Every entry of the sandbox but the program and its command table, by
// path relative to the sandbox.
std::map<std::string, std::string> entriesOf(const Sandbox& box) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(box.dir)) {
        std::string name = entry.path().lexically_relative(box.dir).string();
        if (name != "hibarune" && name != "commands.txt") entries[name] = describe(entry.path());
    }
    return entries;
}

bool sameFileBytes(const fs::path& a, const fs::path& b) {
    if (!fs::is_regular_file(a) || !fs::is_regular_file(b) || fs::file_size(a) != fs::file_size(b)) return false;
    std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
    std::vector<char> bufferA(1u << 20), bufferB(1u << 20);
    while (inA && inB) {
        inA.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
        inB.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
        if (inA.gcount() != inB.gcount() || !std::equal(bufferA.begin(), bufferA.begin() + inA.gcount(), bufferB.begin()))
            return false;
    }
    return true;
}

// A script line with a page many times its size.
const std::string tokenLine = "mov %0,1:bg \"a.bmp\",1\r\n";
constexpr std::size_t smallDiskSize = 1u << 20;

const std::string tooLongPath = repeated("d/", 2100) + "x.txt";

struct OddCase {
    const char* name;
    std::function<std::string(const Sandbox&)> setUp;  // a reason to skip the case, empty when it can run
    std::vector<std::string> args;
    std::string message;                       // all of standard output
    int status;
    std::map<std::string, std::string> after;  // every entry afterwards, as describe() gives it
    RunOptions options = {};
    std::function<void(const Sandbox&)> cleanUp = {};
};

TEST(e2eReliability, OddInputsGiveOneClearOutcome) {
    const std::string script = scriptOf(okScript);
    const std::string tokenScript = repeated(tokenLine, 4000);
    const std::string colorLine = "COMMENT=#123456\r\n";
    const std::string tokenScriptSize = std::to_string(tokenScript.size()) + " bytes";
    auto writes = [](std::map<std::string, std::string> files) {
        return [files](const Sandbox& box) {
            for (const auto& [name, bytes] : files) {
                fs::create_directories((box.dir / name).parent_path());
                box.write(name, bytes);
            }
            return std::string();
        };
    };
    auto linksTo = [](std::string target) {
        return [target](const Sandbox& box) {
            fs::create_symlink(target, box.dir / "x.txt");
            return std::string();
        };
    };
    const OddCase cases[] = {
        {"FIFO as the script",
         [](const Sandbox& box) {
             ::mkfifo((box.dir / "x.txt").c_str(), 0600);
             return std::string();
         },
         {"x.txt"}, "x.txt: not a regular file\n", 1, {{"x.txt", "fifo"}}},
        {"endless device as the script", linksTo("/dev/zero"), {"x.txt"}, "x.txt: not a regular file\n", 1,
         {{"x.txt", "-> /dev/zero"}}},
        {"random device as the script", linksTo("/dev/urandom"), {"x.txt"}, "x.txt: not a regular file\n", 1,
         {{"x.txt", "-> /dev/urandom"}}},
        {"sparse script of 5 GB",
         [](const Sandbox& box) {
             box.write("x.txt", "");
             if (::truncate((box.dir / "x.txt").c_str(), off_t{5} << 30) != 0)
                 return std::string("the file system refuses a sparse file of 5 GB: ") + std::strerror(errno);
             return std::string();
         },
         {"x.txt"}, "x.txt: File too large\n", 1, {{"x.txt", "5368709120 bytes"}}},
        // "--" ends the options: what follows is a file even when it starts
        // with "-". Needs the option parser's "--" to pass.
        {"script named -x.txt after --", writes({{"-x.txt", script}}), {"--", "-x.txt"}, "", 0,
         {{"-x.txt", script}, {"-x.txt.html", okPage}}},
        {"name with blanks and bytes that are not UTF-8", writes({{"a b\xFF.txt", script}}), {"a b\xFF.txt"}, "", 0,
         {{"a b\xFF.txt", script}, {"a b\xFF.txt.html", okPage}}},
        {"path longer than PATH_MAX", writes({}), {tooLongPath}, tooLongPath + ": File name too long\n", 1, {}},
        {"script without read permission",
         [&](const Sandbox& box) {
             box.write("x.txt", script);
             fs::permissions(box.dir / "x.txt", fs::perms::none);
             return openToUnprivileged(box);
         },
         {"x.txt"}, "x.txt: Permission denied\n", 1, {{"x.txt", script}}, inChild(becomeUnprivileged)},
        {"commands.txt of 1,000,000 lines",
         [&](const Sandbox& box) {
             std::string commands;
             for (int k = 1; k < 1000000; ++k) commands += "cmd" + std::to_string(k) + ",FE\r\n";
             box.write("commands.txt", commands + "mov");
             box.write("x.txt", scriptOf(movScript));
             return std::string();
         },
         {"x.txt"}, "", 0,
         {{"x.txt", scriptOf(movScript)}, {"x.txt.html", expectedPage(Mode::style, false, movScript)}}},
        {"color.txt of 100 MB",
         [&](const Sandbox& box) {
             writeRepeated(box.dir / "color.txt", colorLine, 100u << 20);
             std::ofstream(box.dir / "color.txt", std::ios::binary | std::ios::app) << "COMMENT=#5f8a3a\r\n";
             box.write("x.txt", script);
             return std::string();
         },
         {"x.txt"}, "", 0,
         [&] {
             Fonts fonts = defaultFonts();
             fonts[2].color = "#5f8a3a";
             return std::map<std::string, std::string>{{"color.txt", std::to_string((100u << 20) / colorLine.size() * colorLine.size() + 17) +
                                                                        " bytes"},
                                                       {"x.txt", script},
                                                       {"x.txt.html", expectedPage(Mode::style, false, okScript, fonts)}};
         }()},
        {"page on a full file system",
         [&](const Sandbox& box) {
             fs::create_directory(box.dir / "disk");
             std::string size = "size=" + std::to_string(smallDiskSize);
             if (::mount("tmpfs", (box.dir / "disk").c_str(), "tmpfs", 0, size.c_str()) != 0)
                 return std::string("no tmpfs can be mounted here: ") + std::strerror(errno);
             box.write("disk/x.txt", tokenScript);
             box.write("disk/x.txt.html", oldPage);
             return std::string();
         },
         {"disk/x.txt"}, "disk/x.txt.html: No space left on device\n", 1,
         {{"disk", "directory"}, {"disk/x.txt", tokenScriptSize}, {"disk/x.txt.html", oldPage}}, {},
         [](const Sandbox& box) { ::umount2((box.dir / "disk").c_str(), MNT_DETACH); }},
        {"page over the file size limit", writes({{"x.txt", tokenScript}, {"x.txt.html", oldPage}}), {"x.txt"},
         "x.txt.html: File too large\n", 1, {{"x.txt", tokenScriptSize}, {"x.txt.html", oldPage}},
         inChild([] {
             std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the program
             setLimit(RLIMIT_FSIZE, 64u << 10);
         })},
        {"page linked to a full device",
         [&](const Sandbox& box) {
             box.write("x.txt", script);
             fs::create_symlink("/dev/full", box.dir / "x.txt.html");
             return std::string();
         },
         {"x.txt"}, "x.txt.html: not a regular file\n", 1, {{"x.txt", script}, {"x.txt.html", "-> /dev/full"}}},
        {"page in a read-only directory",
         [&](const Sandbox& box) {
             writes({{"ro/x.txt", script}, {"ro/x.txt.html", oldPage}})(box);
             fs::permissions(box.dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                                 fs::perms::group_exec | fs::perms::others_read |
                                                 fs::perms::others_exec);
             return openToUnprivileged(box);
         },
         {"ro/x.txt"}, "cannot create a file in 'ro/': Permission denied\n", 1,
         {{"ro", "directory"}, {"ro/x.txt", script}, {"ro/x.txt.html", oldPage}}, inChild(becomeUnprivileged),
         [](const Sandbox& box) { fs::permissions(box.dir / "ro", fs::perms::owner_all); }},
        {"page path is a chain of links to an old page",
         [&](const Sandbox& box) {
             writes({{"x.txt", script}, {"pages/real.html", oldPage}})(box);
             fs::create_symlink("hop", box.dir / "x.txt.html");
             fs::create_symlink("pages/real.html", box.dir / "hop");
             return std::string();
         },
         {"x.txt"}, "", 0,
         {{"x.txt", script}, {"x.txt.html", "-> hop"}, {"hop", "-> pages/real.html"}, {"pages", "directory"},
          {"pages/real.html", okPage}}},
        {"page path is a dangling link",
         [&](const Sandbox& box) {
             writes({{"x.txt", script}})(box);
             fs::create_directory(box.dir / "pages");
             fs::create_symlink("pages/real.html", box.dir / "x.txt.html");
             return std::string();
         },
         {"x.txt"}, "", 0,
         {{"x.txt", script}, {"x.txt.html", "-> pages/real.html"}, {"pages", "directory"},
          {"pages/real.html", okPage}}},
        // A page never replaces an input of the run or another page, and
        // nothing is written when one would.
        {"script and its page both given", writes({{"x.txt", script}, {"x.txt.html", script}}), {"x.txt", "x.txt.html"},
         "x.txt.html: the page of x.txt would overwrite the input x.txt.html; nothing written\n", 1,
         {{"x.txt", script}, {"x.txt.html", script}}},
        {"page and script in the other order", writes({{"x.txt", script}, {"x.txt.html", script}}),
         {"x.txt.html", "x.txt"}, "x.txt.html: the page of x.txt would overwrite the input x.txt.html; nothing written\n",
         1, {{"x.txt", script}, {"x.txt.html", script}}},
        {"page path links to its own script",
         [&](const Sandbox& box) {
             box.write("x.txt", script);
             fs::create_symlink("x.txt", box.dir / "x.txt.html");
             return std::string();
         },
         {"x.txt"}, "x.txt.html: the page of x.txt would overwrite the input x.txt; nothing written\n", 1,
         {{"x.txt", script}, {"x.txt.html", "-> x.txt"}}},
        {"index.html is a script", writes({{"x.txt", script}, {"index.html", script}}),
         {"-html5", "-index", "x.txt", "index.html"},
         "index.html: the index would overwrite the input index.html; nothing written\n", 1,
         {{"x.txt", script}, {"index.html", script}}},
        {"script named index", writes({{"index", script}}), {"-html5", "-index", "index"},
         "index.html: the page of index and the index would be the same file; nothing written\n", 1,
         {{"index", script}}},
        {"FIFO at the page path",
         [&](const Sandbox& box) {
             box.write("x.txt", script);
             ::mkfifo((box.dir / "x.txt.html").c_str(), 0600);
             return std::string();
         },
         {"x.txt"}, "x.txt.html: not a regular file\n", 1, {{"x.txt", script}, {"x.txt.html", "fifo"}}},
        {"FIFO at index.html",
         [&](const Sandbox& box) {
             box.write("x.txt", script);
             ::mkfifo((box.dir / "index.html").c_str(), 0600);
             return std::string();
         },
         {"-html5", "-index", "x.txt"}, "index.html: not a regular file\n", 1,
         {{"x.txt", script}, {"index.html", "fifo"}}},
        // -o DIR: every page in DIR, named after its script's file name.
        {"output folder made with its parents", writes({{"x.txt", script}, {"in/y.txt", script}}),
         {"-o", "out/pages", "x.txt", "in/y.txt"}, "", 0,
         {{"x.txt", script}, {"in", "directory"}, {"in/y.txt", script}, {"out", "directory"},
          {"out/pages", "directory"}, {"out/pages/x.txt.html", okPage}, {"out/pages/y.txt.html", okPage}}},
        {"two scripts of one name in the output folder", writes({{"a/x.txt", script}, {"b/x.txt", script}}),
         {"-o", "out", "a/x.txt", "b/x.txt"},
         "out/x.txt.html: the page of a/x.txt and the page of b/x.txt would be the same file; nothing written\n", 1,
         {{"a", "directory"}, {"a/x.txt", script}, {"b", "directory"}, {"b/x.txt", script}}},
        {"output folder is a file", writes({{"x.txt", script}, {"out", oldPage}}), {"-o", "out", "x.txt"},
         "out: not a directory\n", 1, {{"x.txt", script}, {"out", oldPage}}},
        {"a script in the output folder has the name of a page", writes({{"out/x.txt.html", script}, {"x.txt", script}}),
         {"-o", "out", "x.txt", "out/x.txt.html"},
         "out/x.txt.html: the page of x.txt would overwrite the input out/x.txt.html; nothing written\n", 1,
         {{"out", "directory"}, {"out/x.txt.html", script}, {"x.txt", script}}},
    };
    for (const OddCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        if (std::string skip = c.setUp(box); !skip.empty()) {
            std::printf("[  SKIPPED ] %s: %s\n", c.name, skip.c_str());
            continue;
        }
        Outcome r = box.hibarune(c.args, bounded(c.options));
        std::map<std::string, std::string> after = entriesOf(box);
        if (c.cleanUp) c.cleanUp(box);
        if ((r.status == cannotDropRoot || r.status == cannotStart) && r.out.empty()) {
            std::printf("[  SKIPPED ] %s: the program cannot run as a user without root here\n", c.name);
            continue;
        }
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(after, c.after);
    }
}

// A script of about size bytes whose page takes a while to make and write.
void writeBusyScript(const fs::path& path, std::size_t size) {
    std::string block = repeated(tokenLine, 8) + ";" + repeated("a comment of some length ", 40) + "\r\n" +
                        repeated("\x82\xA0\x82\xA2", 200) + "\r\n";
    writeRepeated(path, block, size);
}

TEST(e2eReliability, ASignalLeavesNoTemporaryAndNoPartialPage) {
    Sandbox reference;
    writeBusyScript(reference.dir / "x.txt", 24u << 20);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(reference.hibarune({"x.txt"}, bounded({})).status, 0);
    auto undisturbed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begin);

    std::random_device seeder;
    const unsigned seed = seeder();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Moments up to a little past an undisturbed run, so that signals fall in
    // the reading, the converting and the writing alike.
    std::uniform_int_distribution<long> moment(0, std::min<long>(undisturbed.count() * 6 / 5, 300000));
    const int signals[] = {SIGINT, SIGTERM};
    int beforePage = 0, afterPage = 0, finished = 0;
    for (int run = 0; run < 10; ++run) {
        Sandbox box;
        fs::copy_file(reference.dir / "x.txt", box.dir / "x.txt");
        int signal = signals[run % 2];
        Started started = box.startHibarune({"x.txt"}, bounded({}));
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(started.pid, signal);
        Outcome r = finish(started);

        SCOPED_TRACE("run " + std::to_string(run));
        EXPECT_TRUE(r.status == 128 + signal || r.status == 0) << r.status;
        EXPECT_EQ(r.out, "");
        std::map<std::string, std::string> after = entriesOf(box);
        after.erase("x.txt");
        (r.status == 0 ? finished : after.count("x.txt.html") != 0 ? afterPage : beforePage) += 1;
        if (after.count("x.txt.html") != 0) {
            EXPECT_TRUE(sameFileBytes(box.dir / "x.txt.html", reference.dir / "x.txt.html")) << "partial page";
            after.erase("x.txt.html");
        } else {
            EXPECT_NE(r.status, 0) << "no page after a complete run";
        }
        EXPECT_TRUE(after.empty()) << after.begin()->first;
    }
    std::printf("signals within %ld us: %d ended the run before the page, %d after it; %d runs finished\n",
                static_cast<long>(undisturbed.count()), beforePage, afterPage, finished);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitized = true;
#else
constexpr bool addressSanitized = false;
#endif

TEST(e2eReliability, TooLittleMemoryGivesOneLineAndStatus1) {
    if (addressSanitized) GTEST_SKIP() << "the address sanitizer needs more address space than any limit allows";
    const RunOptions littleMemory = bounded(inChild([] { setLimit(RLIMIT_AS, rlim_t{64} << 20); }));
    Sandbox box;
    box.write("small.txt", scriptOf(okScript));
    if (Outcome r = box.hibarune({"small.txt"}, littleMemory); r.status != 0)
        GTEST_SKIP() << "the program does not even start with 64 MB of address space: " << r.out;
    writeBusyScript(box.dir / "x.txt", 20u << 20);

    Outcome r = box.hibarune({"x.txt"}, littleMemory);
    EXPECT_EQ(r.out, "x.txt: Cannot allocate memory\n");  // needs the converter's message for std::bad_alloc
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(box.dir / "x.txt.html"));
}

// Could a child with these limits start a thread? Tried in a child of its
// own, so that the limits stay there.
bool threadsCanStart(const RunOptions& limits) {
    pid_t pid = ::fork();
    if (pid == 0) {
        limits.inChild();
        pthread_t thread;
        int error = ::pthread_create(&thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr);
        if (error == 0) ::pthread_join(thread, nullptr);
        ::_exit(error == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return !WIFEXITED(status) || WEXITSTATUS(status) != 1;
}

TEST(e2eReliability, ALargeScriptConvertsWhereNoThreadCanStart) {
    // One process for the user, which the child already is; root is not
    // bound by the limit, so the child drops it first.
    const RunOptions noThreads = bounded({[] {
                                              setLimit(RLIMIT_NPROC, 1);
                                              becomeUnprivileged();
                                          },
                                          {"ASAN_OPTIONS=detect_leaks=0"}});
    if (threadsCanStart(noThreads)) GTEST_SKIP() << "no limit on processes keeps threads from starting here";
    Sandbox reference;
    writeBusyScript(reference.dir / "x.txt", 3u << 20);
    ASSERT_EQ(reference.hibarune({"x.txt"}, bounded({})).status, 0);

    Sandbox box;
    openToUnprivileged(box);
    fs::permissions(box.dir, fs::perms::all);  // the child writes the page
    fs::copy_file(reference.dir / "x.txt", box.dir / "x.txt");
    Outcome r = box.hibarune({"x.txt"}, noThreads);
    if ((r.status == cannotDropRoot || r.status == cannotStart) && r.out.empty())
        GTEST_SKIP() << "the program cannot run as a user without root here";
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(sameFileBytes(box.dir / "x.txt.html", reference.dir / "x.txt.html"));
}

}  // namespace
