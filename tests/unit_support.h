#pragma once

// Small helpers shared by the unit tests.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nscr/error.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

namespace unit {

// The message of the Error that f raises, or "<no error>".
template <typename F>
std::string errorOf(F&& f) {
    try {
        f();
    } catch (const nscr::Error& error) {
        return error.what();
    }
    return "<no error>";
}

inline const std::string conversionError =
    "Couldn't convert string: Invalid or incomplete multibyte or wide character";

// A seeded xorshift generator: the same cases on every platform and run.
struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::size_t below(std::size_t n) { return next() % n; }
};

// The bytes glibc's iconv gives for the whole input, or nothing when it fails.
inline std::optional<std::string> viaIconv(const char* to, const char* from, std::string_view input) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(input.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(input.data());
    char* o = out.data();
    std::size_t inLeft = input.size(), outLeft = out.size();
    bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// Tokens as "[text:TYPE]..." for comparing lines in failure messages; any
// sequence of objects with a text and a type will do.
template <typename Tokens>
std::string showTokens(const Tokens& tokens) {
    std::string s;
    for (const auto& t : tokens) {
        s += '[';
        s += t.text;
        s += ':';
        s += nscr::tokenTypeName(t.type);
        s += ']';
    }
    return s;
}

// Tests that convert with a small command table and the built-in colours,
// leaving both as they found them.
class WithCommands : public ::testing::Test {
protected:
    explicit WithCommands(std::string_view commands = "mov\nbg,E\ngame,F") : commands_(commands) {}
    void SetUp() override {
        nscr::initWebHighlight();
        nscr::reservedCommands.clear();
        nscr::loadReservedCommandsFromText(commands_);
    }
    void TearDown() override {
        nscr::initWebHighlight();
        nscr::reservedCommands.clear();
    }

private:
    std::string_view commands_;
};

}  // namespace unit
