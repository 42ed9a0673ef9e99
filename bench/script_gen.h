#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A game of about `size` bytes in `files` scripts ("0.txt" ... in load
// order): a realistic script cut at line ends, with a label and an empty
// line after every fourteenth line, as games with a label for each scene have
// (20 MB: about 600,000 lines and 70,000 labels).
std::vector<std::string> generateGame(std::size_t size, std::size_t files, std::uint64_t seed = 1);

// "2000000", "500K", "20M" (decimal: K = 1000, M = 1000000); nullopt when
// the text is not such a size.
std::optional<std::size_t> parseSize(std::string_view text);

}  // namespace scriptgen
