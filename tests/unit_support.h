#pragma once

// Small helpers shared by the unit tests.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "nscr/error.h"

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

}  // namespace unit
