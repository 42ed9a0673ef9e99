#pragma once

// One script file of a run as the engine reads it, and the engines whose
// reading rules differ.

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The bytes of one script: a string of their own, or a stretch of a buffer
// the files of a game were read into together (so that they take few page
// faults). Copies share the bytes; they do not move when the holder does.
class ScriptBytes {
public:
    ScriptBytes() = default;
    ScriptBytes(std::string bytes);  // NOLINT(google-explicit-constructor): a script's own bytes
    ScriptBytes(const char* bytes) : ScriptBytes(std::string(bytes)) {}  // NOLINT(google-explicit-constructor)
    // size bytes at data, which owner keeps.
    ScriptBytes(std::shared_ptr<void> owner, char* data, std::size_t size)
        : owner_(std::move(owner)), data_(data), size_(size) {}

    operator std::string_view() const { return {data_, size_}; }  // NOLINT(google-explicit-constructor)
    std::string_view view() const { return {data_, size_}; }
    const char* data() const { return data_; }
    // The bytes, to be changed in place before they are shared.
    char* data() { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    char back() const { return data_[size_ - 1]; }
    char operator[](std::size_t k) const { return data_[k]; }
    std::string_view substr(std::size_t at, std::size_t count = std::string_view::npos) const {
        return view().substr(at, count);
    }
    void removePrefix(std::size_t count) {
        data_ += count;
        size_ -= count;
    }
    friend bool operator==(const ScriptBytes& a, std::string_view b) { return a.view() == b; }

private:
    std::shared_ptr<void> owner_;
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A script file's bytes: mapped where the system can, else read.
ScriptBytes readScriptBytes(const std::string& path);

// One script: its bytes as the engine sees them (any XOR undone, a BOM the
// engine strips already gone), in its encoding.
struct SourceFile {
    std::string path;  // where it was read, for messages
    std::string name;  // its file name, for page names and links ("0.txt")
    ScriptBytes bytes;
    Encoding encoding = Encoding::CP932;
};

}  // namespace input
