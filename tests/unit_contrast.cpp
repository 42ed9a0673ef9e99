#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "contrast.h"

namespace {

TEST(Contrast, KnownRatios) {
    struct Case {
        const char* a;
        const char* b;
        double ratio;
    };
    const Case cases[] = {
        {"#000000", "#ffffff", 21.0},
        {"#ffffff", "#000000", 21.0},  // either order
        {"#f0f0f0", "#f0f0f0", 1.0},
        {"#777777", "#ffffff", 4.48},  // the classic grey just below AA
        {"#767676", "#FFFFFF", 4.54},  // and the one just above, upper case
        {"#ff0000", "#ffffff", 4.00},
        {"#0000ff", "#ffffff", 8.59},
    };
    for (const auto& c : cases) {
        auto ratio = contrast::contrastRatio(c.a, c.b);
        ASSERT_TRUE(ratio) << c.a << " " << c.b;
        EXPECT_NEAR(*ratio, c.ratio, 0.01) << c.a << " on " << c.b;
    }
}

TEST(Contrast, RejectsTextThatIsNotHexColour) {
    for (const char* text : {"", "#", "#fff", "f0f0f0", "#f0f0f00", "#g0f0f0", "red", " #f0f0f0"}) {
        EXPECT_FALSE(contrast::parseHexColour(text)) << "'" << text << "'";
        EXPECT_FALSE(contrast::contrastRatio(text, "#ffffff")) << "'" << text << "'";
    }
}

std::string trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// Every NAME=colour line of the shipped example must be readable on the page.
TEST(Contrast, ExampleColoursReadableOnPageBackground) {
    std::ifstream file(HIBARUNE_SOURCE_DIR "/examples/color.txt");
    ASSERT_TRUE(file) << "examples/color.txt not found";
    const std::string background = "#f0f0f0";
    int settings = 0;
    for (std::string line; std::getline(file, line);) {
        auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = trimmed(std::string_view(line).substr(0, equals));
        std::string colour = trimmed(std::string_view(line).substr(equals + 1));
        auto ratio = contrast::contrastRatio(colour, background);
        ASSERT_TRUE(ratio) << name << ": '" << colour << "' is not #rrggbb";
        EXPECT_GE(*ratio, contrast::minimumTextContrast) << name << "=" << colour;
        ++settings;
    }
    EXPECT_GT(settings, 0) << "no colour settings found";
}

}  // namespace
