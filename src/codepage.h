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

// The encodings of scripts and pages.
enum class TextEncoding { CP932, UTF8 };

class IconvDescriptor {
public:
    IconvDescriptor(const char* to, const char* from) : to_(to), from_(from) {}
    ~IconvDescriptor();
    IconvDescriptor(IconvDescriptor&& other) noexcept;
    IconvDescriptor& operator=(IconvDescriptor&&) = delete;
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
// The message of that error.
std::string conversionErrorMessage();

// A run of bytes that does not decode: where it starts and how long it is.
struct InvalidBytes {
    std::size_t offset;
    std::size_t length;
};

class Cp932Decoder {
public:
    Cp932Decoder();
    // Appends the UTF-8 form of a CP932 line to out.
    void appendUtf8(std::string& out, std::string_view cp932);
    // Writes the UTF-8 form of cp932 at out and returns its end. out must
    // have room for utf8Room(cp932.size()) bytes.
    char* decodeTo(char* out, std::string_view cp932);
    static constexpr std::size_t utf8Room(std::size_t cp932Size) { return cp932Size * 3 + 1; }
    // The same, with &, <, > and " written as HTML's &amp;, &lt;, &gt; and
    // &quot; (no trail byte is one of them). Room: escapedRoom(cp932.size()).
    char* decodeEscapedTo(char* out, std::string_view cp932);
    static constexpr std::size_t escapedRoom(std::size_t cp932Size) { return cp932Size * 6 + 16; }
    // The same for the line that starts at in, in text that runs on to
    // last: decoding ends at the first CR, LF or zero byte, and stop is
    // where it ended (that byte, or last). Room: utf8Room(last - in).
    struct DecodedRun {
        char* end;
        const char* stop;
    };
    DecodedRun decodeLineTo(char* out, const char* in, const char* last);

    // Writes the shadow of a CP932 line at out (room: cp932.size() bytes)
    // and returns its end. The shadow is the line with the trail byte of
    // every double-byte character raised to 0x80 or above, so that each of
    // its characters, like each of the UTF-8 form's, is either one byte below
    // 0x80 or bytes of 0x80 and above only. A tokenizer that tells bytes
    // apart only by those two classes cuts the shadow where it cuts the
    // UTF-8 form, and the raw line's bytes at the same places are exactly
    // the CP932 form of each piece. That holds when every character comes
    // back from UTF-8 as the same bytes; where one does not, this returns
    // nullptr. Bytes that do not convert fail as in decodeTo. The shadow
    // ends at the first zero byte, as a script line does, so its length is
    // that of the part of the line that counts.
    char* shadowTo(char* out, std::string_view cp932) {
        return shadowLineTo(out, cp932.data(), cp932.data() + cp932.size()).end;
    }
    // The same for the line that starts at in, in text that runs on to last:
    // the shadow also ends at the first CR or LF, and stop is where it ended
    // (the CR, LF or zero byte, or last). Room: last - in bytes.
    struct ShadowedLine {
        char* end;  // nullptr when some character does not round-trip
        const char* stop;
    };
    ShadowedLine shadowLineTo(char* out, const char* in, const char* last);

    // The runs of a CP932 line that do not decode, in order: a byte that
    // starts no character, or a lead byte and the byte after it when that
    // is not ASCII (an ASCII byte after a lead byte stands for itself).
    std::vector<InvalidBytes> invalidBytes(std::string_view cp932);

private:
    // Four bytes, so that a character is copied with one fixed-size move:
    // the UTF-8 bytes, then what is known of the sequence.
    struct Entry {
        char utf8[3] = {};
        std::uint8_t state = 0;  // unknownEntry, invalidEntry, leadByteEntry, or the UTF-8 length
    };
    // What becomes of bytes below 0x80: copied; copied up to a line's end;
    // copied with HTML's four special bytes escaped.
    enum class AsciiRule { Copy, UntilLineEnd, Escape };
    template <AsciiRule Rule>
    DecodedRun decodeRun(char* out, const char* in, const char* last);
    const Entry& single(unsigned char byte);
    const Entry& pair(unsigned char lead, unsigned char trail);
    void learn(Entry& entry, std::string_view cp932);
    char* shadowSlowly(char* out, const char* in, const char* last);

    IconvDescriptor iconv_;
    IconvDescriptor back_;  // UTF-8 to CP932, to learn which characters round-trip
    std::vector<Entry> table_;  // single bytes at their value, pairs at lead * 256 + trail
    // Per entry of table_: what the shadow makes of it (see codepage.cpp).
    std::vector<std::uint8_t> shapes_;
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
    // Writes the CP932 form of utf8 at out and returns its end; it takes at
    // most utf8.size() bytes. out may be utf8.data() itself: every character
    // is read before its shorter form is written.
    char* encodeTo(char* out, std::string_view utf8);

private:
    struct Entry {
        char cp932[2] = {};
        std::uint8_t state = 0;  // unknownEntry, invalidEntry, or the CP932 length
    };
    const Entry& entryFor(std::uint32_t codePoint, std::string_view utf8);
    // The entry of the UTF-8 character at text[i], whose length it sets.
    const Entry& characterAt(std::string_view text, std::size_t i, std::size_t& length);

    IconvDescriptor iconv_;
    std::vector<Entry> table_;  // by code point of the Basic Multilingual Plane, once used
};

// Checks that text is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF); raises the conversion error otherwise.
void checkUtf8(std::string_view text);
// The runs of text that are not well-formed UTF-8, in order: each is a
// byte that starts no sequence, or the start of a sequence cut short.
std::vector<InvalidBytes> invalidUtf8Bytes(std::string_view text);

// The text in the encoding of the current locale (setlocale must have run):
// unchanged where that is UTF-8 or ASCII, converted otherwise, and left
// unchanged when it cannot be converted.
std::string toLocaleText(std::string_view utf8);
