#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cmdline.h"

namespace {

using Strings = std::vector<std::string>;

TEST(OptionList, SortsArgumentsIntoOptionsAndFiles) {
    struct Row {
        Strings arguments;
        std::set<std::string> options;
        Strings files;
    };
    const std::vector<Row> rows = {
        {{}, {}, {}},
        {{"-lineno", "a.txt", "-class", "b.txt"}, {"lineno", "class"}, {"a.txt", "b.txt"}},
        {{"-"}, {""}, {}},
        {{"--lineno", "-lineno=1", "-LINENO"}, {"-lineno", "lineno=1", "LINENO"}, {}},
        {{"/class", "x-y"}, {}, {"/class", "x-y"}},
        {{"-a", "x", "-a", "x"}, {"a"}, {"x", "x"}},
        {{""}, {}, {""}},
        {{"-lineno", "--", "-x.txt", "--", "b"}, {"lineno"}, {"-x.txt", "--", "b"}},
        {{"a", "--"}, {}, {"a"}},
    };
    for (const Row& row : rows) {
        OptionList list(row.arguments);
        std::set<std::string> options;
        for (const auto& [name, present] : list.options) {
            EXPECT_TRUE(present);
            options.insert(name);
        }
        EXPECT_EQ(options, row.options);
        EXPECT_EQ(list.files, row.files);
        for (const std::string& name : row.options) EXPECT_TRUE(list.hasOption(name));
    }
    OptionList odd({"--lineno", "-lineno=1", "-LINENO", "-"});
    EXPECT_FALSE(odd.hasOption("lineno"));
    EXPECT_TRUE(OptionList({"b", "-text"}).hasOption("text"));
}

}  // namespace

namespace {

// Value options take the next argument (or the rest of their name); options
// the program does not know are listed, each as given.
TEST(OptionList, ValuesAndUnknownOptions) {
    using Values = std::map<std::string, Strings, std::less<>>;
    struct Row {
        Strings arguments;
        Values values;
        Strings unknown, missing, files;
    };
    const std::vector<Row> rows = {
        {{"-o", "out", "a.txt"}, {{"o", {"out"}}}, {}, {}, {"a.txt"}},
        {{"-o", "-x", "-o", "b"}, {{"o", {"-x", "b"}}}, {}, {}, {}},
        {{"a.txt", "-o"}, {}, {}, {"-o"}, {"a.txt"}},
        {{"--", "-o", "x"}, {}, {}, {}, {"-o", "x"}},
        {{"-check=labels", "-no-check=", "-check"}, {{"check=", {"labels"}}, {"no-check=", {""}}}, {}, {}, {}},
        {{"--lineno", "-Class", "-", "-o=out"}, {}, {"--lineno", "-Class", "-", "-o=out"}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        OptionList list(row.arguments);
        EXPECT_EQ(list.values, row.values);
        EXPECT_EQ(list.unknown, row.unknown);
        EXPECT_EQ(list.missingValues, row.missing);
        EXPECT_EQ(list.files, row.files);
    }
    EXPECT_EQ(OptionList({"-o", "a", "-o", "b"}).value("o"), "b");
    EXPECT_EQ(OptionList({"-lineno"}).value("o"), std::nullopt);
}

TEST(OptionList, NearestKnownOption) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> rows = {
        {"-lineno", "-lineno"}, {"Class", "-class"},     {"htlm5", "-html5"},   {"lineno=1", "-lineno"},
        {"version", "--version"}, {"lenitent", "-lenient"}, {"chek=x", "-check="}, {"x", std::nullopt},
        {"", std::nullopt},       {"zzzzzz", std::nullopt},
    };
    for (const auto& [name, nearest] : rows) EXPECT_EQ(nearestOption(name), nearest) << name;
}

}  // namespace
