#include "codepage.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <utility>

#include "nscr/byte_lanes.h"
#include "nscr/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint8_t unknownEntry = 0;
constexpr std::uint8_t invalidEntry = 0xFF;
constexpr std::uint8_t leadByteEntry = 0xFE;

// Shapes of decoder entries for the shadow: not learned yet; a character
// that round-trips through UTF-8 as one byte or as two; the lead byte of a
// pair; anything else (invalid, or not the same bytes back).
constexpr std::uint8_t unknownShape = 0;
constexpr std::uint8_t exactSingleShape = 1;
constexpr std::uint8_t exactPairShape = 2;
constexpr std::uint8_t leadByteShape = 3;
constexpr std::uint8_t otherShape = 4;

iconv_t asIconv(void* descriptor) { return static_cast<iconv_t>(descriptor); }

const iconv_t failedOpen = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t failedConversion = static_cast<std::size_t>(-1);

bool isAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

constexpr std::uint64_t highBits = 0x8080808080808080u;

// Copies the bytes below 0x80 from in onwards to out, eight at a time where
// it can, and returns where they end. out may trail in within one buffer:
// each word is read before it is written.
const char* copyAsciiRun(char*& out, const char* in, const char* last) {
    while (last - in >= 8) {
        std::uint64_t word;
        std::memcpy(&word, in, sizeof word);
        if ((word & highBits) != 0) break;
        std::memcpy(out, &word, sizeof word);
        out += 8;
        in += 8;
    }
    while (in != last && isAscii(*in)) *out++ = *in++;
    return in;
}

// Where HTML's four special bytes go: their entities.
char* putEscaped(char* out, char c) {
    std::string_view entity;
    switch (c) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        default: *out = c; return out + 1;
    }
    std::memcpy(out, entity.data(), entity.size());
    return out + entity.size();
}

// As copyAsciiRun, with &, <, > and " escaped. Sixteen bytes at a time (the
// last few through a copy, as no byte past last may be read): each block
// is stored whole and out moves on past the plain bytes, so out needs room
// for sixteen bytes more than the escaped bytes take.
const char* copyAsciiRunEscaped(char*& out, const char* in, const char* last) {
    while (in != last) {
        auto left = static_cast<std::size_t>(last - in);
        nscr::ByteLanes v;
        std::uint32_t beyond = 0;
        if (left >= 16) {
            v = nscr::loadLanes(in);
        } else {
            char block[16] = {};
            std::memcpy(block, in, left);
            v = nscr::loadLanes(block);
            beyond = ~0u << left;
        }
        auto special = static_cast<nscr::ByteLanes>((v == '&') | (v == '<') | (v == '>') | (v == '"'));
        std::uint32_t stops = nscr::laneBits(special | v) | beyond;
        std::memcpy(out, &v, 16);
        std::size_t plain = stops == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(stops));
        out += plain;
        in += plain;
        if (stops == 0 || in == last) continue;
        if (!isAscii(*in)) break;
        out = putEscaped(out, *in++);
    }
    return in;
}

// Where the run of bytes below 0x80 from in onwards ends.
const char* skipAsciiRun(const char* in, const char* last) {
    while (last - in >= 8) {
        std::uint64_t word;
        std::memcpy(&word, in, sizeof word);
        if ((word & highBits) != 0) break;
        in += 8;
    }
    while (in != last && isAscii(*in)) ++in;
    return in;
}

// As copyAsciiRun, but stops at a zero byte, CR or LF too: where a line
// ends, or where the part of it that counts does. Sixteen bytes at a time
// where the processor has SSE2: each block is stored whole and out moves on
// past the bytes that count, so out needs room for sixteen bytes wherever
// sixteen bytes of in remain (and may not trail in).
const char* copyAsciiRunUntilLineEnd(char*& out, const char* in, const char* last) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (last - in >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)),
                                     _mm_cmpeq_epi8(bytes, zero));
        // A stop, or a byte of 0x80 or above: its high bit is set.
        auto ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(stops, bytes)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
        if (ends != 0) {
            auto ascii = static_cast<std::size_t>(std::countr_zero(ends));
            out += ascii;
            return in + ascii;
        }
        out += 16;
        in += 16;
    }
#endif
    constexpr std::uint64_t ones = 0x0101010101010101u;
    auto holds = [](std::uint64_t word, char c) { return ((word ^ (ones * static_cast<unsigned char>(c))) - ones) &
                                                         ~(word ^ (ones * static_cast<unsigned char>(c))) & highBits; };
    while (last - in >= 8) {
        std::uint64_t word;
        std::memcpy(&word, in, sizeof word);
        if ((word & highBits) != 0 || holds(word, '\0') || holds(word, '\r') || holds(word, '\n')) break;
        std::memcpy(out, &word, sizeof word);
        out += 8;
        in += 8;
    }
    while (in != last && isAscii(*in) && *in != '\0' && *in != '\r' && *in != '\n') *out++ = *in++;
    return in;
}

// A well-formed three-byte UTF-8 sequence (no overlong form, no surrogate)
// at in, whose code point it sets.
bool isThreeByteCharacter(const char* in, std::uint32_t& codePoint) {
    auto b0 = static_cast<unsigned char>(in[0]);
    auto b1 = static_cast<unsigned char>(in[1]);
    auto b2 = static_cast<unsigned char>(in[2]);
    if ((b0 & 0xF0u) != 0xE0u || (b1 & 0xC0u) != 0x80u || (b2 & 0xC0u) != 0x80u) return false;
    codePoint = (b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu);
    return codePoint >= 0x800 && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// Length of the UTF-8 sequence that starts with this byte, 0 when none does.
std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes one well-formed UTF-8 sequence; false for overlong forms,
// surrogates, code points past U+10FFFF and bad continuation bytes.
bool decodeUtf8(std::string_view text, std::size_t i, std::size_t length, std::uint32_t& codePoint) {
    if (length == 0 || i + length > text.size()) return false;
    auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t value = length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0u) != 0x80u) return false;
        value = (value << 6) | (next & 0x3Fu);
    }
    static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    codePoint = value;
    return true;
}

}  // namespace

std::string conversionErrorMessage() { return std::string("Couldn't convert string: ") + std::strerror(EILSEQ); }

[[noreturn]] void raiseConversionError() { throw nscr::Error(conversionErrorMessage()); }

// ---- IconvDescriptor ----------------------------------------------------

IconvDescriptor::~IconvDescriptor() {
    if (descriptor_ != nullptr) iconv_close(asIconv(descriptor_));
}

IconvDescriptor::IconvDescriptor(IconvDescriptor&& other) noexcept
    : to_(other.to_), from_(other.from_), descriptor_(std::exchange(other.descriptor_, nullptr)) {}

void* IconvDescriptor::open() {
    if (descriptor_ == nullptr) {
        iconv_t descriptor = iconv_open(to_, from_);
        if (descriptor == failedOpen)
            throw nscr::Error(std::string("Couldn't convert string: ") + std::strerror(errno));
        descriptor_ = descriptor;
    }
    return descriptor_;
}

IconvDescriptor::Result IconvDescriptor::convert(std::string_view input, std::string& output) {
    iconv_t descriptor = asIconv(open());
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    output.assign(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    Result result = Result::converted;
    if (iconv(descriptor, &in, &inLeft, &out, &outLeft) == failedConversion)
        result = errno == EINVAL ? Result::incomplete : Result::invalid;
    else if (iconv(descriptor, nullptr, nullptr, &out, &outLeft) == failedConversion)
        result = Result::invalid;
    output.resize(output.size() - outLeft);
    return result;
}

// ---- Cp932Decoder -------------------------------------------------------

Cp932Decoder::Cp932Decoder()
    : iconv_("UTF-8", "CP932"), back_("CP932", "UTF-8"), table_(0x10000), shapes_(0x10000) {}

void Cp932Decoder::learn(Entry& entry, std::string_view cp932) {
    std::string utf8;
    IconvDescriptor::Result result = iconv_.convert(cp932, utf8);
    std::uint8_t& shape = shapes_[static_cast<std::size_t>(&entry - table_.data())];
    shape = otherShape;
    if (result == IconvDescriptor::Result::incomplete && cp932.size() == 1) {
        entry.state = leadByteEntry;
        shape = leadByteShape;
    } else if (result != IconvDescriptor::Result::converted || utf8.empty() || utf8.size() > sizeof entry.utf8) {
        entry.state = invalidEntry;
    } else {
        std::memcpy(entry.utf8, utf8.data(), utf8.size());
        entry.state = static_cast<std::uint8_t>(utf8.size());
        std::string again;
        if (!isAscii(utf8[0]) && back_.convert(utf8, again) == IconvDescriptor::Result::converted && again == cp932)
            shape = cp932.size() == 1 ? exactSingleShape : exactPairShape;
    }
}

const Cp932Decoder::Entry& Cp932Decoder::single(unsigned char byte) {
    Entry& entry = table_[byte];
    if (entry.state == unknownEntry) {
        char c = static_cast<char>(byte);
        learn(entry, std::string_view(&c, 1));
    }
    return entry;
}

const Cp932Decoder::Entry& Cp932Decoder::pair(unsigned char lead, unsigned char trail) {
    Entry& entry = table_[static_cast<std::size_t>(lead) << 8 | trail];
    if (entry.state == unknownEntry) {
        char both[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        learn(entry, std::string_view(both, 2));
        // A line ends before these bytes, so a character never takes them.
        bool endsLine = trail == 0 || trail == '\r' || trail == '\n';
        if (entry.state == leadByteEntry || endsLine) entry.state = invalidEntry;
        if (endsLine) shapes_[static_cast<std::size_t>(&entry - table_.data())] = otherShape;
    }
    return entry;
}

void Cp932Decoder::appendUtf8(std::string& out, std::string_view cp932) {
    std::size_t used = out.size();
    out.resize(used + utf8Room(cp932.size()));
    char* end = decodeTo(out.data() + used, cp932);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

// Decodes from in up to last, or, for UntilLineEnd, up to the first CR,
// LF or zero byte; gives the end of what was written and where it stopped.
// A trail byte is never CR, LF or zero, so a lead byte before one fails as
// at the end of the text.
template <Cp932Decoder::AsciiRule Rule>
Cp932Decoder::DecodedRun Cp932Decoder::decodeRun(char* out, const char* in, const char* const last) {
    while (in != last) {
        auto lead = static_cast<unsigned char>(*in);
        if (isAscii(*in)) {
            if constexpr (Rule == AsciiRule::UntilLineEnd) {
                if (lead == 0 || lead == '\r' || lead == '\n') break;
                in = copyAsciiRunUntilLineEnd(out, in, last);
            } else if constexpr (Rule == AsciiRule::Escape) {
                in = copyAsciiRunEscaped(out, in, last);
            } else {
                in = copyAsciiRun(out, in, last);
            }
            continue;
        }
        // Runs of known double-byte characters, most of Japanese text: one
        // look-up each, two characters at a time while both are known. A
        // pair entry is only ever learned for a lead byte; a known one's
        // state is its length, 1 to 3. A pair starts with a byte of 0x80 or
        // above: the entries of "pairs" led by a zero byte are the single
        // bytes', and a zero byte ends a line.
        auto pairAt = [table = table_.data()](const char* at) -> const Entry& {
            return table[static_cast<std::size_t>(static_cast<unsigned char>(at[0])) << 8 |
                         static_cast<unsigned char>(at[1])];
        };
        auto isKnown = [](const Entry& entry) { return static_cast<std::uint8_t>(entry.state - 1) < 3; };
        auto leadsBoth = [](const char* at) { return (static_cast<unsigned char>(at[0] & at[2]) & 0x80) != 0; };
        // Four at a time while all four are known: a known state less one
        // is 0 to 2, and no other state less one is below 0xFD.
        auto stateLessOne = [](const Entry& entry) { return static_cast<std::uint8_t>(entry.state - 1); };
        while (last - in >= 8) {
            const Entry& e0 = pairAt(in);
            const Entry& e1 = pairAt(in + 2);
            const Entry& e2 = pairAt(in + 4);
            const Entry& e3 = pairAt(in + 6);
            bool leadsAll = (static_cast<unsigned char>(in[0] & in[2] & in[4] & in[6]) & 0x80) != 0;
            if (!leadsAll || (stateLessOne(e0) | stateLessOne(e1) | stateLessOne(e2) | stateLessOne(e3)) > 3) break;
            std::memcpy(out, &e0, sizeof e0);
            out += e0.state;
            std::memcpy(out, &e1, sizeof e1);
            out += e1.state;
            std::memcpy(out, &e2, sizeof e2);
            out += e2.state;
            std::memcpy(out, &e3, sizeof e3);
            out += e3.state;
            in += 8;
        }
        while (last - in >= 4) {
            const Entry& first = pairAt(in);
            const Entry& second = pairAt(in + 2);
            if (!leadsBoth(in) || !isKnown(first) || !isKnown(second)) break;
            std::memcpy(out, &first, sizeof first);
            out += first.state;
            std::memcpy(out, &second, sizeof second);
            out += second.state;
            in += 4;
        }
        if (last - in >= 2 && !isAscii(*in) && isKnown(pairAt(in))) {
            std::memcpy(out, &pairAt(in), sizeof(Entry));
            out += pairAt(in).state;
            in += 2;
        }
        if (in == last) break;
        lead = static_cast<unsigned char>(*in);
        if (isAscii(*in)) continue;
        const Entry* entry = &table_[lead];
        if (entry->state == unknownEntry) entry = &single(lead);
        std::size_t width = 1;
        if (entry->state == leadByteEntry) {
            if (in + 1 == last) raiseConversionError();
            auto trail = static_cast<unsigned char>(in[1]);
            entry = &table_[static_cast<std::size_t>(lead) << 8 | trail];
            if (entry->state == unknownEntry) entry = &pair(lead, trail);
            width = 2;
        }
        if (entry->state == invalidEntry) raiseConversionError();
        std::memcpy(out, entry, sizeof *entry);
        out += entry->state;
        in += width;
    }
    return {out, in};
}

char* Cp932Decoder::decodeTo(char* out, std::string_view cp932) {
    return decodeRun<AsciiRule::Copy>(out, cp932.data(), cp932.data() + cp932.size()).end;
}

char* Cp932Decoder::decodeEscapedTo(char* out, std::string_view cp932) {
    return decodeRun<AsciiRule::Escape>(out, cp932.data(), cp932.data() + cp932.size()).end;
}

Cp932Decoder::DecodedRun Cp932Decoder::decodeLineTo(char* out, const char* in, const char* last) {
    return decodeRun<AsciiRule::UntilLineEnd>(out, in, last);
}

namespace {

// Copies double-byte characters whose shape is exactPair while they last,
// two at a time where it can, raising each trail byte to 0x80 and above. A
// byte below 0x80 stops it: no pair behind one is ever an exact pair.
const char* copyPairRun(char*& out, const char* in, const char* last, const std::uint8_t* shapes) {
    auto index = [](const char* at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(at[0])) << 8 | static_cast<unsigned char>(at[1]);
    };
    while (last - in >= 4 && shapes[index(in)] == exactPairShape && shapes[index(in + 2)] == exactPairShape) {
        std::uint32_t word;
        std::memcpy(&word, in, sizeof word);
        word |= 0x80808080u;  // the lead bytes are 0x80 and above already
        std::memcpy(out, &word, sizeof word);
        out += 4;
        in += 4;
    }
    if (last - in >= 2 && shapes[index(in)] == exactPairShape) {
        out[0] = in[0];
        out[1] = static_cast<char>(in[1] | 0x80);
        out += 2;
        in += 2;
    }
    return in;
}

}  // namespace

Cp932Decoder::ShadowedLine Cp932Decoder::shadowLineTo(char* out, const char* in, const char* const last) {
    // Held here: stores through out could otherwise alias the table's pointer.
    const std::uint8_t* const shapes = shapes_.data();
    while (in != last) {
        auto lead = static_cast<unsigned char>(*in);
        if (lead < 0x80) {
            if (lead == 0 || lead == '\r' || lead == '\n') break;
            in = copyAsciiRunUntilLineEnd(out, in, last);
            continue;
        }
        // A pair that ends the line early (a lead byte before CR, LF or a
        // zero byte) is never an exact pair: it fails below.
        const char* after = copyPairRun(out, in, last, shapes);
        if (after != in) {
            in = after;
            continue;
        }
        if (shapes[lead] == exactSingleShape) {
            *out++ = static_cast<char>(lead);
            ++in;
            continue;
        }
        out = shadowSlowly(out, in, last);
        if (out == nullptr) return {nullptr, in};
        in += table_[lead].state == leadByteEntry ? 2 : 1;
    }
    return {out, in};
}

// One character not learned yet, or one that fails or does not round-trip:
// learns it, raises a conversion error, or gives nullptr; else writes it.
char* Cp932Decoder::shadowSlowly(char* out, const char* in, const char* last) {
    auto lead = static_cast<unsigned char>(*in);
    std::size_t index = lead;
    if (table_[index].state == unknownEntry) single(lead);
    if (table_[index].state == leadByteEntry) {
        if (in + 1 == last) raiseConversionError();
        index = static_cast<std::size_t>(lead) << 8 | static_cast<unsigned char>(in[1]);
        if (table_[index].state == unknownEntry) pair(lead, static_cast<unsigned char>(in[1]));
    }
    if (table_[index].state == invalidEntry) raiseConversionError();
    std::uint8_t shape = shapes_[index];
    if (shape == exactSingleShape) {
        *out++ = static_cast<char>(lead);
    } else if (shape == exactPairShape) {
        *out++ = static_cast<char>(lead);
        *out++ = static_cast<char>(in[1] | 0x80);
    } else {
        return nullptr;
    }
    return out;
}

std::vector<InvalidBytes> Cp932Decoder::invalidBytes(std::string_view cp932) {
    std::vector<InvalidBytes> runs;
    for (std::size_t at = 0; at < cp932.size();) {
        auto lead = static_cast<unsigned char>(cp932[at]);
        if (lead < 0x80) {
            ++at;
            continue;
        }
        const Entry& entry = single(lead);
        if (entry.state != leadByteEntry) {
            if (entry.state == invalidEntry) runs.push_back({at, 1});
            ++at;
            continue;
        }
        if (at + 1 == cp932.size()) {
            runs.push_back({at, 1});
            break;
        }
        auto trail = static_cast<unsigned char>(cp932[at + 1]);
        std::size_t width = pair(lead, trail).state == invalidEntry && trail < 0x80 ? 1 : 2;
        if (pair(lead, trail).state == invalidEntry) runs.push_back({at, width});
        at += width;
    }
    return runs;
}

// ---- Cp932Encoder -------------------------------------------------------

Cp932Encoder::Cp932Encoder() : iconv_("CP932", "UTF-8") {}

const Cp932Encoder::Entry& Cp932Encoder::entryFor(std::uint32_t codePoint, std::string_view utf8) {
    Entry& entry = table_[codePoint];
    if (entry.state != unknownEntry) return entry;
    std::string cp932;
    if (iconv_.convert(utf8, cp932) != IconvDescriptor::Result::converted || cp932.empty() ||
        cp932.size() > sizeof entry.cp932) {
        entry.state = invalidEntry;
    } else {
        std::memcpy(entry.cp932, cp932.data(), cp932.size());
        entry.state = static_cast<std::uint8_t>(cp932.size());
    }
    return entry;
}

const Cp932Encoder::Entry& Cp932Encoder::characterAt(std::string_view text, std::size_t i, std::size_t& length) {
    length = utf8SequenceLength(static_cast<unsigned char>(text[i]));
    std::uint32_t codePoint = 0;
    // CP932 holds nothing beyond the Basic Multilingual Plane.
    if (!decodeUtf8(text, i, length, codePoint) || codePoint > 0xFFFF) raiseConversionError();
    const Entry& entry = entryFor(codePoint, text.substr(i, length));
    if (entry.state == invalidEntry) raiseConversionError();
    return entry;
}

char* Cp932Encoder::encodeTo(char* out, std::string_view utf8) {
    // Most pages never need the table: it is made on first use.
    if (table_.empty()) table_.resize(0x10000);
    const char* const first = utf8.data();
    const char* in = first;
    const char* const last = in + utf8.size();
    while (in != last) {
        if (isAscii(*in)) {
            in = copyAsciiRun(out, in, last);
            continue;
        }
        // Three-byte characters are most of Japanese text: look them up
        // directly when well formed and already known.
        std::uint32_t codePoint = 0;
        if (last - in >= 3 && isThreeByteCharacter(in, codePoint)) {
            const Entry& known = table_[codePoint];
            if (known.state != unknownEntry && known.state != invalidEntry) {
                std::memcpy(out, known.cp932, sizeof known.cp932);
                out += known.state;
                in += 3;
                continue;
            }
        }
        std::size_t length = 0;
        const Entry& entry = characterAt(utf8, static_cast<std::size_t>(in - first), length);
        std::memcpy(out, entry.cp932, entry.state);
        out += entry.state;
        in += length;
    }
    return out;
}

void Cp932Encoder::appendCp932(std::string& out, std::string_view utf8) {
    std::size_t used = out.size();
    out.resize(used + utf8.size());
    char* end = encodeTo(out.data() + used, utf8);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

void Cp932Encoder::convertInPlace(std::string& text, std::size_t from) {
    char* begin = text.data() + from;
    char* end = encodeTo(begin, std::string_view(begin, text.size() - from));
    text.resize(static_cast<std::size_t>(end - text.data()));
}

std::string Cp932Encoder::toCp932(std::string_view utf8) {
    std::string text;
    appendCp932(text, utf8);
    return text;
}

// ---- UTF-8 ----------------------------------------------------------------

namespace {

// Whether the three bytes at the low end of word are a three-byte character
// whose lead byte is neither E0 nor ED: then any two continuation bytes
// make a well-formed one (no overlong form, no surrogate).
bool isPlainThreeByteCharacter(std::uint64_t word) {
    unsigned leadBits = static_cast<unsigned>(word) & 0x0Fu;
    return (word & 0xC0C0F0u) == 0x8080E0u && leadBits != 0 && leadBits != 0xD;
}

// Steps over the run of such characters from in, two at a time where it can;
// they are most of Japanese and Chinese text.
#if defined(__SSE2__)
// Four such characters at in (twelve bytes; sixteen readable): each lead
// byte 1110xxxx but for E0 and ED, each other byte 10xxxxxx.
bool arePlainThreeByteCharacters(const char* in) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i shapeBits = _mm_setr_epi8(-0x10, -0x40, -0x40, -0x10, -0x40, -0x40, -0x10, -0x40, -0x40, -0x10,
                                            -0x40, -0x40, 0, 0, 0, 0);
    const __m128i shapes = _mm_setr_epi8(-0x20, -0x80, -0x80, -0x20, -0x80, -0x80, -0x20, -0x80, -0x80, -0x20,
                                         -0x80, -0x80, 0, 0, 0, 0);
    // The low bits of the lead bytes; other bytes never equal 0 or 0x0D there.
    const __m128i leadBits = _mm_setr_epi8(0x0F, 0, 0, 0x0F, 0, 0, 0x0F, 0, 0, 0x0F, 0, 0, 0, 0, 0, 0);
    const __m128i zeroAt = _mm_setr_epi8(0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, -1, -1, -1, -1);
    const __m128i edAt = _mm_setr_epi8(0x0D, -1, -1, 0x0D, -1, -1, 0x0D, -1, -1, 0x0D, -1, -1, -1, -1, -1, -1);
    __m128i shaped = _mm_cmpeq_epi8(_mm_and_si128(bytes, shapeBits), shapes);
    __m128i low = _mm_and_si128(bytes, leadBits);
    __m128i excluded = _mm_or_si128(_mm_cmpeq_epi8(low, zeroAt), _mm_cmpeq_epi8(low, edAt));
    return _mm_movemask_epi8(shaped) == 0xFFFF && _mm_movemask_epi8(excluded) == 0;
}
#endif

const char* skipPlainThreeByteCharacters(const char* in, const char* last) {
    static_assert(std::endian::native == std::endian::little);
#if defined(__SSE2__)
    while (last - in >= 16 && arePlainThreeByteCharacters(in)) in += 12;
#endif
    std::uint64_t word;
    while (last - in >= 8) {
        std::memcpy(&word, in, sizeof word);
        if (!isPlainThreeByteCharacter(word)) return in;
        in += isPlainThreeByteCharacter(word >> 24) ? 6 : 3;
    }
    while (last - in >= 3) {
        word = 0;
        std::memcpy(&word, in, 3);
        if (!isPlainThreeByteCharacter(word)) break;
        in += 3;
    }
    return in;
}

}  // namespace

void checkUtf8(std::string_view text) {
    const char* const first = text.data();
    const char* const last = first + text.size();
    for (const char* in = first; in != last;) {
        if (isAscii(*in)) {
            in = skipAsciiRun(in, last);
            continue;
        }
        in = skipPlainThreeByteCharacters(in, last);
        if (in == last || isAscii(*in)) continue;
        std::uint32_t codePoint = 0;
        std::size_t length = utf8SequenceLength(static_cast<unsigned char>(*in));
        if (!decodeUtf8(text, static_cast<std::size_t>(in - first), length, codePoint)) raiseConversionError();
        in += length;
    }
}

std::vector<InvalidBytes> invalidUtf8Bytes(std::string_view text) {
    std::vector<InvalidBytes> runs;
    for (std::size_t at = 0; at < text.size();) {
        if (isAscii(text[at])) {
            ++at;
            continue;
        }
        std::size_t length = utf8SequenceLength(static_cast<unsigned char>(text[at]));
        std::uint32_t codePoint = 0;
        if (decodeUtf8(text, at, length, codePoint)) {
            at += length;
            continue;
        }
        // The lead byte and the continuation bytes that follow it, up to
        // the sequence's length, stand for one character that is not there.
        std::size_t taken = 1;
        while (taken < length && at + taken < text.size() &&
               (static_cast<unsigned char>(text[at + taken]) & 0xC0u) == 0x80u)
            ++taken;
        runs.push_back({at, taken});
        at += taken;
    }
    return runs;
}

// ---- Locale text ----------------------------------------------------------

std::string toLocaleText(std::string_view utf8) {
    std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return std::string(utf8);
    try {
        IconvDescriptor toLocale(codeset.c_str(), "UTF-8");
        std::string converted;
        if (toLocale.convert(utf8, converted) == IconvDescriptor::Result::converted) return converted;
    } catch (const nscr::Error&) {
        // No converter to this codeset: the UTF-8 text is the best we have.
    }
    return std::string(utf8);
}
