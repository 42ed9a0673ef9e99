#pragma once

// Whether bytes are well-formed text in an encoding, which encoding they
// look like, and GBK text in UTF-8 for the page writers.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "input/source_file.h"

namespace input {

// The first bytes that are not text in an encoding.
struct BadBytes {
    std::size_t offset;  // of the first of them
    std::size_t length;  // the broken sequence as far as it went (1 to 4 bytes)
    std::size_t line;    // 1-based; CR LF, a lone CR and LF each end a line
    std::size_t column;  // 1-based, in bytes
};

// The first place bytes break the encoding's byte rules, or nothing when
// they are all well-formed. CP932: ASCII, single bytes A1-DF, and lead
// bytes 81-9F or E0-FC each with a trail byte 40-7E or 80-FC. GBK: ASCII,
// and lead bytes 81-FE each with a trail byte 40-7E or 80-FE. UTF-8:
// well-formed sequences (no overlong forms, surrogates, or code points past
// U+10FFFF).
std::optional<BadBytes> validate(std::string_view bytes, Encoding encoding);

// The encoding the bytes look like: UTF-8 when they are valid UTF-8 and hold
// a character above ASCII; else CP932 when valid in it; else GBK when valid
// in it; nothing when they are text in none of them.
std::optional<Encoding> guessEncoding(std::string_view bytes);

// True when bytes are valid UTF-8 and hold at least one multibyte sequence.
bool looksLikeUtf8(std::string_view bytes);

bool startsWithUtf8Bom(std::string_view bytes);

// The number of line ends: LF, CR LF and a lone CR count one each.
std::size_t lineEndCount(std::string_view bytes);

// GBK text in UTF-8, through glibc's iconv with one descriptor per thread.
// Bytes that are not GBK each become U+FFFD, so a page still shows where
// they were; this never throws for bad input.
std::string gbkToUtf8(std::string_view gbk);

// "not valid CP932 (byte 82)", "not valid UTF-8 (bytes E3 81)": bad bytes
// named for a message.
std::string notValidText(std::string_view badBytes, Encoding encoding);

}  // namespace input
