#pragma once

// Helpers for the tests that run the built hibarune: a scratch directory
// holding a copy of the program, a runner without a shell, and the expected
// page assembled from hand-written token lists.

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

inline std::optional<std::string> readFile(const fs::path& path) {
    if (!fs::is_regular_file(path)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

struct Outcome {
    std::string out;  // everything written to standard output
    int status = -1;  // exit status, or 128 + signal
    long peakKiB = 0;  // the program's largest resident set
};

// What a child does before the program starts (limits, another user), and
// variables added to its environment.
struct RunOptions {
    std::function<void()> inChild;
    std::vector<std::string> environment;
};

// A program started but not yet waited for: its process and the read end
// of its standard output.
struct Started {
    pid_t pid = -1;
    int out = -1;
};

// Starts program with args in cwd, capturing standard output. The locale is
// fixed to C so that the usage text comes out as the program stores it. The
// terminating signals are let through in the child whatever the test
// runner inherited.
inline Started start(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd,
                     const RunOptions& options = {}) {
    std::vector<std::string> env;
    std::vector<std::string> fixed{"LC_ALL=C"};
    fixed.insert(fixed.end(), options.environment.begin(), options.environment.end());
    auto isFixed = [&](std::string_view variable) {
        if (variable.starts_with("LANG=")) return true;
        for (std::string_view f : fixed)
            if (variable.starts_with(f.substr(0, f.find('=') + 1))) return true;
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (!isFixed(*e)) env.emplace_back(*e);
    env.insert(env.end(), fixed.begin(), fixed.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{program.string()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    Started started;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return started;
    std::fflush(nullptr);
    started.pid = ::fork();
    if (started.pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (options.inChild) options.inChild();
        if (::chdir(cwd.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    started.out = pipeFds[0];
    return started;
}

// Reads what the started program writes until it ends, and waits for it.
inline Outcome finish(Started started) {
    Outcome result;
    if (started.out < 0) return result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(started.out, buffer, sizeof buffer)) > 0)
        result.out.append(buffer, static_cast<std::size_t>(got));
    ::close(started.out);
    int status = 0;
    struct rusage usage {};
    if (started.pid > 0 && ::wait4(started.pid, &status, 0, &usage) == started.pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakKiB = usage.ru_maxrss;
    }
    return result;
}

inline Outcome run(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd,
                   const RunOptions& options = {}) {
    return finish(start(program, args, cwd, options));
}

// Replaces "{dir}" by dir: expected messages that name the program's directory.
inline std::string withDir(std::string text, const fs::path& dir) {
    if (std::size_t at = text.find("{dir}"); at != std::string::npos) text.replace(at, 5, dir.string());
    return text;
}

// The command table most tests use: one line of each class, the last one
// without a class and without a line end.
inline const std::string testCommands = "game,F\r\nbg,E\r\nmov";

// A fresh directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "hibarune-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir = fs::canonical(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    fs::path dir;
};

// A temporary directory with a copy of the program and, unless told
// otherwise, a commands.txt beside it.
class Sandbox : public TempDir {
public:
    explicit Sandbox(const std::optional<std::string>& commands = testCommands) {
        fs::copy_file(HIBARUNE_BINARY, dir / "hibarune");
        if (commands) writeFile(dir / "commands.txt", *commands);
    }

    void write(const std::string& name, std::string_view bytes) const { writeFile(dir / name, bytes); }
    std::optional<std::string> read(const std::string& name) const { return readFile(dir / name); }
    Outcome hibarune(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return run(dir / "hibarune", args, dir, options);
    }
    Started startHibarune(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return start(dir / "hibarune", args, dir, options);
    }

    // Names of the regular files ending in ".html".
    std::set<std::string> pages() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name.size() >= 5 && name.ends_with(".html")) names.insert(name);
        }
        return names;
    }
};

// ---- Expected pages --------------------------------------------------------

struct Font {
    std::string name, color, weight;
};
using Fonts = std::array<Font, 26>;

inline Fonts defaultFonts() {
    return {{{"STRING", "#000000", "normal"},          {"SPACE", "#000000", "normal"},
             {"COMMENT", "#008000", "normal"},         {"LITERAL", "#996600", "normal"},
             {"SPECIAL_LABEL", "#3399cc", "bold"},     {"LINETOP_LABEL", "#0099cc", "bold"},
             {"GENERIC_LABEL", "#0099cc", "normal"},   {"NUMBER_VARIABLE", "#400080", "normal"},
             {"STRING_VARIABLE", "#8000ff", "normal"}, {"ARRAY_VARIABLE", "#800080", "normal"},
             {"DEFINE_COMMAND", "#0000ff", "bold"},    {"EXECUTE_COMMAND", "#0000ff", "bold"},
             {"COMMON_COMMAND", "#0000ff", "bold"},    {"COLOR", "#0000ff", "normal"},
             {"NUMBER", "#000000", "normal"},          {"SYMBOL", "#000000", "normal"},
             {"SPECIAL_CHARACTER", "#000080", "normal"}, {"OPERATOR", "#000000", "normal"},
             {"RUBY", "#000000", "normal"},            {"TAG", "#000000", "normal"},
             {"TEXT_BUTTON", "#000000", "normal"},     {"PARENTHESIS_BEGIN", "#000000", "normal"},
             {"PARENTHESIS_END", "#000000", "normal"}, {"BRACKET_BEGIN", "#000000", "normal"},
             {"BRACKET_END", "#000000", "normal"},     {"ASCII", "#000000", "normal"}}};
}

inline const Font& fontNamed(const Fonts& fonts, std::string_view name) {
    for (const Font& font : fonts)
        if (font.name == name) return font;
    throw std::runtime_error("no token type " + std::string(name));
}

enum class Mode { style, classes, text };

// One token as it should stand on the page: its type and its escaped text.
struct Tok {
    std::string type, html;
};

// A script line: its bytes in the script and its tokens on the page.
struct Line {
    std::string raw;
    std::vector<Tok> tokens;
};

inline const std::string pageTail = "</pre>\r\n</body>\r\n</html>";

inline std::string pageHead(Mode mode, const Fonts& fonts) {
    std::string head = "<html>\r\n<head>\r\n"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"></meta>\r\n";
    if (mode == Mode::classes) {
        head += "<style>\r\n";
        for (const Font& f : fonts)
            head += "." + f.name + "\r\n{\r\n\tcolor: " + f.color + ";\r\n\tfont-weight: " + f.weight + ";\r\n}\r\n";
        head += "\r\n</style>\r\n";
    }
    return head + "\r\n</head>\r\n<body bgcolor=\"#f0f0f0\">\r\n<pre>\r\n";
}

inline std::string expectedPage(Mode mode, bool lineNumbers, const std::vector<Line>& lines,
                                const Fonts& fonts = defaultFonts()) {
    std::string page = mode == Mode::text ? "" : pageHead(mode, fonts);
    int number = 0;
    for (const Line& line : lines) {
        if (lineNumbers) {
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%04d: ", ++number);
            page += prefix;
        }
        if (mode == Mode::text) page += line.raw;
        for (const Tok& t : mode == Mode::text ? std::vector<Tok>{} : line.tokens) {
            const Font& f = fontNamed(fonts, t.type);
            if (mode == Mode::classes)
                page += "<span class=\"" + f.name + "\">" + t.html + "</span>";
            else if (t.type == "SPACE")
                page += t.html;
            else
                page += "<span style=\"color: " + f.color + "; font-weight: " + f.weight + ";\">" + t.html + "</span>";
        }
        page += "\r\n";
    }
    return mode == Mode::text ? page : page + pageTail;
}

// The script bytes of lines joined by CR LF, with a final CR LF.
inline std::string scriptOf(const std::vector<Line>& lines) {
    std::string script;
    for (const Line& line : lines) script += line.raw + "\r\n";
    return script;
}

}  // namespace e2e
