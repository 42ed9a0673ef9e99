// Whole pages written by the real program, in every mode.

#include "e2e_support.h"

namespace {

using namespace e2e;

// One line per kind of construct, every token type among them. Japanese text
// is CP932; several characters have a trail byte that is an ASCII dispatch
// character ("\\", "[", "@"), which must neither split them nor leak out.
const std::vector<Line> everyType = {
    {"*define", {{"SPECIAL_LABEL", "*define"}}},
    {"game\t;\x83\x5C<&>\"q\"", {{"DEFINE_COMMAND", "game"}, {"SPACE", "\t"},
                                 {"COMMENT", ";\x83\x5C&lt;&amp;&gt;&quot;q&quot;"}}},
    {"  *start", {{"SPACE", "  "}, {"SPECIAL_LABEL", "*start"}}},
    {"*scene_1", {{"LINETOP_LABEL", "*scene_1"}}},
    {"bg \"\x93\xFA<a&b>\",#ff00CC:mov %0,$s+?a[12]",
     {{"EXECUTE_COMMAND", "bg"}, {"SPACE", " "}, {"LITERAL", "&quot;\x93\xFA&lt;a&amp;b&gt;&quot;"},
      {"ASCII", ","}, {"COLOR", "#ff00CC"}, {"OPERATOR", ":"}, {"COMMON_COMMAND", "mov"}, {"SPACE", " "},
      {"NUMBER_VARIABLE", "%0"}, {"ASCII", ","}, {"STRING_VARIABLE", "$s"}, {"OPERATOR", "+"},
      {"ARRAY_VARIABLE", "?a"}, {"BRACKET_BEGIN", "["}, {"NUMBER", "12"}, {"BRACKET_END", "]"}}},
    {"", {}},
    {"if %0<1 && (2) > 1 goto *scene_1",
     {{"SYMBOL", "if"}, {"SPACE", " "}, {"NUMBER_VARIABLE", "%0"}, {"OPERATOR", "&lt;"}, {"NUMBER", "1"},
      {"SPACE", " "}, {"OPERATOR", "&amp;"}, {"OPERATOR", "&amp;"}, {"SPACE", " "}, {"PARENTHESIS_BEGIN", "("},
      {"NUMBER", "2"}, {"PARENTHESIS_END", ")"}, {"SPACE", " "}, {"ASCII", "&gt;"}, {"SPACE", " "},
      {"NUMBER", "1"}, {"SPACE", " "}, {"SYMBOL", "goto"}, {"SPACE", " "}, {"GENERIC_LABEL", "*scene_1"}}},
    {"[\x83\x5E\x83\x4F]\x83\x5C\x81\x5B\x95\x5C\x87\x40\x81\x60!w500(\x8A\xBF/\x82\xA9\x82\xF1)"
     "<1\x82\xCD\x82\xA2>\x82\xA0@\\/",
     {{"TAG", "[\x83\x5E\x83\x4F]"}, {"STRING", "\x83\x5C\x81\x5B\x95\x5C\x87\x40\x81\x60"},
      {"SPECIAL_CHARACTER", "!w500"}, {"RUBY", "(\x8A\xBF/\x82\xA9\x82\xF1)"},
      {"TEXT_BUTTON", "&lt;1\x82\xCD\x82\xA2&gt;"}, {"STRING", "\x82\xA0"}, {"SPECIAL_CHARACTER", "@"},
      {"SPECIAL_CHARACTER", "\\"}, {"SPECIAL_CHARACTER", "/"}}},
};

// The lines above with CR LF, LF and CR line ends, the last line without one.
std::string everyTypeScript() {
    const char* ends[] = {"\r\n", "\n", "\r", "\r\n", "\n", "\n", "\r", ""};
    std::string script;
    for (std::size_t i = 0; i < everyType.size(); ++i) script += everyType[i].raw + ends[i];
    return script;
}

struct ModeCase {
    std::vector<std::string> args;
    Mode mode;
    bool lineNumbers;
};

TEST(e2ePages, EveryTokenTypeInEveryMode) {
    const ModeCase cases[] = {
        {{"s.txt"}, Mode::style, false},
        {{"s.txt", "-lineno"}, Mode::style, true},
        {{"-class", "s.txt"}, Mode::classes, false},
        {{"s.txt", "-class", "-lineno"}, Mode::classes, true},
        {{"-text", "s.txt"}, Mode::text, false},
        {{"-lineno", "-text", "s.txt"}, Mode::text, true},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Sandbox box;
        box.write("s.txt", everyTypeScript());
        Outcome r = box.hibarune(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(box.pages(), std::set<std::string>{"s.txt.html"});
        EXPECT_EQ(box.read("s.txt.html"), expectedPage(c.mode, c.lineNumbers, everyType));
    }
}

// A script of several megabytes is converted in parts on several threads
// and its page written from the parts' buffers: the page of its lines still.
TEST(e2ePages, LargeScriptsGiveThePageOfTheirLines) {
    std::vector<Line> lines;
    std::string script;
    while (script.size() < (3u << 20))
        for (const Line& line : everyType) {
            lines.push_back(line);
            script += line.raw + "\r\n";
        }
    const ModeCase cases[] = {{{"s.txt", "-lineno"}, Mode::style, true}, {{"-class", "s.txt"}, Mode::classes, false}};
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Sandbox box;
        box.write("s.txt", script);
        Outcome r = box.hibarune(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(box.read("s.txt.html") == expectedPage(c.mode, c.lineNumbers, lines));
    }
}

// A few pages spelt out byte for byte, which also pins the helpers above.
TEST(e2ePages, LiteralPages) {
    const std::string styleHead =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"></meta>\r\n"
        "\r\n</head>\r\n<body bgcolor=\"#f0f0f0\">\r\n<pre>\r\n";
    struct Case {
        std::string script;
        std::vector<std::string> args;
        std::string page;
    } cases[] = {
        {";c\n", {"s.txt"},
         styleHead + "<span style=\"color: #008000; font-weight: normal;\">;c</span>\r\n</pre>\r\n</body>\r\n</html>"},
        {"", {"s.txt"}, styleHead + "</pre>\r\n</body>\r\n</html>"},
        {"", {"-text", "s.txt"}, ""},
        {"a\n\rb", {"-text", "-lineno", "s.txt"}, "0001: a\r\n0002: \r\n0003: b\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.script));
        Sandbox box;
        box.write("s.txt", c.script);
        EXPECT_EQ(box.hibarune(c.args).status, 0);
        EXPECT_EQ(box.read("s.txt.html"), c.page);
    }

    Sandbox box;
    box.write("s.txt", " \n");
    EXPECT_EQ(box.hibarune({"-class", "s.txt"}).status, 0);
    std::string page = box.read("s.txt.html").value_or("");
    EXPECT_NE(page.find("<style>\r\n.STRING\r\n{\r\n\tcolor: #000000;\r\n\tfont-weight: normal;\r\n}\r\n.SPACE\r\n"),
              std::string::npos);
    EXPECT_NE(page.find("\r\n}\r\n.COMMENT\r\n{\r\n\tcolor: #008000;\r\n\tfont-weight: normal;\r\n}\r\n.LITERAL\r\n"),
              std::string::npos);
    EXPECT_NE(page.find(".ASCII\r\n{\r\n\tcolor: #000000;\r\n\tfont-weight: normal;\r\n}\r\n\r\n</style>\r\n\r\n"
                        "</head>\r\n<body bgcolor=\"#f0f0f0\">\r\n<pre>\r\n<span class=\"SPACE\"> </span>\r\n</pre>"),
              std::string::npos);
}

struct ColorCase {
    const char* name;
    std::optional<std::string> colorFile;
    std::vector<std::pair<std::string, std::string>> colors;  // type, colour expected on the page
};

TEST(e2ePages, ColourFile) {
    const ColorCase cases[] = {
        {"missing", std::nullopt, {}},
        {"blanks around name and value", " \t COMMENT \t= \t#ff0000\t \r\n", {{"COMMENT", "#ff0000"}}},
        {"lower-case name", "comment=#ff0000\r\n", {}},
        {"empty value", "COMMENT=\r\n", {{"COMMENT", ""}}},
        {"two lines for one name", "NUMBER=#111111\nNUMBER=#222222\n", {{"NUMBER", "#222222"}}},
        {"byte order mark", "\xEF\xBB\xBF" "COMMENT=#ff0000\r\nNUMBER=#123456\r\n", {{"NUMBER", "#123456"}}},
        {"comment lines and a second '='", ";COMMENT=#ff0000\nCOMMENT=red=#00ff00", {{"COMMENT", "red"}}},
    };
    const std::vector<Line> lines = {{";c", {{"COMMENT", ";c"}}}, {"1", {{"NUMBER", "1"}}}};
    for (const ColorCase& c : cases) {
        Fonts fonts = defaultFonts();
        for (const auto& [type, color] : c.colors)
            for (Font& f : fonts)
                if (f.name == type) f.color = color;
        for (Mode mode : {Mode::style, Mode::classes}) {
            SCOPED_TRACE(std::string(c.name) + (mode == Mode::style ? ", style" : ", class"));
            Sandbox box;
            box.write("s.txt", scriptOf(lines));
            if (c.colorFile) box.write("color.txt", *c.colorFile);
            Outcome r = box.hibarune({mode == Mode::style ? "-lineno" : "-class", "s.txt"});
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(box.read("s.txt.html"), expectedPage(mode, mode == Mode::style, lines, fonts));
        }
    }
}

}  // namespace
