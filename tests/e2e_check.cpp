// hibarune -check through the real program: exit statuses, the output
// forms, the figures of a shipped script, and input that must not hang it.

#include <fcntl.h>

#include <map>
#include <sstream>

#include "e2e_support.h"

namespace {

using namespace e2e;

// Whether text is one JSON value and nothing else: enough of a parser to
// tell that tools can read the output.
class JsonValidator {
public:
    explicit JsonValidator(std::string_view text) : text_(text) {}
    bool valid() {
        bool ok = value();
        blanks();
        return ok && at_ == text_.size();
    }

private:
    void blanks() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) ++at_;
    }
    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool string() {
        if (!literal("\"")) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            auto c = static_cast<unsigned char>(text_[at_]);
            if (c < 0x20) return false;
            if (c == '\\') {
                ++at_;
                if (at_ >= text_.size()) return false;
                if (text_[at_] == 'u') at_ += 4;
                else if (std::strchr("\"\\/bfnrt", text_[at_]) == nullptr) return false;
            }
            ++at_;
        }
        return literal("\"");
    }
    bool number() {
        std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        return at_ > start;
    }
    bool value() {
        blanks();
        if (at_ >= text_.size()) return false;
        char c = text_[at_];
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            ++at_;
            blanks();
            if (literal(std::string(1, close))) return true;
            do {
                blanks();
                if (c == '{') {
                    if (!string()) return false;
                    blanks();
                    if (!literal(":")) return false;
                }
                if (!value()) return false;
                blanks();
            } while (literal(","));
            return literal(std::string(1, close));
        }
        if (c == '"') return string();
        return literal("true") || literal("false") || literal("null") || number();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CheckRun : public Sandbox {
public:
    CheckRun() : Sandbox(readFile(fs::path(HIBARUNE_SOURCE_DIR) / "data/commands.txt")) {}
    // The outcome, with standard error kept in errors.
    Outcome check(std::vector<std::string> args) {
        args.insert(args.begin(), "-check");
        fs::path errPath = dir / "stderr.txt";
        RunOptions options;
        options.inChild = [errPath] {
            int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) ::dup2(fd, 2);
        };
        Outcome outcome = hibarune(args, options);
        errors = readFile(errPath).value_or("");
        return outcome;
    }
    std::string errors;
};

const std::string clean = "*define\ngame\n*start\ngoto *start\n";
const std::string broken = "*define\ngame\n*start\ngoto *x\n*a\n*a\n";

struct StatusCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;      // the whole standard output
    std::string summary;  // the last line of standard error
};

TEST(e2eCheck, ExitStatusesOutputAndSummary) {
    const std::string undefined = "bad.txt:4:6: error: goto to undefined label *x [undefined-label]\n";
    const std::string duplicate =
        "bad.txt:6:2: warning: label *a is defined again (first at line 5): ONScripter and Ponscripter use the last, "
        "ONScripter-EN the first, ONScripter-RU refuses to start [duplicate-label]\n";
    const StatusCase cases[] = {
        {"clean", {"ok.txt"}, 0, "", "0 errors, 0 warnings in 1 file\n"},
        {"an error", {"bad.txt"}, 1, undefined + duplicate, "1 error, 1 warning in 1 file\n"},
        {"warnings only", {"-no-check=undefined-label", "bad.txt"}, 0, duplicate, "0 errors, 1 warning in 1 file\n"},
        {"chosen checks", {"-check=duplicate-label,jumpf-target", "bad.txt"}, 0, duplicate, "0 errors, 1 warning in 1 file\n"},
        {"chosen twice", {"-check=duplicate-label", "-check=undefined-label", "bad.txt"}, 1, undefined + duplicate,
         "1 error, 1 warning in 1 file\n"},
        {"labels cross files", {"bad.txt", "more.txt"}, 0, duplicate, "0 errors, 1 warning in 2 files\n"},
        {"unreadable file, others still checked", {"missing.txt", "bad.txt"}, 2, undefined + duplicate,
         "1 error, 1 warning in 1 file\n"},
        {"unknown check id", {"-check=no-such-check", "bad.txt"}, 2, "", ""},
        {"unknown format", {"-check-format=xml", "bad.txt"}, 2, "", ""},
        {"no file", {}, 2, "", ""},
    };
    for (const StatusCase& c : cases) {
        CheckRun run;
        run.write("ok.txt", clean);
        run.write("bad.txt", broken);
        run.write("more.txt", "*x\nend\n");
        Outcome outcome = run.check(c.args);
        EXPECT_EQ(outcome.status, c.status) << c.name;
        EXPECT_EQ(outcome.out, c.out) << c.name;
        std::vector<std::string> errorLines = linesOf(run.errors);
        if (!c.summary.empty()) {
            ASSERT_FALSE(errorLines.empty()) << c.name;
            EXPECT_EQ(errorLines.back() + "\n", c.summary) << c.name;
        } else {
            EXPECT_FALSE(run.errors.empty()) << c.name << ": a usage error is explained";
        }
        EXPECT_TRUE(run.pages().empty()) << c.name;
    }
}

TEST(e2eCheck, UnreadableFileIsNamed) {
    CheckRun run;
    run.write("bad.txt", broken);
    run.check({"missing.txt", "bad.txt"});
    EXPECT_NE(run.errors.find("missing.txt: error: cannot be read: No such file or directory"), std::string::npos)
        << run.errors;
}

TEST(e2eCheck, JsonAndSarifAreWellFormed) {
    CheckRun run;
    // A CP932 name in a string and a quote in a message: both must come out as valid JSON.
    run.write("a \"q\".txt", broken + "goto \"\x83\x5c\"\n");
    Outcome json = run.check({"-check-format=json", "a \"q\".txt"});
    EXPECT_EQ(json.status, 1);
    std::vector<std::string> objects = linesOf(json.out);
    ASSERT_EQ(objects.size(), 3u);
    for (const std::string& object : objects) EXPECT_TRUE(JsonValidator(object).valid()) << object;
    EXPECT_EQ(objects[0], "{\"file\":\"a \\\"q\\\".txt\",\"line\":4,\"column\":6,\"severity\":\"error\",\"check\":"
                          "\"undefined-label\",\"message\":\"goto to undefined label *x\"}");

    Outcome sarif = run.check({"-check-format=sarif", "a \"q\".txt"});
    EXPECT_EQ(sarif.status, 1);
    EXPECT_TRUE(JsonValidator(sarif.out).valid()) << sarif.out;
    for (std::string_view piece : {"\"version\":\"2.1.0\"", "\"name\":\"Hibarune\"", "{\"id\":\"undefined-label\"",
                                   "{\"id\":\"bom-hides-label\"", "\"ruleId\":\"label-argument\"",
                                   "\"uri\":\"a%20%22q%22.txt\"", "\"region\":{\"startLine\":4,\"startColumn\":6}"})
        EXPECT_NE(sarif.out.find(piece), std::string::npos) << piece;

    Outcome none = run.check({"-check-format=sarif", "-check=jumpf-target", "a \"q\".txt"});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(JsonValidator(none.out).valid()) << none.out;
}

TEST(e2eCheck, ByteOrderMarkReadAsUtf8) {
    CheckRun run;
    run.write("0.txt", "\xEF\xBB\xBF*define\ngame\n*start\nend\n");
    Outcome outcome = run.check({"-utf8", "0.txt"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("0.txt:1:1: error: a UTF-8 byte order mark stands before *define"), std::string::npos)
        << outcome.out;
}

TEST(e2eCheck, ShippedScriptFigures) {
    fs::path script = fs::path(HIBARUNE_SOURCE_DIR) / "../shared/corpus/umineko-hane__0.txt";
    if (!fs::exists(script)) script = "/work/shared/corpus/umineko-hane__0.txt";
    if (!fs::exists(script)) GTEST_SKIP() << "corpus not found";
    CheckRun run;
    Outcome outcome = run.check({"-check=undefined-label,jumpf-target", script.string()});
    EXPECT_EQ(outcome.status, 1);
    std::set<std::string> names;
    std::vector<std::string> jumps;
    bool ep7 = false;
    const std::string undefinedMark = " to undefined label *";
    const std::string jumpfMark = ": warning: jumpf lands on the trail byte of a character in a comment at ";
    for (const std::string& line : linesOf(outcome.out)) {
        // FILE:LINE:COL: ...: the line number is the field before the column.
        std::size_t columnColon = line.rfind(':', line.find(": ") - 1);
        std::size_t lineColon = line.rfind(':', columnColon - 1);
        std::string number = line.substr(lineColon + 1, columnColon - lineColon - 1);
        if (std::size_t at = line.find(undefinedMark); at != std::string::npos && line.ends_with(" [undefined-label]")) {
            std::string name = line.substr(at + undefinedMark.size());
            name = name.substr(0, name.find(' '));
            names.insert(name);
            ep7 = ep7 || (name == "change_isyou_ep7" && number == "31782");
        } else if (line.find(jumpfMark) != std::string::npos && line.ends_with(" [jumpf-target]")) {
            jumps.push_back(number);
        }
    }
    EXPECT_GE(names.size(), 120u);
    EXPECT_LE(names.size(), 140u);
    EXPECT_TRUE(ep7);
    EXPECT_EQ(jumps, (std::vector<std::string>{"27204", "27320", "45039"}));
}

TEST(e2eCheck, LargeAndBrokenInputEnds) {
    CheckRun run;
    std::string manyLabels;
    for (int k = 0; k < 100000; ++k) manyLabels += "*l" + std::to_string(k) + "\ngoto *m" + std::to_string(k) + "\n";
    run.write("labels.txt", manyLabels);
    std::string junk;
    std::uint32_t state = 12345;
    for (int k = 0; k < 1 << 20; ++k) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        junk += static_cast<char>(state & 0xFF);
    }
    run.write("junk.txt", junk);
    run.write("long.txt", "*start\n" + std::string(10 << 20, 'a') + " b~\n;\x8e");
    const std::pair<const char*, std::size_t> cases[] = {{"labels.txt", 100000}, {"junk.txt", 0}, {"long.txt", 0}};
    for (const auto& [file, undefinedCount] : cases) {
        Outcome outcome = run.check({file});
        EXPECT_TRUE(outcome.status == 0 || outcome.status == 1) << file << ": " << outcome.status;
        if (undefinedCount != 0) {
            std::vector<std::string> lines = linesOf(outcome.out);
            EXPECT_EQ(lines.size(), undefinedCount) << file;
            EXPECT_EQ(lines.back(), "labels.txt:200000:6: error: goto to undefined label *m99999 [undefined-label]");
        }
    }
}

}  // namespace
