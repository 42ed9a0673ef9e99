// The model of a script: how lines are read, what refers to what, where
// jumps land. Each case is a small script and what the model must say.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "analysis/model.h"

namespace {

using analysis::Model;
using analysis::SpanKind;

const analysis::CommandSet& commands() {
    static const analysis::CommandSet set = [] {
        analysis::CommandSet made;
        std::ifstream in(std::string(HIBARUNE_SOURCE_DIR) + "/data/commands.txt");
        std::string row;
        while (std::getline(in, row)) {
            std::size_t comma = row.find(',');
            std::string klass = row.substr(comma + 1);
            made.add(row.substr(0, comma), klass == "F"   ? analysis::CommandSet::Block::Definition
                                           : klass == "E" ? analysis::CommandSet::Block::Program
                                                          : analysis::CommandSet::Block::Both);
        }
        for (const char* extra : {"langen", "d"}) made.add(extra, analysis::CommandSet::Block::Both);
        return made;
    }();
    return set;
}

Model modelOf(std::vector<std::string> texts, input::Encoding encoding = input::Encoding::CP932) {
    std::vector<input::SourceFile> files;
    for (std::size_t k = 0; k < texts.size(); ++k)
        files.push_back({std::to_string(k) + ".txt", std::to_string(k) + ".txt", texts[k], encoding});
    return analysis::analyze(std::move(files), commands());
}

std::string_view kindName(SpanKind kind) {
    static constexpr std::string_view names[] = {
        "comment", "label",  "ref",   "dynamic", "cmd",   "user",  "unknown", "aliasdef", "alias", "string", "number",
        "numvar",  "strvar", "array", "color",   "text",  "code",  "ruby",    "button",   "tag",   "tilde",  "word"};
    return names[static_cast<std::size_t>(kind)];
}

// A line's spans (its global index) as "kind:bytes kind:bytes ...", with
// the runs of a text line's text that no span covers as "text:".
std::string spansOf(const Model& model, std::uint32_t line) {
    std::string described;
    std::uint32_t file = model.fileOfLine(line);
    std::uint32_t local = line - model.fileInfo[file].firstLine;
    std::string_view text = model.lineText(file, local);
    std::uint32_t at = model.textStart(file, local);
    auto describe = [&](std::string_view kind, std::uint32_t begin, std::uint32_t end) {
        if (!described.empty()) described += ' ';
        described += kind;
        described += ':';
        described += text.substr(begin, end - begin);
    };
    auto [first, last] = model.spansOf(line);
    for (const analysis::Span* span = first; span != last; ++span) {
        if (span->begin > at && at < text.size()) describe("text", at, span->begin);
        describe(kindName(span->kind()), span->begin, span->end);
        at = std::max<std::uint32_t>(at, span->end);
    }
    if (at < text.size()) describe("text", at, static_cast<std::uint32_t>(text.size()));
    return described;
}

struct LineCase {
    const char* name;
    std::string script;  // the case's line is the last
    std::string spans;
};

TEST(AnalysisLines, TextCommandsAndDialectsAreReadAsTheEngineReadsThem) {
    const std::string define = "*define\nnumalias vol,30\nstralias bg,\"a.png\"\ndefsub face\ngame\n*face\nreturn\n";
    const std::vector<LineCase> cases = {
        {"backquote text keeps words, quotes, star and semicolon as text",
         "`\"I'll go for it; if *rumble next.\"@/",
         "text:`\"I'll go for it; if *rumble next.\" code:@ code:/"},
        {"wait codes, colours and inline values", "`Hi!w100 #ff0000red %1 $2 ?3[1]\\",
         "text:`Hi code:!w100 text:  color:#ff0000 text:red  numvar:%1 text:  strvar:$2 text:  array:?3[1] code:\\"},
        {"a slash inside text is text", "`and/or here", "text:`and/or here"},
        {"ruby, buttons and tags", "\x8a\xbf(\x82\xa9/\x82\xc8)<1 yes>[tag]",
         "text:\x8a\xbf ruby:(\x82\xa9/\x82\xc8) button:<1 yes> tag:[tag]"},
        {"ponscripter text after langen with tilde tags", "langen^~i~Kyrie~i~ had no way.^\\",
         "cmd:langen text:^ code:~i~ text:Kyrie code:~i~ text: had no way.^ code:\\"},
        {"dialogue after d", "d [lv 0*\"10\"*\"1\"]`\x81\x75...\x81\x76`[\\]",
         "cmd:d tag:[lv 0*\"10\"*\"1\"] text:`\x81\x75...\x81\x76` tag:[\\]"},
        {"an English line without its backquote is an unknown command", "Then she left.",
         "unknown:Then word:she word:left"},
        {"statements, comments and a star that multiplies", "mov %0,6*60 : goto *end ; goto *not",
         "cmd:mov numvar:%0 number:6 number:60 cmd:goto ref:*end comment:; goto *not"},
        {"string labels, dynamic labels and a bad form", "goto \"*a\" : goto $1 : goto \"start\"",
         "cmd:goto ref:\"*a\" cmd:goto dynamic:$1 cmd:goto ref:\"start\""},
        {"aliases, user commands and an undefined alias", define + "face vol,%vol,$bg,%none",
         "user:face alias:vol alias:%vol alias:$bg alias:%none"},
        {"a command after a condition", "if %0 == vol goto *x : notif lchk \"*y\" gosub *z",
         "cmd:if numvar:%0 word:vol cmd:goto ref:*x cmd:notif cmd:lchk ref:\"*y\" cmd:gosub ref:*z"},
        {"a CP932 trail byte 0x5C or 0x7E is never a code", "`\x83\x5c\x8e\x7e@",
         "text:`\x83\x5c\x8e\x7e code:@"},
        {"a select list going on over lines", "select \"a\",*a,\n\"b\",*b",
         "string:\"b\" ref:*b"},
        {"a list line that starts with a comma", "select \"a\",*a\n,\"b\",*b", "string:\"b\" ref:*b"},
        {"an unterminated string runs to the line's end", "mov $0,\"abc", "cmd:mov strvar:$0 string:\"abc"},
        // Long runs of text are stepped over sixteen bytes at a time.
        {"a long run of full-width spaces, whose trail byte is @", std::string(20, '\0').replace(0, 20, "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x95\x5c\x8e\x7e") + "@",
         "text:\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x95\x5c\x8e\x7e code:@"},
        {"half-width kana, then double-byte text at an odd place", "\xb1\xb2\xb3\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0!w10\\",
         "text:\xb1\xb2\xb3\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0 code:!w10 code:\\"},
        {"long English text up to a colour and a variable", "`abcdefghijklmnopqrstu#ff0000vwxyz ABCDEFGHIJK $1",
         "text:`abcdefghijklmnopqrstu color:#ff0000 text:vwxyz ABCDEFGHIJK  strvar:$1"},
    };
    for (const LineCase& test : cases) {
        Model model = modelOf({test.script});
        EXPECT_EQ(spansOf(model, static_cast<std::uint32_t>(model.lines.size() - 1)), test.spans) << test.name;
    }
    const std::string utf8 = "\xe3\x80\x8c\xe3\x81\x82\xe3\x81\x84\xe3\x81\x86\xe3\x81\x88\xe3\x81\x8a\xe3\x80\x8d";
    Model model = modelOf({utf8 + "@" + utf8 + "\\"}, input::Encoding::UTF8);
    EXPECT_EQ(spansOf(model, 0), "text:" + utf8 + " code:@ text:" + utf8 + " code:\\");
}

// A span keeps its kind and target in one word: every kind with the
// smallest, the largest and no target, and either changed alone.
TEST(AnalysisSpans, KindAndTargetShareAWordWithoutLoss) {
    for (std::size_t k = 0; k <= static_cast<std::size_t>(SpanKind::Word); ++k) {
        auto kind = static_cast<SpanKind>(k);
        for (std::uint32_t target : {0u, 1u, analysis::Span::largestTarget, analysis::none}) {
            analysis::Span span(3, 9, kind, target);
            EXPECT_EQ(span.kind(), kind);
            EXPECT_EQ(span.target(), target);
            span.setTarget(7);
            EXPECT_EQ(span.kind(), kind);
            span.setKind(SpanKind::Comment);
            EXPECT_EQ(span.target(), 7u);
        }
    }
}

// Every span is found on its line, whatever blank, comment or text lines
// (which may hold no span) stand around it, in one file or several.
TEST(AnalysisSpans, EachIsFoundOnItsLine) {
    const std::vector<std::vector<std::string>> games = {
        {"\n\n*start\n\nmov %0,1 : goto *start\n\n`text\n;note\n\n"},
        {"`a@\n\n", "\n", "*b\n\ngoto *b\n"},
        {"", "\n\n\nwait 1\n"},
    };
    for (const std::vector<std::string>& files : games) {
        Model model = modelOf(files);
        for (std::uint32_t line = 0; line < model.lines.size(); ++line) {
            auto [first, last] = model.spansOf(line);
            for (const analysis::Span* span = first; span != last; ++span)
                EXPECT_EQ(model.lineOfSpan(static_cast<std::uint32_t>(span - model.spans.data())), line) << files[0];
        }
    }
}

// A command word is a built-in or unknown as it is read, unless a user
// command of its name is defined anywhere, later files included.
TEST(AnalysisLines, CommandWordsAreBuiltInUserOrUnknown) {
    const std::string longName(70, 'q');
    const std::string define = "*define\ndefsub print\ndefsub " + longName + "\ngame\n*print\nreturn\n";
    struct Case {
        const char* name;
        std::vector<std::string> files;  // the case's line is the last of the last file
        std::string spans;
    };
    const std::vector<Case> cases = {
        {"a built-in in any case", {"PRINT 1"}, "cmd:PRINT number:1"},
        {"a user command takes a built-in's name", {define + "Print 1"}, "user:Print number:1"},
        {"an underscore calls the built-in", {define + "_print 1"}, "cmd:_print number:1"},
        {"in any case", {define + "_PRINT 1"}, "cmd:_PRINT number:1"},
        {"a built-in's name cut short", {"PRIN 1"}, "unknown:PRIN number:1"},
        {"a long user command", {define + longName}, "user:" + longName},
        {"a long unknown word", {longName + "x"}, "unknown:" + longName + "x"},
        {"defined in a later file", {"*define\ngame\n*start\nlater", "defsub later\n*later\nreturn\nlater"},
         "user:later"},
    };
    for (const Case& test : cases) {
        Model model = modelOf(test.files);
        EXPECT_EQ(spansOf(model, static_cast<std::uint32_t>(model.lines.size() - 1)), test.spans) << test.name;
    }
    Model model = modelOf(cases.back().files);
    EXPECT_EQ(spansOf(model, 3), "user:later") << "a call before the definition";
}

TEST(AnalysisReferences, LabelsKnowWhoGoesToThem) {
    Model model = modelOf({"*define\ndefsub sub\ngame\n*START\nsub\ngoto *start\nselect \"a\",*Missing,\n\"b\",*start\n",
                           "*sub\nreturn\ncsel \"x\",*sub\n"});
    std::uint32_t start = model.find(analysis::SymbolKind::Label, "start");
    ASSERT_NE(start, analysis::none);
    auto [first, last] = model.referencesTo(start);
    std::vector<std::string> from;
    for (const std::uint32_t* r = first; r != last; ++r)
        from.push_back(model.references[*r].command + "@" + std::to_string(model.references[*r].pos.file) + ":" +
                       std::to_string(model.references[*r].pos.line + 1));
    EXPECT_EQ(from, (std::vector<std::string>{"game@0:3", "goto@0:6", "select@0:8"}));

    std::uint32_t sub = model.find(analysis::SymbolKind::Label, "sub");
    auto [subFirst, subLast] = model.referencesTo(sub);
    EXPECT_EQ(subLast - subFirst, 3) << "defsub, the call and the csel list";
    std::size_t undefined = 0;
    for (const analysis::Reference& reference : model.references)
        if (reference.symbol == analysis::none && !reference.dynamic) ++undefined;
    EXPECT_EQ(undefined, 2u) << "*missing and csel's *customsel";
    EXPECT_EQ(model.fileInfo[1].firstEngineLine, 10u) << "8 lines, a final line end, and the engine's own";
}

// Every kind of word the link step decides finds its definition from a
// later file too, whatever the case; a name nothing defines stays unlinked.
TEST(AnalysisAliases, EveryKindOfUseIsLinkedFromALaterFile) {
    const std::string define = "*define\nnumalias num,1\nstralias str,\"*start\"\ndefsub user\ngame\n*start\n*user\nreturn\n";
    struct Case {
        const char* name;
        std::string line;
        std::string targets;  // the definitions the line's alias uses and user commands go to
    };
    const std::vector<Case> cases = {
        {"a bare word", "mov %0,NUM", "num"},
        {"%name, $name and ?name", "mov %num,$NUM : mov ?num[1],1", "num num num"},
        {"in text", "`%num and $num here@", "num num"},
        {"a user command and its argument", "USER str", "user str"},
        {"a string alias where a label goes", "goto str", "str"},
        {"nothing defines it", "mov %nope,1", "none"},
    };
    for (const Case& test : cases) {
        Model model = modelOf({define, "; a line before\n" + test.line});
        std::uint32_t line = static_cast<std::uint32_t>(model.lines.size() - 1);
        std::string targets;
        auto [first, last] = model.spansOf(line);
        for (const analysis::Span* span = first; span != last; ++span) {
            if (span->kind() != SpanKind::AliasUse && span->kind() != SpanKind::UserCommand) continue;
            if (!targets.empty()) targets += ' ';
            targets += span->target() == analysis::none ? std::string("none") : model.keyOf(model.symbols[span->target()]);
        }
        EXPECT_EQ(targets, test.targets) << test.name;
    }
}

TEST(AnalysisAliases, ValuesAreWorkedOutAsTheDefinitionBlockRuns) {
    Model model = modelOf({"*define\nnumalias a,%0 : inc %0\nnumalias b,%0 : inc %3\nnumalias c,%0\n"
                           "numalias d,a+b*10\nnumalias e,%a\nif %1 jumpf\nnumalias f,1\n~\nnumalias f,2\n"
                           "mov %70000,5 : numalias g,%70000\nMOV %2,7 : Add %2,1 : NumAlias h,%2\nnumalias i,%9\n"
                           "mov %4,\"x\" : numalias j,%4\ngame\n"});
    auto number = [&](const char* key) { return model.symbols[model.find(analysis::SymbolKind::NumAlias, key)].number; };
    EXPECT_EQ(number("a"), 0);
    EXPECT_EQ(number("b"), 1);
    EXPECT_EQ(number("c"), 1) << "inc %3 left %0 as it was";
    EXPECT_EQ(number("d"), 10);
    EXPECT_EQ(number("e"), 1) << "%a is variable 0";
    EXPECT_EQ(number("g"), 5) << "a variable past the usual numbers";
    EXPECT_EQ(number("h"), 8) << "commands in any case";
    EXPECT_EQ(number("i"), 0) << "a variable never set";
    EXPECT_EQ(number("j"), std::nullopt) << "set to what is not a number";
    std::vector<std::uint32_t> f = model.definitionsOf(analysis::SymbolKind::NumAlias, "f");
    ASSERT_EQ(f.size(), 2u);
    EXPECT_TRUE(model.symbols[f[0]].alternative);
    EXPECT_EQ(model.valueOf(model.symbols[f[1]]), "2");
}

TEST(AnalysisJumps, JumpfLandsOnTheNextTildeByteWhereverItIs) {
    struct Case {
        const char* name;
        std::string script;
        analysis::TildeSite site;
        std::uint32_t line;
    };
    const std::vector<Case> cases = {
        {"a tilde line", "jumpf\nmov %0,1\n~\n", analysis::TildeSite::Command, 2},
        {"a tilde in a comment", "jumpf\n;a ~ b\n~\n", analysis::TildeSite::Comment, 1},
        {"the trail byte of a CP932 character", "jumpf\n;\x8e\x7e\n~\n", analysis::TildeSite::TrailByte, 1},
        {"none at all", "jumpf\nmov %0,1\n", analysis::TildeSite::Missing, 0},
        {"a tilde in a string", "jumpf\nmov $0,\"~\"\n~\n", analysis::TildeSite::String, 1},
    };
    for (const Case& test : cases) {
        Model model = modelOf({test.script});
        ASSERT_EQ(model.jumps.size(), 1u) << test.name;
        EXPECT_EQ(model.jumps[0].site, test.site) << test.name;
        if (test.site != analysis::TildeSite::Missing) {
            EXPECT_EQ(model.jumps[0].to.line, test.line) << test.name;
        }
    }
    Model across = modelOf({"jumpf\n", "mov %0,1\n~\n"});
    EXPECT_EQ(across.jumps[0].to.file, 1u) << "the engine reads the files as one text";
    Model back = modelOf({"~\nmov %0,1\njumpb\n"});
    EXPECT_EQ(back.jumps[0].to.line, 0u);
}

// Real scripts: the figures a reader of the port can check by hand.
TEST(AnalysisCorpus, UminekoPortUndefinedLabelsAndJumpf) {
    std::ifstream in(std::string(HIBARUNE_SOURCE_DIR) + "/../shared/corpus/umineko-hane__0.txt", std::ios::binary);
    if (!in) GTEST_SKIP() << "no corpus beside the checkout";
    std::stringstream bytes;
    bytes << in.rdbuf();
    Model model = modelOf({bytes.str()});
    std::set<std::string> undefined;
    bool seen = false;
    for (const analysis::Reference& reference : model.references) {
        if (reference.symbol != analysis::none || reference.dynamic || reference.badForm) continue;
        undefined.insert(reference.key);
        seen = seen || (reference.key == "change_isyou_ep7" && reference.pos.line + 1 == 31782);
    }
    EXPECT_GE(undefined.size(), 120u);
    EXPECT_LE(undefined.size(), 140u);
    EXPECT_TRUE(seen);
    std::vector<std::uint32_t> trail;
    for (const analysis::Jump& jump : model.jumps)
        if (jump.site == analysis::TildeSite::TrailByte) trail.push_back(jump.from.line + 1);
    EXPECT_EQ(trail, (std::vector<std::uint32_t>{27204, 27320, 45039}));
}

}  // namespace

namespace {

// The model as text: every line's spans, every reference's target, every
// definition's ordinal and alias value, every jump's landing place.
std::string described(const Model& model) {
    std::string text;
    for (std::uint32_t file = 0; file < model.files.size(); ++file)
        for (std::uint32_t line = 0; line < model.fileInfo[file].lineCount; ++line) {
            std::uint32_t global = model.lineIndex(file, line);
            auto [first, last] = model.spansOf(global);
            text += std::to_string(file) + ":" + std::to_string(line) + " ";
            for (const analysis::Span* span = first; span != last; ++span)
                text += std::string(kindName(span->kind())) + "=" + std::to_string(span->target()) + " ";
            text += "\n";
        }
    for (const analysis::Reference& reference : model.references)
        text += reference.key + "->" + std::to_string(reference.symbol) + "\n";
    for (const analysis::Symbol& symbol : model.symbols)
        text += std::string(model.nameOf(symbol)) + "#" + std::to_string(symbol.ordinal) + "=" +
                std::to_string(symbol.number.value_or(-1)) + "\n";
    for (const analysis::Jump& jump : model.jumps)
        text += std::to_string(jump.to.file) + ":" + std::to_string(jump.to.line) + "\n";
    for (const analysis::FileInfo& info : model.fileInfo) text += std::to_string(info.firstEngineLine) + "\n";
    return text;
}

}  // namespace

// Files after the first are read side by side once the definition block is
// closed: the model must be the one reading them in order gives.
TEST(AnalysisGame, FilesReadSideBySideGiveTheModelOfOneReading) {
    std::vector<std::string> game = {
        "*define\nnumalias a,%0 : inc %0\nnumalias b,%0\ndefsub f\ngame\n*start\nf a\ngoto *two\n",
        "*f\nreturn\n*two\nmov %b,1 : jumpf\n",
        "; between\n~\n*three\ngoto *start\n*f\n",
        "*four\nselect \"x\",*three,\n\"y\",*four\n",
    };
    Model sideBySide = modelOf(game);
    // A "*define" in a later file makes the reader go file after file.
    std::vector<std::string> inOrder = game;
    inOrder.back() += ";*define\n";
    Model oneAfterAnother = modelOf(inOrder);
    std::string expected = described(oneAfterAnother);
    std::string extraLine = "3:3 comment=" + std::to_string(analysis::none) + " \n";
    expected.erase(expected.find(extraLine), extraLine.size());
    EXPECT_EQ(described(sideBySide), expected);
    EXPECT_EQ(sideBySide.symbols[sideBySide.definitionsOf(analysis::SymbolKind::Label, "f")[1]].ordinal, 2u);
    // Names are read from their own file: %b in the second one is defined.
    EXPECT_TRUE(sideBySide.undefinedAliasUses.empty());
}

// A large file is read in pieces side by side: the model is the one of a
// reading from start to end, also for select lists and jumps across pieces,
// and when a run's first piece is a poor guess of the room it needs (plain
// comments, then dense commands).
TEST(AnalysisGame, ALargeFileReadInPiecesGivesTheModelOfOneReading) {
    std::string block = "*scene\nmov %0,1 : goto *next\nselect \"a\",*scene,\n\"b\",*next\njumpf\n`Text@\n~\n";
    std::string uniform = "*define\nnumalias a,1\ngame\n";
    for (int k = 0; k < 120000; ++k) uniform += block;
    std::string comment(2001, 'c');
    comment[0] = ';';
    comment.back() = '\n';
    std::string unevenHalf;
    while (unevenHalf.size() < 2'200'000) unevenHalf += comment;
    while (unevenHalf.size() < 4'500'000) unevenHalf += "mov %0,1:add %0,2:goto *x\n";
    std::string uneven = "*define\ngame\n*x\n" + unevenHalf + unevenHalf;
    std::string denseHalf;
    while (denseHalf.size() < unevenHalf.size()) denseHalf += "mov %0,1:add %0,2:goto *x\n";
    std::string lateUneven = "*define\ngame\n*x\n" + denseHalf + unevenHalf;  // only a later run outgrows its room
    for (const std::string& script : {uniform, uneven, lateUneven}) {
        Model pieces = modelOf({script});
        Model whole = modelOf({script + ";*define\n"});
        std::string expected = described(whole);
        std::string lastLine = std::to_string(whole.fileInfo[0].lineCount - 1);
        std::string extraLine = "0:" + lastLine + " comment=" + std::to_string(analysis::none) + " \n";
        expected.erase(expected.find(extraLine), extraLine.size());
        EXPECT_EQ(described(pieces), expected);
    }
}
