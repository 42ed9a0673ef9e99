// Scripts as people have them, through the real program: -lenient with its
// warnings, -utf8, the diagnostics on standard error, -help and --version,
// "--", colours from color.txt in the page's encoding, and bad input.

#include <chrono>
#include <map>

#include <iconv.h>
#include <poll.h>

#include "e2e_support.h"

namespace {

using namespace e2e;

const std::string convertError = "Couldn't convert string: Invalid or incomplete multibyte or wide character";

// What a run wrote on each stream.
struct Streams {
    std::string out, err;
    int status = -1;
};

// Reads both pipes until both are closed, so that neither can fill up and
// stall the child.
void drain(int outFd, int errFd, Streams& result) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) return;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            ::close(fds[k].fd);
            fds[k].fd = -1;
            --open;
        }
    }
}

// Runs the sandbox's program in its directory, in the C locale, keeping
// standard output and standard error apart.
Streams runBoth(const Sandbox& box, const std::vector<std::string>& args) {
    std::vector<std::string> store{(box.dir / "hibarune").string()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string locale = "LC_ALL=C";
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0) envp.push_back(*e);
    envp.push_back(locale.data());
    envp.push_back(nullptr);

    Streams result;
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0) return result;
    if (::pipe(errPipe) != 0) return result;
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) ::close(fd);
        if (::chdir(box.dir.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    drain(outPipe[0], errPipe[0], result);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string iconvText(const char* to, const char* from, std::string_view input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    std::string out(input.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(input.data());
    char* o = out.data();
    std::size_t inLeft = input.size(), outLeft = out.size();
    bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) return "<not convertible>";
    out.resize(out.size() - outLeft);
    return out;
}

std::string toUtf8(std::string_view cp932) { return iconvText("UTF-8", "CP932", cp932); }
std::string toCp932(std::string_view utf8) { return iconvText("CP932", "UTF-8", utf8); }

// A page of UTF-8 text that declares Shift_JIS, as the -utf8 page declares it.
std::string withUtf8Meta(std::string page) {
    const std::string from = "charset=Shift_JIS", to = "charset=UTF-8";
    if (std::size_t at = page.find(from); at != std::string::npos) page.replace(at, from.size(), to);
    return page;
}

std::string warningLine(const std::string& file, int line, int column, const std::string& message) {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": warning: " + message + "\n";
}

Fonts fontsWith(const std::string& type, const std::string& color) {
    Fonts fonts = defaultFonts();
    for (Font& f : fonts)
        if (f.name == type) f.color = color;
    return fonts;
}

const std::string symbolOrNumber = "input symbol or number";
const std::string symbolOrNumberAtEnd = "input symbol or number to line bottom";
const std::string afterBang = "input 'd', 's', 'sd', 'w' follow '!'";
const std::string bangAtEnd = "input 'd', 's', 'sd', 'w' to line bottom";
const std::string colorFormat = "the format of color is #[0-9a-fA-F]{6}";

// Lines of real scripts the strict tokenizer rejects, with the tokens the
// lenient one gives and the places it warns of (line, column from 1).
const std::vector<Line> rejectedLines = {
    {"`Use this name?",
     {{"ASCII", "`"}, {"SYMBOL", "Use"}, {"SPACE", " "}, {"SYMBOL", "this"}, {"SPACE", " "}, {"SYMBOL", "name"},
      {"ASCII", "?"}}},
    {"`FAIL!!!", {{"ASCII", "`"}, {"SYMBOL", "FAIL"}, {"ASCII", "!"}, {"ASCII", "!"}, {"ASCII", "!"}}},
    {"School courthouse, courtroom #1\\",
     {{"SYMBOL", "School"}, {"SPACE", " "}, {"SYMBOL", "courthouse"}, {"ASCII", ","}, {"SPACE", " "},
      {"SYMBOL", "courtroom"}, {"SPACE", " "}, {"ASCII", "#"}, {"NUMBER", "1"}, {"SPECIAL_CHARACTER", "\\"}}},
    {"mov %0,1", {{"COMMON_COMMAND", "mov"}, {"SPACE", " "}, {"NUMBER_VARIABLE", "%0"}, {"ASCII", ","},
                  {"NUMBER", "1"}}},
    {"\x82\xA4?\x82\xF1", {{"STRING", "\x82\xA4"}, {"ASCII", "?"}, {"STRING", "\x82\xF1"}}},  // う?ん
};

std::string rejectedWarnings(const std::string& file) {
    return warningLine(file, 1, 15, symbolOrNumberAtEnd) + warningLine(file, 2, 6, afterBang) +
           warningLine(file, 2, 7, afterBang) + warningLine(file, 2, 8, bangAtEnd) +
           warningLine(file, 3, 30, colorFormat) + warningLine(file, 5, 3, symbolOrNumber);
}

struct LenientCase {
    std::vector<std::string> args;
    Mode mode;
    bool lineNumbers;
};

TEST(e2eLenient, RejectedLinesGiveTheirPageAndWarnings) {
    const LenientCase cases[] = {
        {{"-lenient", "s.txt"}, Mode::style, false},
        {{"s.txt", "-lenient", "-lineno"}, Mode::style, true},
        {{"-class", "-lenient", "s.txt"}, Mode::classes, false},
        {{"-text", "-lineno", "-lenient", "s.txt"}, Mode::text, true},
    };
    for (const LenientCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Sandbox box;
        box.write("s.txt", scriptOf(rejectedLines));
        Streams r = runBoth(box, c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, rejectedWarnings("s.txt"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(box.read("s.txt.html"), expectedPage(c.mode, c.lineNumbers, rejectedLines));
    }
}

// A script the strict tokenizer accepts gives the same page, and no warning.
TEST(e2eLenient, AcceptedScriptsAreUnchanged) {
    const std::vector<Line> accepted = {{"mov %0,1", rejectedLines[3].tokens}, {";`FAIL!!!", {{"COMMENT", ";`FAIL!!!"}}}};
    Sandbox box;
    box.write("s.txt", scriptOf(accepted));
    Streams r = runBoth(box, {"-lenient", "s.txt"});
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(box.read("s.txt.html"), expectedPage(Mode::style, false, accepted));
}

TEST(e2eLenient, AtMostTwentyWarningsPerScript) {
    struct Case {
        int badLines;
        std::string more;  // the line after the twenty, if any
    } cases[] = {{20, ""}, {21, "b.txt: 1 more warnings not shown\n"}, {57, "b.txt: 37 more warnings not shown\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badLines);
        Sandbox box;
        std::string script = ";fine\r\n", expected;
        for (int i = 0; i < c.badLines; ++i) {
            script += "`FAIL!\r\n";
            if (i < 20) expected += warningLine("b.txt", i + 2, 6, bangAtEnd);
        }
        box.write("a.txt", "`x?\n");
        box.write("b.txt", script);
        Streams r = runBoth(box, {"-lenient", "-text", "a.txt", "b.txt"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, warningLine("a.txt", 1, 3, symbolOrNumberAtEnd) + expected + c.more);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(box.pages(), (std::set<std::string>{"a.txt.html", "b.txt.html"}));
    }
}

// Scripts that cannot be read: a lenient run reports each and goes on, a
// strict one stops at the first.
TEST(e2eLenient, GoesOnPastScriptsThatFail) {
    const std::vector<Line> good = {{";ok", {{"COMMENT", ";ok"}}}};
    const std::string goodPage = expectedPage(Mode::style, false, good);
    for (bool lenient : {true, false}) {
        SCOPED_TRACE(lenient ? "lenient" : "strict");
        Sandbox box;
        box.write("a.txt", scriptOf(good));
        box.write("c.txt", scriptOf(good));
        std::vector<std::string> args{"a.txt", "b.txt", "c.txt"};
        if (lenient) args.push_back("-lenient");
        Streams r = runBoth(box, args);
        EXPECT_EQ(r.out, "b.txt: No such file or directory\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
        const std::set<std::string> pages = lenient ? std::set<std::string>{"a.txt.html", "c.txt.html"}
                                                    : std::set<std::string>{"a.txt.html"};
        EXPECT_EQ(box.pages(), pages);
        for (const std::string& page : box.pages()) EXPECT_EQ(box.read(page), goodPage) << page;
    }
}

// A script that does not decode: strictly, the conversion message as ever
// and its place on standard error, and the run stops; leniently, a warning
// and a page that keeps the bytes (CP932 pages) or shows them as U+FFFD
// (UTF-8 pages).
TEST(e2eLenient, ScriptsThatDoNotDecodeAreNamedOrConverted) {
    const std::vector<Line> good = {{";ok", {{"COMMENT", ";ok"}}}};
    const std::string halfAndHalf = "\x82\xA0\r\n\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n";  // あ in CP932, 日本語 in UTF-8
    const std::string note = "b.txt: note: -lenient converts the script anyway, with a warning for each such place\n";
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string script;
        std::string place;    // "b.txt:LINE:COLUMN: ", then the kind, then what
        std::string what;
        std::string shown;    // what the lenient run's warning adds
        std::string onPage;   // what the lenient page holds for the bad line
    } cases[] = {
        {"invalid CP932 after a character", {}, "ok\r\n\x82\xA0\x80\r\n", "b.txt:2:3: ", "not valid CP932 (byte 80)",
         "; kept on the page", "\x82\xA0\x80"},
        {"half CP932 and half UTF-8", {}, halfAndHalf, "b.txt:2:9: ", "not valid CP932 (byte 9E)", "; kept on the page",
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"half CP932 and half UTF-8, read as UTF-8", {"-utf8"}, halfAndHalf, "b.txt:1:1: ",
         "not valid UTF-8 (byte 82)", "; shown as U+FFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"UTF-8 text read as CP932", {}, ";\xE3\x81\x82\r\n", "b.txt:1:4: ",
         "not valid CP932 (byte 82); the file looks like UTF-8: try -utf8", "; kept on the page", "\xE3\x81\x82"},
        {"UTF-8 text read as CP932 for an HTML5 page", {"-html5"}, ";\xE3\x81\x82\r\n", "b.txt:1:4: ",
         "not valid CP932 (byte 82); the file looks like UTF-8: try -utf8", "; shown as U+FFFD",
         "\xE7\xB8\xBA\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        for (bool lenient : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (lenient ? ", lenient" : ", strict"));
            Sandbox box;
            box.write("a.txt", scriptOf(good));
            box.write("b.txt", c.script);
            box.write("c.txt", scriptOf(good));
            std::vector<std::string> args = c.options;
            if (lenient) args.push_back("-lenient");
            for (const char* file : {"a.txt", "b.txt", "c.txt"}) args.push_back(file);
            Streams r = runBoth(box, args);
            if (lenient) {
                std::string what = c.what.substr(0, c.what.find(';'));
                EXPECT_EQ(r.out, "");
                EXPECT_TRUE(r.err.starts_with(c.place + "warning: " + what + c.shown + "\n")) << r.err;
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(box.pages(), (std::set<std::string>{"a.txt.html", "b.txt.html", "c.txt.html"}));
                EXPECT_NE(box.read("b.txt.html")->find(c.onPage), std::string::npos);
            } else {
                // The reading pages read the scripts as one game: none is written.
                bool game = c.options == std::vector<std::string>{"-html5"};
                EXPECT_EQ(r.out, game ? "" : convertError + "\n");
                EXPECT_EQ(r.err, c.place + "error: " + c.what + "\n" + note);
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(box.pages(), game ? std::set<std::string>{} : std::set<std::string>{"a.txt.html"});
            }
        }
    }
}

// A strict run that stops at a line names the file and the line on
// standard error, and keeps its one line on standard output as before.
TEST(e2eDiagnostics, TokenizerErrorNamesFileLineAndColumn) {
    // 335 lines of comments, then the failing line (index 335).
    std::string many;
    for (int i = 0; i < 335; ++i) many += ";\x82\xA0\r\n";
    struct Case {
        std::string script;
        std::string out, err;
    } cases[] = {
        {many + "mov ?,1\r\n", "335: " + symbolOrNumber + "\n", "s.txt:336:5: error: " + symbolOrNumber + "\n"},
        {"ok\r\n`FAIL!!!\r\n", "1: " + afterBang + "\n", "s.txt:2:6: error: " + afterBang + "\n"},
        {"\x82\xA0#12\n", "0: " + colorFormat + "\n", "s.txt:1:3: error: " + colorFormat + "\n"},
        // An NEC duplicate (not the same bytes back from UTF-8), then half-width kana.
        {"\x87\x90\xB1\x82\xA4?\n", "0: " + symbolOrNumberAtEnd + "\n",
         "s.txt:1:6: error: " + symbolOrNumberAtEnd + "\n"},
    };
    const std::string note = "s.txt: note: -lenient converts the script anyway, with a warning for each such place\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        Sandbox box;
        box.write("s.txt", c.script);
        Streams r = runBoth(box, {"s.txt"});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err + note);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(box.pages().empty());
    }
}

// A commands.txt out of format: the fixed message on standard output, the
// line and what is wrong with it on standard error.
TEST(e2eDiagnostics, BadCommandsLineIsNamed) {
    const std::pair<std::string, std::string> cases[] = {
        {"mov\r\n\r\nbg,E\r\n", "commands.txt:2: error: a blank line\n"},
        {"mov\nbg,E\nx,F,E\n", "commands.txt:3: error: more than one comma; a line is name or name,CLASS\n"},
        {"a\rb\r\nc,,\n", "commands.txt:3: error: more than one comma; a line is name or name,CLASS\n"},
    };
    for (const auto& [commands, err] : cases) {
        SCOPED_TRACE(commands);
        Sandbox box(commands);
        box.write("s.txt", ";ok\n");
        Streams r = runBoth(box, {"s.txt"});
        EXPECT_EQ(r.out, "bad format the description of reserved commands\n");
        EXPECT_EQ(r.err, (box.dir / err).string());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(box.pages().empty());
    }
}

// ---- -utf8 ------------------------------------------------------------------

// Japanese, a character whose CP932 trail byte is "\\", markup to escape,
// and a line the strict tokenizer rejects.
const std::string japaneseScript =
    "*start\r\n;\x83\x5C<&>\r\nbg \"\x93\xFA\",1\r\n[\x83\x5E]\x82\xA0!w500(\x8A\xBF/\x82\xA9)@\\\r\n"
    "<1\x82\xCD\x82\xA2>\r\n";
const std::string rejectedJapanese = "\x82\xA4?\x82\xF1\r\n";

TEST(e2eUtf8, PagesAreTheCp932PagesInUtf8) {
    struct Case {
        std::vector<std::string> options;
        std::string extra;  // appended to the script
        std::string bom;
    } cases[] = {
        {{}, "", ""},
        {{"-lineno"}, "", ""},
        {{"-class"}, "", "\xEF\xBB\xBF"},
        {{"-text", "-lineno"}, "", "\xEF\xBB\xBF"},
        {{"-lenient"}, rejectedJapanese, ""},
        {{"-class", "-lenient", "-lineno"}, rejectedJapanese, "\xEF\xBB\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + (c.bom.empty() ? "" : ", BOM"));
        Sandbox box;
        std::string cp932 = japaneseScript + c.extra;
        box.write("c.txt", cp932);
        box.write("u.txt", c.bom + toUtf8(cp932));
        std::vector<std::string> args = c.options;
        args.push_back("c.txt");
        Streams cp932Run = runBoth(box, args);
        args.back() = "u.txt";
        args.push_back("-utf8");
        Streams utf8Run = runBoth(box, args);
        EXPECT_EQ(cp932Run.out + utf8Run.out, "");
        EXPECT_EQ(cp932Run.status, 0);
        EXPECT_EQ(utf8Run.status, 0);
        std::string cp932Page = box.read("c.txt.html").value_or("<none>");
        EXPECT_NE(cp932Page.find("\x83\x5C"), std::string::npos);
        EXPECT_EQ(box.read("u.txt.html"), withUtf8Meta(toUtf8(cp932Page)));
        // Warnings name the same places: columns count bytes of the script read.
        if (!c.extra.empty()) {
            EXPECT_EQ(cp932Run.err, warningLine("c.txt", 6, 3, symbolOrNumber));
            EXPECT_EQ(utf8Run.err, warningLine("u.txt", 6, 4, symbolOrNumber));
        }
    }
}

// Bad UTF-8: the conversion message on standard output as ever, the place
// and the bytes on standard error; with -lenient a warning and a page that
// shows them as U+FFFD.
TEST(e2eUtf8, InvalidUtf8IsAConversionErrorThatNamesItsPlace) {
    struct Case {
        const char* name;
        std::string script;
        std::string place;  // "LINE:COLUMN: KIND: not valid UTF-8 (BYTES)", KIND left out
    } cases[] = {
        {"continuation byte alone", "ok\n\x80\n", "2:1: not valid UTF-8 (byte 80)"},
        {"byte never in UTF-8", "ok\n\xFF\n", "2:1: not valid UTF-8 (byte FF)"},
        {"overlong slash", "\xC0\xAF\n", "1:1: not valid UTF-8 (byte C0)"},
        {"overlong three bytes", "\xE0\x80\xAF\n", "1:1: not valid UTF-8 (bytes E0 80 AF)"},
        {"surrogate", "\xED\xA0\x80\n", "1:1: not valid UTF-8 (bytes ED A0 80)"},
        {"past U+10FFFF", "\xF4\x90\x80\x80\n", "1:1: not valid UTF-8 (bytes F4 90 80 80)"},
        {"cut at the line end", "\xE3\x81\nok\n", "1:1: not valid UTF-8 (bytes E3 81)"},
        {"cut at the end of the file", "ok\n\xE3\x81", "2:1: not valid UTF-8 (bytes E3 81)"},
        {"CP932 text", "\x82\xA0\x82\xA2\n", "1:1: not valid UTF-8 (byte 82)"},
        {"BOM not at the start", "ok\n\xEF\xBB\xBF\xFE\n", "2:4: not valid UTF-8 (byte FE)"},
    };
    for (const Case& c : cases) {
        for (bool lenient : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (lenient ? ", lenient" : ""));
            Sandbox box;
            box.write("s.txt", c.script);
            box.write("z.txt", ";ok\n");
            std::vector<std::string> args{"-utf8", "s.txt", "z.txt"};
            if (lenient) args.insert(args.begin(), "-lenient");
            Streams r = runBoth(box, args);
            std::string kind = lenient ? "warning: " : "error: ";
            std::string place = c.place;
            place.insert(place.find(": ") + 2, kind);
            EXPECT_EQ(r.out, lenient ? "" : convertError + "\n");
            EXPECT_TRUE(r.err.starts_with("s.txt:" + place)) << r.err;
            EXPECT_EQ(r.status, lenient ? 0 : 1);
            EXPECT_EQ(box.pages().size(), lenient ? 2u : 0u);
            if (lenient) {
                EXPECT_NE(box.read("s.txt.html")->find("\xEF\xBF\xBD"), std::string::npos);
            }
        }
    }
}

// ---- Command line -------------------------------------------------------------

TEST(e2eCommandLine, HelpAndVersionTouchNoFile) {
    const std::vector<std::string> everyOption = {"-lineno", "-class", "-text", "-lenient", "-utf8", "-help",
                                                  "--help", "-h", "--version", "--", "commands.txt", "color.txt"};
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-help"}, {"--help"}, {"-h"}, {"s.txt", "-h"}, {"--version"}, {"-lenient", "--version", "s.txt"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        // No commands.txt: a run that read it would fail.
        Sandbox box(std::nullopt);
        box.write("s.txt", ";c\n");
        fs::create_directory(box.dir / "color.txt");
        Streams r = runBoth(box, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        if (std::find(args.begin(), args.end(), "--version") != args.end()) {
            EXPECT_EQ(r.out, "Hibarune 1.0\n");
        } else {
            for (const std::string& option : everyOption) EXPECT_NE(r.out.find(option), std::string::npos) << option;
        }
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(box.dir)) names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"color.txt", "hibarune", "s.txt"}));
    }
}

TEST(e2eCommandLine, DoubleDashEndsTheOptions) {
    const std::vector<Line> lines = {{";x", {{"COMMENT", ";x"}}}};
    Sandbox box;
    box.write("-x.txt", scriptOf(lines));
    box.write("-class", scriptOf(lines));
    Streams r = runBoth(box, {"-lineno", "--", "-x.txt", "-class"});
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(box.read("-x.txt.html"), expectedPage(Mode::style, true, lines));
    EXPECT_EQ(box.read("-class.html"), expectedPage(Mode::style, true, lines));
    // Without "--" the name is an option, ignored with a warning.
    Sandbox other;
    other.write("-x.txt", scriptOf(lines));
    Streams ignored = runBoth(other, {"-x.txt"});
    EXPECT_TRUE(ignored.err.starts_with("warning: unknown option -x.txt ignored\n")) << ignored.err;
    EXPECT_EQ(ignored.status, 1);
    EXPECT_TRUE(other.pages().empty());
}

// Options the program does not know are ignored, each with a warning that
// names the nearest known one; options without a script are an error.
TEST(e2eCommandLine, UnknownOptionsAreWarnedOf) {
    const std::vector<Line> lines = {{";x", {{"COMMENT", ";x"}}}};
    const std::string usageStart = "Hibarune Ver.1.0\nUSAGE:\n";
    const std::string noScript = "warning: no script given; nothing converted\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
        bool usage;  // standard output holds the usage text
        int status;
    } cases[] = {
        {{"--lineno", "-Class", "-htlm5", "x.txt"},
         "warning: unknown option --lineno ignored; did you mean -lineno?\n"
         "warning: unknown option -Class ignored; did you mean -class?\n"
         "warning: unknown option -htlm5 ignored; did you mean -html5?\n",
         false, 0},
        {{"-", "-zz", "-lineno=1", "x.txt"},
         "warning: unknown option - ignored\nwarning: unknown option -zz ignored\n"
         "warning: unknown option -lineno=1 ignored; did you mean -lineno?\n",
         false, 0},
        {{"-engine", "onscripter", "-lang", "en", "-html5", "x.txt"}, "", false, 0},
        {{"-lineno"}, noScript, true, 1},
        {{"-lenitent"}, "warning: unknown option -lenitent ignored; did you mean -lenient?\n" + noScript, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Sandbox box;
        box.write("x.txt", scriptOf(lines));
        Streams r = runBoth(box, c.args);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out.starts_with(usageStart), c.usage) << r.out;
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(box.pages().size(), c.usage ? 0u : 1u);
    }
}

// ---- Colours of color.txt ---------------------------------------------------------

const std::vector<Line> commentAndNumber = {{";c", {{"COMMENT", ";c"}}}, {"1", {{"NUMBER", "1"}}}};
const std::vector<Line> numberOnly = {{"1", {{"NUMBER", "1"}}}};

struct ColourModeCase {
    std::vector<std::string> options;
    Mode mode;
    bool lineNumbers, utf8;
};
const ColourModeCase colourModes[] = {
    {{}, Mode::style, false, false},          {{"-lineno"}, Mode::style, true, false},
    {{"-class"}, Mode::classes, false, false}, {{"-text"}, Mode::text, false, false},
    {{"-utf8"}, Mode::style, false, true},    {{"-class", "-utf8", "-lineno"}, Mode::classes, true, true},
};

std::vector<std::string> argsFor(const ColourModeCase& c, const std::string& file) {
    std::vector<std::string> args = c.options;
    args.push_back(file);
    return args;
}

// A colour of UTF-8 text is written in the page's encoding.
TEST(e2eColours, ValuesAreWrittenInThePagesEncoding) {
    const std::string red = "\xE8\xB5\xA4";  // 赤
    for (const ColourModeCase& c : colourModes) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        Sandbox box;
        box.write("color.txt", "COMMENT=" + red + "\n");
        box.write("s.txt", scriptOf(commentAndNumber));
        Streams r = runBoth(box, argsFor(c, "s.txt"));
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(r.status, 0);
        std::string page = expectedPage(c.mode, c.lineNumbers, commentAndNumber, fontsWith("COMMENT", red));
        if (c.mode != Mode::text) page = c.utf8 ? withUtf8Meta(page) : toCp932(page);
        EXPECT_EQ(box.read("s.txt.html"), page);
    }
}

// A colour CP932 cannot hold is skipped, with a warning, where the pages
// are CP932; UTF-8 pages carry it.
TEST(e2eColours, ValuesACp932PageCannotHoldAreSkipped) {
    const std::string value = "c\xC3\xA9";  // cé
    for (const ColourModeCase& c : colourModes) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        Sandbox box;
        box.write("color.txt", "NUMBER=#123456\nCOMMENT=" + value + "\n");
        box.write("s.txt", scriptOf(commentAndNumber));
        Streams r = runBoth(box, argsFor(c, "s.txt"));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.utf8 ? "" : "color.txt:2: warning: colour of COMMENT skipped: the page's encoding, CP932, "
                                       "cannot hold it\n");
        EXPECT_EQ(r.status, 0);
        Fonts fonts = fontsWith("NUMBER", "#123456");
        if (c.utf8)
            for (Font& font : fonts)
                if (font.name == "COMMENT") font.color = value;
        std::string page = expectedPage(c.mode, c.lineNumbers, commentAndNumber, fonts);
        EXPECT_EQ(box.read("s.txt.html"), c.utf8 && c.mode != Mode::text ? withUtf8Meta(page) : page);
    }
}

// Values that could close the attribute or the rule, or comment out the
// rules after them, are skipped with a warning in every mode; colour
// notations of letters, digits and "#(),.%" and blanks are kept.
TEST(e2eColours, ValuesThatCouldAddMarkupAreSkipped) {
    const std::string refused[] = {
        "red\" onmouseover=\"alert(1)", "red;background:url(x)", "red}body{display:none", "red<script>",
        "a>b",                          "&quot;",                "red\\22",                "red\x01",
        "red\x7F",                      "re\x0B" "d",            "red/*",                  "#ff\t0000",
    };
    const std::string kept[] = {"rgb(10, 20, 30)", "hsl(120, 50%, 30.5%)", "#AbC", "dark red"};
    struct Value {
        std::string text;
        bool keep;
    };
    std::vector<Value> values;
    for (const std::string& v : refused) values.push_back({v, false});
    for (const std::string& v : kept) values.push_back({v, true});
    for (const Value& v : values) {
        for (const ColourModeCase& c : colourModes) {
            SCOPED_TRACE(::testing::PrintToString(v.text) + " " + ::testing::PrintToString(c.options));
            Sandbox box;
            // The line of a good colour after the refused one shows which lines count.
            box.write("color.txt", "NUMBER=#123456\r\nCOMMENT=" + v.text + "\r\n");
            box.write("s.txt", scriptOf(commentAndNumber));
            Streams r = runBoth(box, argsFor(c, "s.txt"));
            EXPECT_EQ(r.out, "");
            if (v.keep) {
                EXPECT_EQ(r.err, "");
            } else {
                EXPECT_TRUE(r.err.starts_with("color.txt:2: warning: colour of COMMENT skipped: it holds ")) << r.err;
            }
            EXPECT_EQ(r.status, 0);
            Fonts fonts = fontsWith("NUMBER", "#123456");
            if (v.keep) fonts = [&] {
                    Fonts f = fonts;
                    for (Font& font : f)
                        if (font.name == "COMMENT") font.color = v.text;
                    return f;
                }();
            std::string page = expectedPage(c.mode, c.lineNumbers, commentAndNumber, fonts);
            EXPECT_EQ(box.read("s.txt.html"), c.utf8 && c.mode != Mode::text ? withUtf8Meta(page) : page);
        }
    }
}

// ---- Bad input --------------------------------------------------------------------

std::string randomBytes(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        b = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::string pngLike() {
    return std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x01\0\0\0\x01\0\x08\x06\0\0\0\x5C\x72\xA8\x66", 33) +
           std::string("\0\0\x20\0IDAT\x78\x9C", 10) + randomBytes(8192, 7);
}

// Files that are not text: one message and the place, no page, earlier
// pages kept; with -lenient a page with a warning for each bad place.
TEST(e2eBadInput, BinaryFilesGiveTheirMessage) {
    const std::pair<const char*, std::string> files[] = {{"PNG", pngLike()}, {"random bytes", randomBytes(1 << 16, 99)}};
    const std::vector<Line> good = {{";ok", {{"COMMENT", ";ok"}}}};
    for (const auto& [name, bytes] : files) {
        for (const std::vector<std::string>& options :
             std::vector<std::vector<std::string>>{{}, {"-utf8"}, {"-lenient"}, {"-lenient", "-utf8", "-class"}}) {
            SCOPED_TRACE(std::string(name) + " " + ::testing::PrintToString(options));
            Sandbox box;
            box.write("a.txt", scriptOf(good));
            box.write("b.bin", bytes);
            box.write("c.txt", scriptOf(good));
            bool lenient = std::find(options.begin(), options.end(), "-lenient") != options.end();
            std::vector<std::string> args = options;
            for (const char* file : {"a.txt", "b.bin", "c.txt"}) args.push_back(file);
            Streams r = runBoth(box, args);
            EXPECT_EQ(r.out, lenient ? "" : convertError + "\n");
            EXPECT_TRUE(r.err.starts_with("b.bin:")) << r.err;
            EXPECT_NE(r.err.find(lenient ? ": warning: not valid " : ": error: not valid "), std::string::npos) << r.err;
            EXPECT_EQ(r.status, lenient ? 0 : 1);
            std::set<std::string> pages{"a.txt.html"};
            if (lenient) pages.insert({"b.bin.html", "c.txt.html"});
            EXPECT_EQ(box.pages(), pages);
        }
    }
}

// Ten million rejected characters on one line: the page, twenty warnings and
// the count of the rest, in bounded output and time.
TEST(e2eBadInput, TenMegabyteLineOfRejectedCharacters) {
    std::string line;
    line.reserve(10'000'000);
    while (line.size() < 10'000'000) line += "!?";
    Sandbox box;
    box.write("s.txt", line);
    auto start = std::chrono::steady_clock::now();
    Streams r = runBoth(box, {"-lenient", "-text", "s.txt"});
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    std::string expected;
    for (int k = 0; k < 20; ++k) expected += warningLine("s.txt", 1, k + 1, k % 2 == 0 ? afterBang : symbolOrNumber);
    EXPECT_EQ(r.err, expected + "s.txt: 9999980 more warnings not shown\n");
    EXPECT_TRUE(box.read("s.txt.html") == line + "\r\n");
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
