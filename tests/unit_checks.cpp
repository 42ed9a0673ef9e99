// The checks over small scripts: each one a script that triggers it and a
// look-alike that must not; and the forms the findings are written in.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/command_set.h"
#include "analysis/model.h"
#include "check/checks.h"
#include "check/report.h"
#include "nscr/token.h"

namespace {

using check::CheckId;

const analysis::CommandSet& commands() {
    static const analysis::CommandSet set = [] {
        nscr::loadReservedCommands(HIBARUNE_SOURCE_DIR "/data/commands.txt");
        analysis::CommandSet built = analysis::commandSetFrom(nscr::reservedCommands);
        nscr::reservedCommands.clear();
        return built;
    }();
    return set;
}

check::Diagnostics checkScripts(std::vector<std::string> scripts, CheckId id,
                                            input::Engine engine = input::Engine::NScripter) {
    std::vector<input::SourceFile> files;
    for (std::size_t k = 0; k < scripts.size(); ++k)
        files.push_back({std::to_string(k) + ".txt", std::to_string(k) + ".txt", std::move(scripts[k]), input::Encoding::CP932});
    analysis::Model model = analysis::analyze(std::move(files), commands());
    check::CheckSelection only = check::CheckSelection::none();
    only.set(id, true);
    check::CollectingSink sink;
    check::runChecks(model, commands(), only, engine, sink);
    return std::move(sink).sorted();
}

struct CheckCase {
    CheckId id;
    const char* script;
    const char* expected;  // in the first finding's message; "" when there must be none
    std::uint32_t line = 0;    // of the first finding, from 1 (0: not compared)
    std::uint32_t column = 0;
    input::Engine engine = input::Engine::NScripter;
};

TEST(Checks, EachTriggersAndItsLookAlikeDoesNot) {
    using E = input::Engine;
    const CheckCase cases[] = {
        {CheckId::UndefinedLabel, "*start\ngoto *nowhere\n", "goto to undefined label *nowhere", 2, 6},
        {CheckId::UndefinedLabel, "*start\nselect \"a\",*here,\n\"b\",*gone\n*here\n", "select to undefined label *gone", 3, 5},
        {CheckId::UndefinedLabel, "*start\nif %0==1 goto *a : gosub \"*b\"\n*a\n", "gosub to undefined label *b", 2, 26},
        {CheckId::UndefinedLabel, "*define\ngame\n", "game goes to *start, which is defined nowhere", 2, 1},
        {CheckId::UndefinedLabel, "*start\nif lchk \"*x\" end\n", "lchk asks for *x"},
        {CheckId::UndefinedLabel, "*start\ngoto *Later\n*later\nmov %0,6*60 ; goto *x\n", ""},
        {CheckId::UndefinedLabel, "*define\ndefsub f\ngame\n*start\nf 1\n", ""},  // the defsub check's
        {CheckId::DuplicateLabel, "*a\n*b\n*A\n", "label *A is defined again (first at line 1): ONScripter and Ponscripter use the last, ONScripter-EN the first, ONScripter-RU refuses", 3, 2},
        {CheckId::DuplicateLabel, "*a\n*a\n", "ONScripter-EN uses the first", 2, 2, E::ONScripterEN},
        {CheckId::DuplicateLabel, "*a\n;*a\n*ab\n`*a\n", ""},
        {CheckId::LabelArgument, "*start\ngoto \"start\"\n", "the engine drops its first character and looks for *tart", 2, 6},
        {CheckId::LabelArgument, "*start\ngoto start\n", "the word start where a label belongs", 2, 6},
        {CheckId::LabelArgument, "*define\nstralias where,\"*start\"\ngame\n*start\ngoto where : goto $1 : goto \"*start\"\n", ""},
        {CheckId::DefsubWithoutLabel, "*define\ndefsub foo\ngame\n*start\nfoo\n", "defsub foo has no label *foo", 2, 8},
        {CheckId::DefsubWithoutLabel, "*define\ndefsub\ngame\n", "defsub names no command"},
        {CheckId::DefsubWithoutLabel, "*define\ndefsub foo\ngame\n*start\nfoo\n*FOO\nreturn\n", ""},
        {CheckId::UnknownCommand, "*start\nfrobnicate 1\nfrobnicate 2\n", "unknown command frobnicate (used as a command on 1 more lines)", 2, 1},
        {CheckId::UnknownCommand, "*start\nI don't know what you mean.\n", "unknown command I: an English text line without its backquote?"},
        {CheckId::UnknownCommand, "*start\nPress on which point\x81\x48\n", "an English text line without its backquote?"},
        {CheckId::UnknownCommand, "*define\ndefsub say\ngame\n*start\n`I don't know.\nwait 100 : say 1 : _wait 5\n*say\nreturn\n", ""},
        {CheckId::CommandInWrongBlock, "*define\ngame\n*start\nnumalias x,1\n", "numalias belongs in the definition block", 4, 1},
        {CheckId::CommandInWrongBlock, "*define\n`Hello there`@\ngame\n", "text in the definition block", 2, 1},
        {CheckId::CommandInWrongBlock, "*define\ngosub *defs\ngame\n*defs\ngosub *more\nreturn\n*more\nnumalias x,1 : dim ?y[3]\nreturn\n*start\n", ""},
        {CheckId::CommandInWrongBlock, "numalias x,1\n", ""},  // no *define: a fragment
        {CheckId::AliasUndefined, "*define\ngame\n*start\nmov %nothing,1\n", "%nothing: no numalias nothing is defined (the engine reads variable 0)", 4, 5},
        {CheckId::AliasUndefined, "*define\nnumalias thing,5\ngame\n*start\nmov %Thing,1 : mov $thing,\"a\"\n%thing pages\n", ""},
        {CheckId::AliasRedefined, "*define\nnumalias a,1\nnumalias a,2\ngame\n", "numalias a is defined again (first at line 2): the engines keep the first value, 1, Ponscripter takes this one, 2", 3, 10},
        {CheckId::AliasRedefined, "*define\nstralias s,\"x\"\nstralias s,\"x\"\ngame\n", "with the same value"},
        {CheckId::AliasRedefined, "*define\nif %5==1 jumpf\nnumalias a,1\n~\nnumalias a,2\ngame\n", ""},
        {CheckId::AliasSameVariable, "*define\nnumalias fade,%0 : inc %3\nnumalias fade_wait1,%0 : inc %0\ngame\n*start\nmov %fade,1 : mov %fade_wait1,2\n", "numalias fade_wait1 names %0, as fade (line 2) does", 3, 10},
        // Variables set after game, in a label the definition block calls.
        {CheckId::AliasSameVariable, "*define\ngosub *vars\ngame\n*vars\nmov %0,10\nnumalias a,%0 : inc %0\nnumalias b,%0 : inc %0\nreturn\n*start\nmov %a,1 : mov %b,1\n", ""},
        {CheckId::AliasSameVariable, "*define\nnumalias a,7\nnumalias b,7\ngame\n*start\nmov %a,1 : mov $b,\"x\"\n", ""},
        {CheckId::JumpfTarget, "*start\nif %0==1 jumpf\n;\x8e\x7e\nmov %1,1\n~\n", "jumpf lands on the trail byte of a character in a comment at 3:3, before the ~ meant at 5:1", 2, 10},
        {CheckId::JumpfTarget, "*start\nif %0==1 jumpf\nmov $0,\"a~b\"\n~\n", "jumpf lands on a ~ in a string at 3:10"},
        {CheckId::JumpfTarget, "*start\njumpf\nend\n", "jumpf finds no ~ after it"},
        {CheckId::JumpfTarget, "*start\n~\nif %0==1 jumpf\n;\x82\xa0 ok\nmov %1,1 : ~ : jumpb\n", ""},
        {CheckId::BomHidesLabel, "\xEF\xBB\xBF*define\ngame\n", "a UTF-8 byte order mark stands before *define", 1, 1},
        {CheckId::BomHidesLabel, "\xEF\xBB\xBF*define\ngame\n", "", 0, 0, E::Ponscripter},
        {CheckId::BomHidesLabel, "\xEF\xBB\xBF;mode800\n*define\ngame\n", ""},
    };
    for (const CheckCase& c : cases) {
        check::Diagnostics found = checkScripts({c.script}, c.id, c.engine);
        std::string name = std::string(check::infoOf(c.id).name) + " on " + c.script;
        if (std::string_view(c.expected).empty()) {
            EXPECT_TRUE(found.empty()) << name << ": " << (found.empty() ? "" : found[0].message);
            continue;
        }
        ASSERT_FALSE(found.empty()) << name;
        EXPECT_EQ(found[0].check, c.id) << name;
        EXPECT_NE(found[0].message.find(c.expected), std::string::npos) << name << ": " << found[0].message;
        if (c.line != 0) {
            EXPECT_EQ(found[0].where.line, c.line) << name;
            EXPECT_EQ(found[0].where.column, c.column) << name;
        }
    }
}

TEST(Checks, FilesOfOneGameShareTheirLabels) {
    auto found = checkScripts({"*define\ngame\n", "*start\ngoto *later\n", "*later\ngoto *missing\n"}, CheckId::UndefinedLabel);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].where.file, "2.txt");
    EXPECT_EQ(found[0].where.line, 2u);
}

TEST(Checks, SeverityFollowsTheEngineAndTheCase) {
    EXPECT_EQ(checkScripts({"*a\n*a\n"}, CheckId::DuplicateLabel, input::Engine::ONScripterRU)[0].severity, check::Severity::Error);
    EXPECT_EQ(checkScripts({"*a\n*a\n"}, CheckId::DuplicateLabel)[0].severity, check::Severity::Warning);
    EXPECT_EQ(checkScripts({"*start\nif lchk \"*x\" end\n"}, CheckId::UndefinedLabel)[0].severity, check::Severity::Note);
    EXPECT_EQ(checkScripts({"*define\nnumalias a,1\nnumalias a,1\n"}, CheckId::AliasRedefined)[0].severity, check::Severity::Note);
}

TEST(Checks, LoadFindingsGoThroughTheSelection) {
    check::CollectingSink sink;
    check::CheckSelection selection = check::CheckSelection::defaults();
    check::reportFileDiagnostic(sink, selection, CheckId::FileShadowed, "game/00.txt", 1, "00.txt is never read: 0.txt is read instead");
    selection.set(CheckId::FileShadowed, false);
    check::reportFileDiagnostic(sink, selection, CheckId::FileShadowed, "game/01.txt", 2, "not chosen");
    ASSERT_EQ(sink.diagnostics().size(), 1u);
    EXPECT_EQ(check::textLine(sink.diagnostics()[0]),
              "game/00.txt:1:1: warning: 00.txt is never read: 0.txt is read instead [file-shadowed]\n");
}

// The checks read no code of a text line but for aliases: a model that
// leaves the others out gives the same findings, on every corpus script.
TEST(Checks, FindTheSameWithoutTheCodesOfTextLines) {
    const char* scripts[] = {"umineko-hane__0.txt", "umineko-scripting__code.txt", "umineko-scripting__umi1_1.txt",
                             "mirinnano-novel__00.txt", "netannad__nscript.txt"};
    check::CheckSelection all = check::CheckSelection::none();
    for (std::size_t k = 0; k < check::checkCount; ++k) all.set(static_cast<CheckId>(k), true);
    for (const char* name : scripts) {
        std::ifstream in(std::string(HIBARUNE_SOURCE_DIR) + "/../shared/corpus/" + name, std::ios::binary);
        if (!in) GTEST_SKIP() << "no corpus beside the checkout";
        std::stringstream bytes;
        bytes << in.rdbuf();
        std::string found[2];
        for (analysis::TextDetail detail : {analysis::TextDetail::Codes, analysis::TextDetail::AliasesOnly}) {
            std::vector<input::SourceFile> files{{name, name, bytes.str(), input::Encoding::CP932}};
            analysis::Model model = analysis::analyze(std::move(files), commands(), false, detail);
            check::CollectingSink sink;
            check::runChecks(model, commands(), all, input::Engine::NScripter, sink);
            for (const check::Diagnostic& diagnostic : std::move(sink).sorted())
                found[static_cast<std::size_t>(detail)] += check::textLine(diagnostic);
        }
        EXPECT_FALSE(found[0].empty()) << name;
        EXPECT_EQ(found[0], found[1]) << name;
    }
}

TEST(CheckReport, FindingsSortByFileThenLineKeepingTheirOrder) {
    check::CollectingSink sink;
    auto add = [&](std::uint32_t file, std::uint32_t line, std::uint32_t column, const char* message) {
        check::Diagnostic diagnostic;
        diagnostic.where.fileOrder = file;
        diagnostic.where.line = line;
        diagnostic.where.column = column;
        diagnostic.message = message;
        sink.report(std::move(diagnostic));
    };
    add(1, 1, 1, "d");
    add(0, 9, 1, "c");
    add(0, 2, 5, "a");
    add(0, 2, 5, "b");
    std::string order;
    for (const check::Diagnostic& diagnostic : std::move(sink).sorted()) order += diagnostic.message;
    EXPECT_EQ(order, "abcd");
}

// Findings are put in order in place, cycle by cycle: any order they come
// in gives the order of a stable sort by place.
TEST(CheckReport, AnyOrderOfFindingsSortsLikeAStableSort) {
    std::mt19937 random(7);
    for (std::size_t size : {0u, 1u, 2u, 3u, 17u, 300u})
        for (int round = 0; round < 20; ++round) {
            check::CollectingSink sink;
            std::vector<std::pair<std::uint32_t, std::string>> want;
            for (std::size_t k = 0; k < size; ++k) {
                check::Diagnostic diagnostic;
                diagnostic.where.line = static_cast<std::uint32_t>(random() % 6);
                diagnostic.message = std::to_string(k);
                want.emplace_back(diagnostic.where.line, diagnostic.message);
                sink.report(std::move(diagnostic));
            }
            std::stable_sort(want.begin(), want.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            std::string expected, got;
            for (const auto& [line, message] : want) expected += message + " ";
            for (const check::Diagnostic& diagnostic : std::move(sink).sorted()) got += diagnostic.message + " ";
            EXPECT_EQ(got, expected) << size;
        }
}

TEST(CheckReport, JsonStringsAreAlwaysValid) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\tnl\ncr\r\x01\x7f", "\"tab\\tnl\\ncr\\r\\u0001\\u007f\""},
        {"\xE6\xAD\xA2", "\"\xE6\xAD\xA2\""},                  // UTF-8 kept
        {"\x8e\x7e", "\"\\ufffd~\""},                          // CP932 bytes are no UTF-8
        {"\xE6\xAD", "\"\\ufffd\\ufffd\""},                    // cut short
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},         // a surrogate
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                    // overlong
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(check::jsonString(text), json) << text;
}

TEST(CheckReport, LinesAndSummary) {
    check::Diagnostic diagnostic;
    diagnostic.check = CheckId::JumpfTarget;
    diagnostic.where.file = "a b.txt";
    diagnostic.where.line = 3;
    diagnostic.where.column = 7;
    diagnostic.message = "say \"x\"";
    EXPECT_EQ(check::textLine(diagnostic), "a b.txt:3:7: warning: say \"x\" [jumpf-target]\n");
    EXPECT_EQ(check::jsonLine(diagnostic),
              "{\"file\":\"a b.txt\",\"line\":3,\"column\":7,\"severity\":\"warning\",\"check\":\"jumpf-target\","
              "\"message\":\"say \\\"x\\\"\"}\n");
    std::vector<check::Diagnostic> list(3, diagnostic);
    list[0].severity = check::Severity::Error;
    EXPECT_EQ(check::summaryLine(list, 2), "1 error, 2 warnings in 2 files\n");
    list[1].severity = check::Severity::Note;
    EXPECT_EQ(check::summaryLine(list, 1), "1 error, 1 warning, 1 note in 1 file\n");
    EXPECT_EQ(check::summaryLine({}, 0), "0 errors, 0 warnings in 0 files\n");
}

TEST(CheckIds, NamesAreUniqueAndKnown) {
    for (std::size_t k = 0; k < check::checkTable.size(); ++k) {
        EXPECT_EQ(static_cast<std::size_t>(check::checkTable[k].id), k);
        EXPECT_EQ(check::checkNamed(check::checkTable[k].name), check::checkTable[k].id);
    }
    EXPECT_FALSE(check::checkNamed("undefined-labels"));
}

}  // namespace
