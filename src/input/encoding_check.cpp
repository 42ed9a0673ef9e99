#include "input/encoding_check.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

#include "nscr/byte_lanes.h"

namespace input {
namespace {

constexpr std::uint64_t highBits = 0x8080808080808080u;
constexpr std::size_t none = static_cast<std::size_t>(-1);

bool in(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// The first byte at or after i that is not ASCII, eight at a time.
std::size_t skipAscii(const unsigned char* b, std::size_t i, std::size_t n) {
    while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, b + i, 8);
        if (word & highBits) break;
        i += 8;
    }
    while (i < n && b[i] < 0x80) ++i;
    return i;
}

struct Break {
    std::size_t offset = none;
    std::size_t length = 0;
};

// One bit a byte for 64 bytes: lead bytes, bytes that may follow one,
// single bytes above ASCII, and every byte above ASCII.
struct ByteClasses {
    std::uint64_t lead = 0, trail = 0, single = 0, high = 0;
};

template <unsigned char lead1Low, unsigned char lead1High, unsigned char lead2Low, unsigned char lead2High,
          unsigned char trailHigh, unsigned char singleLow, unsigned char singleHigh>
ByteClasses classesOf(const unsigned char* b) {
    using nscr::lanesInRange;
    ByteClasses c;
    for (unsigned k = 0; k < 64; k += 16) {
        nscr::ByteLanes v = nscr::loadLanes(reinterpret_cast<const char*>(b + k));
        c.lead |= std::uint64_t{nscr::laneBits(lanesInRange(v, lead1Low, lead1High) | lanesInRange(v, lead2Low, lead2High))} << k;
        c.trail |= std::uint64_t{nscr::laneBits(lanesInRange(v, 0x40, 0x7E) | lanesInRange(v, 0x80, trailHigh))} << k;
        c.single |= std::uint64_t{nscr::laneBits(lanesInRange(v, singleLow, singleHigh))} << k;
        c.high |= std::uint64_t{nscr::laneBits(v)} << k;
    }
    return c;
}

// The bytes that start a double-byte character, given the bytes that could:
// in each run of such bytes every other one, from the run's first. The
// first byte is not one when it ends a character begun before.
std::uint64_t leadsOf(std::uint64_t candidates, bool trailFirst) {
    constexpr std::uint64_t even = 0x5555555555555555u;
    std::uint64_t lead = candidates & ~std::uint64_t{trailFirst};
    std::uint64_t starts = lead & ~(lead << 1);
    // Adding a run's first bit clears the run when that bit is odd.
    std::uint64_t evenRuns = (lead + (starts & ~even)) & lead;
    return (evenRuns & even) | (lead & ~evenRuns & ~even);
}

// Double-byte encodings: a lead byte in one of two ranges takes a trail byte
// in [40, 7E] or [80, trailHigh]; single bytes above ASCII are in
// [singleLow, singleHigh] (an empty range when singleLow > singleHigh).
// Text is looked at 64 bytes at a time; a block with a fault in it, and the
// last bytes, a character at a time.
template <unsigned char lead1Low, unsigned char lead1High, unsigned char lead2Low, unsigned char lead2High,
          unsigned char trailHigh, unsigned char singleLow, unsigned char singleHigh>
Break firstBreakDoubleByte(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;  // a character starts here
    auto stepCharacter = [&]() -> Break {
        unsigned char c = b[i];
        if (c < 0x80 || in(c, singleLow, singleHigh)) {
            ++i;
        } else if (in(c, lead1Low, lead1High) || in(c, lead2Low, lead2High)) {
            if (i + 1 >= n) return {i, 1};
            unsigned char t = b[i + 1];
            if (!in(t, 0x40, 0x7E) && !in(t, 0x80, trailHigh)) return {i, 2};
            i += 2;
        } else {
            return {i, 1};
        }
        return {};
    };
    bool trailFirst = false;  // b[i] ends the character at b[i - 1]
    while (i + 64 <= n) {
        ByteClasses c = classesOf<lead1Low, lead1High, lead2Low, lead2High, trailHigh, singleLow, singleHigh>(b + i);
        std::uint64_t leads = leadsOf(c.lead, trailFirst);
        std::uint64_t trails = (leads << 1) | std::uint64_t{trailFirst};
        std::uint64_t bad = (trails & ~c.trail) | (c.high & ~(leads | trails | c.single));
        if (bad == 0) {
            trailFirst = (leads >> 63) != 0;
            i += 64;
            continue;
        }
        std::size_t end = i + 64;
        if (trailFirst) --i;
        trailFirst = false;
        while (i < end)
            if (Break found = stepCharacter(); found.offset != none) return found;
    }
    if (trailFirst) --i;
    while (i < n)
        if (Break found = stepCharacter(); found.offset != none) return found;
    return {};
}

Break firstBreakUtf8(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0;;) {
        i = skipAscii(b, i, n);
        if (i >= n) return {};
        unsigned char c = b[i];
        std::size_t length;
        unsigned char secondLow = 0x80, secondHigh = 0xBF;
        if (in(c, 0xC2, 0xDF)) {
            length = 2;
        } else if (in(c, 0xE0, 0xEF)) {
            length = 3;
            if (c == 0xE0) secondLow = 0xA0;
            if (c == 0xED) secondHigh = 0x9F;  // no surrogates
        } else if (in(c, 0xF0, 0xF4)) {
            length = 4;
            if (c == 0xF0) secondLow = 0x90;
            if (c == 0xF4) secondHigh = 0x8F;  // nothing past U+10FFFF
        } else {
            return {i, 1};
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= n) return {i, k};
            unsigned char low = k == 1 ? secondLow : 0x80, high = k == 1 ? secondHigh : 0xBF;
            if (!in(b[i + k], low, high)) return {i, k + 1};
        }
        i += length;
    }
}

Break firstBreak(std::string_view bytes, Encoding encoding) {
    switch (encoding) {
        case Encoding::CP932: return firstBreakDoubleByte<0x81, 0x9F, 0xE0, 0xFC, 0xFC, 0xA1, 0xDF>(bytes);
        case Encoding::GBK: return firstBreakDoubleByte<0x81, 0xFE, 0x81, 0xFE, 0xFE, 0xFF, 0x00>(bytes);
        case Encoding::UTF8: return firstBreakUtf8(bytes);
    }
    return {};
}

bool isValid(std::string_view bytes, Encoding encoding) { return firstBreak(bytes, encoding).offset == none; }

bool hasHighByte(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return skipAscii(b, 0, bytes.size()) < bytes.size();
}

}  // namespace

std::optional<BadBytes> validate(std::string_view bytes, Encoding encoding) {
    Break found = firstBreak(bytes, encoding);
    if (found.offset == none) return std::nullopt;
    std::string_view before = bytes.substr(0, found.offset);
    std::size_t lineStart = before.find_last_of("\r\n");
    lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    return BadBytes{found.offset, found.length, lineEndCount(before) + 1, found.offset - lineStart + 1};
}

std::string notValidText(std::string_view badBytes, Encoding encoding) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "not valid " + std::string(encodingName(encoding)) + (badBytes.size() == 1 ? " (byte" : " (bytes");
    for (char c : badBytes) {
        auto byte = static_cast<unsigned char>(c);
        text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text + ")";
}

bool looksLikeUtf8(std::string_view bytes) { return hasHighByte(bytes) && isValid(bytes, Encoding::UTF8); }

std::optional<Encoding> guessEncoding(std::string_view bytes) {
    if (looksLikeUtf8(bytes)) return Encoding::UTF8;
    if (isValid(bytes, Encoding::CP932)) return Encoding::CP932;
    if (isValid(bytes, Encoding::GBK)) return Encoding::GBK;
    return std::nullopt;
}

bool startsWithUtf8Bom(std::string_view bytes) { return bytes.starts_with("\xEF\xBB\xBF"); }

std::size_t lineEndCount(std::string_view bytes) {
    std::size_t count = 0;
    const char* p = bytes.data();
    const char* const last = p + bytes.size();
    while (p != last) {
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(last - p));
        const char* stop = lf != nullptr ? static_cast<const char*>(lf) : last;
        // Lone CRs before the LF (a CR right before it is part of CR LF).
        for (const char* cr = p; cr != stop; ++cr) {
            cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(stop - cr)));
            if (cr == nullptr) break;
            if (cr + 1 != stop || lf == nullptr) ++count;
        }
        if (lf == nullptr) break;
        ++count;
        p = stop + 1;
    }
    return count;
}

namespace {

// One GBK to UTF-8 descriptor per thread, opened on first use.
class GbkConverter {
public:
    GbkConverter() : descriptor_(iconv_open("UTF-8", "GBK")) {
        if (descriptor_ == reinterpret_cast<iconv_t>(-1)) descriptor_ = iconv_open("UTF-8", "CP936");
    }
    ~GbkConverter() {
        if (ok()) iconv_close(descriptor_);
    }
    GbkConverter(const GbkConverter&) = delete;
    GbkConverter& operator=(const GbkConverter&) = delete;
    bool ok() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return descriptor_; }

private:
    iconv_t descriptor_;
};

constexpr std::string_view replacement = "\xEF\xBF\xBD";

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
    thread_local GbkConverter converter;
    // A GBK pair gives at most 3 UTF-8 bytes, and a bad single byte the 3
    // of U+FFFD.
    std::string out(gbk.size() * 3 + 16, '\0');
    char* o = out.data();
    std::size_t outLeft = out.size();
    const auto* b = reinterpret_cast<const unsigned char*>(gbk.data());
    std::size_t i = 0;
    const std::size_t n = gbk.size();
    auto putReplacement = [&] {
        std::memcpy(o, replacement.data(), replacement.size());
        o += replacement.size();
        outLeft -= replacement.size();
    };
    while (i < n) {
        std::size_t ascii = skipAscii(b, i, n);
        std::memcpy(o, gbk.data() + i, ascii - i);
        o += ascii - i;
        outLeft -= ascii - i;
        i = ascii;
        if (i >= n) break;
        if (!converter.ok()) {
            putReplacement();
            ++i;
            continue;
        }
        iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
        char* from = const_cast<char*>(gbk.data() + i);
        std::size_t inLeft = n - i;
        std::size_t result = iconv(converter.get(), &from, &inLeft, &o, &outLeft);
        i = n - inLeft;
        if (result == static_cast<std::size_t>(-1)) {
            // EILSEQ or EINVAL (cut short at the end): a pair of the right
            // shape that has no character, or else one bad byte, gives one
            // replacement.
            putReplacement();
            bool pair = i + 1 < n && in(b[i], 0x81, 0xFE) && (in(b[i + 1], 0x40, 0x7E) || in(b[i + 1], 0x80, 0xFE));
            i += pair ? 2 : 1;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

}  // namespace input
