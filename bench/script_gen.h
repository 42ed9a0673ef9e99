#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Deterministic test inputs for the benchmarks, as CP932 bytes of exactly
// the size asked for.
namespace scriptgen {

enum class Kind {
    script,      // a realistic script: message text, commands, labels, comments
    longLine,    // one line of message text, no line end
    emptyLines,  // CR LF, over and over
    brackets,    // one text line followed by "[" to the end
    literal,     // a double-quoted literal that is never closed
    stars,       // one line of "*"
};

std::optional<Kind> kindByName(std::string_view name);
std::string_view kindName(Kind kind);

// The same kind, size and seed always give the same bytes.
std::string generate(Kind kind, std::size_t size, std::uint64_t seed = 1);

// "2000000", "500K", "20M" (decimal: K = 1000, M = 1000000); nullopt when
// the text is not such a size.
std::optional<std::size_t> parseSize(std::string_view text);

}  // namespace scriptgen
