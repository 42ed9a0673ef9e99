#pragma once

// One script file of a run as the engine reads it, and the engines whose
// reading rules differ.

#include <cstdint>
#include <string>
#include <string_view>

namespace input {

// The encodings a script may be in.
enum class Encoding : std::uint8_t { CP932, UTF8, GBK };

// "CP932", "UTF-8", "GBK".
std::string_view encodingName(Encoding encoding);

// The engines whose reading of a game differs: file order, encodings, BOM,
// and which of two definitions of one name wins.
enum class Engine : std::uint8_t { NScripter, ONScripter, ONScripterEN, Ponscripter, ONScripterRU, ONScripterJH };

// Which of two definitions of one label or alias an engine uses.
enum class DuplicateRule : std::uint8_t { First, Last, Refuse };

// One script: its bytes as the engine sees them (any XOR undone, a BOM the
// engine strips already gone), in its encoding.
struct SourceFile {
    std::string path;  // where it was read, for messages
    std::string name;  // its file name, for page names and links ("0.txt")
    std::string bytes;
    Encoding encoding = Encoding::CP932;
};

}  // namespace input
