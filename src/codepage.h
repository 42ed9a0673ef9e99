#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Conversion between CP932 (the script and page encoding) and UTF-8, the
// program's inner encoding. Both directions give exactly the bytes of glibc's
// iconv: each character met is converted once through iconv and remembered,
// so long scripts cost a table look-up per character. Text of bytes below
// 0x80 passes unchanged. Failures raise "Couldn't convert string: " and the
// description of EILSEQ.

class IconvDescriptor {
public:
    IconvDescriptor(const char* to, const char* from) : to_(to), from_(from) {}
    ~IconvDescriptor();
    IconvDescriptor(const IconvDescriptor&) = delete;
    IconvDescriptor& operator=(const IconvDescriptor&) = delete;

    enum class Result { converted, invalid, incomplete };
    // Converts all of input into output (replaced).
    Result convert(std::string_view input, std::string& output);

private:
    void* open();
    const char* to_;
    const char* from_;
    void* descriptor_ = nullptr;  // opened on first use
};

[[noreturn]] void raiseConversionError();

class Cp932Decoder {
public:
    Cp932Decoder();
    // Appends the UTF-8 form of a CP932 line to out.
    void appendUtf8(std::string& out, std::string_view cp932);

private:
    struct Entry {
        std::uint8_t state = 0;  // unknownEntry, invalidEntry, leadByteEntry, or the UTF-8 length
        char utf8[3] = {};
    };
    const Entry& single(unsigned char byte);
    const Entry& pair(unsigned char lead, unsigned char trail);
    void learn(Entry& entry, std::string_view cp932);

    IconvDescriptor iconv_;
    std::vector<Entry> table_;  // single bytes at their value, pairs at lead * 256 + trail
};

class Cp932Encoder {
public:
    Cp932Encoder();
    // Converts the non-ASCII runs of text[from, end) to CP932 in place; the
    // CP932 form of a character is never longer than its UTF-8 form.
    void convertInPlace(std::string& text, std::size_t from);
    // Appends the CP932 form of utf8 to out.
    void appendCp932(std::string& out, std::string_view utf8);
    std::string toCp932(std::string_view utf8);

private:
    struct Entry {
        std::uint8_t state = 0;  // unknownEntry, invalidEntry, or the CP932 length
        char cp932[2] = {};
    };
    const Entry& entryFor(std::uint32_t codePoint, std::string_view utf8);
    // The entry of the UTF-8 character at text[i], whose length it sets.
    const Entry& characterAt(std::string_view text, std::size_t i, std::size_t& length);

    IconvDescriptor iconv_;
    std::vector<Entry> table_;  // by code point of the Basic Multilingual Plane
};

// The text in the encoding of the current locale (setlocale must have run):
// unchanged where that is UTF-8 or ASCII, converted otherwise, and left
// unchanged when it cannot be converted.
std::string toLocaleText(std::string_view utf8);
