#include <gtest/gtest.h>

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
