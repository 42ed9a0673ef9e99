#include "codepage.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

#include "nscr/error.h"

namespace {

constexpr std::uint8_t unknownEntry = 0;
constexpr std::uint8_t invalidEntry = 0xFF;
constexpr std::uint8_t leadByteEntry = 0xFE;

iconv_t asIconv(void* descriptor) { return static_cast<iconv_t>(descriptor); }

const iconv_t failedOpen = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t failedConversion = static_cast<std::size_t>(-1);

bool isAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

std::size_t asciiRunEnd(std::string_view text, std::size_t i) {
    while (i < text.size() && isAscii(text[i])) ++i;
    return i;
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

[[noreturn]] void raiseConversionError() {
    throw nscr::Error(std::string("Couldn't convert string: ") + std::strerror(EILSEQ));
}

// ---- IconvDescriptor ----------------------------------------------------

IconvDescriptor::~IconvDescriptor() {
    if (descriptor_ != nullptr) iconv_close(asIconv(descriptor_));
}

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

Cp932Decoder::Cp932Decoder() : iconv_("UTF-8", "CP932"), table_(0x10000) {}

void Cp932Decoder::learn(Entry& entry, std::string_view cp932) {
    std::string utf8;
    IconvDescriptor::Result result = iconv_.convert(cp932, utf8);
    if (result == IconvDescriptor::Result::incomplete && cp932.size() == 1) {
        entry.state = leadByteEntry;
    } else if (result != IconvDescriptor::Result::converted || utf8.empty() || utf8.size() > sizeof entry.utf8) {
        entry.state = invalidEntry;
    } else {
        std::memcpy(entry.utf8, utf8.data(), utf8.size());
        entry.state = static_cast<std::uint8_t>(utf8.size());
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
        if (entry.state == leadByteEntry) entry.state = invalidEntry;
    }
    return entry;
}

void Cp932Decoder::appendUtf8(std::string& out, std::string_view cp932) {
    std::size_t i = 0;
    while (i < cp932.size()) {
        std::size_t ascii = asciiRunEnd(cp932, i);
        out.append(cp932, i, ascii - i);
        i = ascii;
        if (i == cp932.size()) break;
        const Entry* entry = &single(static_cast<unsigned char>(cp932[i]));
        std::size_t width = 1;
        if (entry->state == leadByteEntry) {
            if (i + 1 == cp932.size()) raiseConversionError();
            entry = &pair(static_cast<unsigned char>(cp932[i]), static_cast<unsigned char>(cp932[i + 1]));
            width = 2;
        }
        if (entry->state == invalidEntry) raiseConversionError();
        out.append(entry->utf8, entry->state);
        i += width;
    }
}

// ---- Cp932Encoder -------------------------------------------------------

Cp932Encoder::Cp932Encoder() : iconv_("CP932", "UTF-8"), table_(0x10000) {}

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

void Cp932Encoder::appendCp932(std::string& out, std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t ascii = asciiRunEnd(utf8, i);
        out.append(utf8, i, ascii - i);
        i = ascii;
        if (i == utf8.size()) break;
        std::size_t length = 0;
        const Entry& entry = characterAt(utf8, i, length);
        out.append(entry.cp932, entry.state);
        i += length;
    }
}

void Cp932Encoder::convertInPlace(std::string& text, std::size_t from) {
    std::size_t read = asciiRunEnd(text, from);
    std::size_t write = read;
    while (read < text.size()) {
        std::size_t length = 0;
        const Entry& entry = characterAt(text, read, length);
        std::memcpy(text.data() + write, entry.cp932, entry.state);
        write += entry.state;
        read += length;
        std::size_t ascii = asciiRunEnd(text, read);
        if (ascii != read) std::memmove(text.data() + write, text.data() + read, ascii - read);
        write += ascii - read;
        read = ascii;
    }
    text.resize(write);
}

std::string Cp932Encoder::toCp932(std::string_view utf8) {
    std::string text;
    appendCp932(text, utf8);
    return text;
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
