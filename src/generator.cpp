#include "generator.h"

#include <charconv>
#include <sys/mman.h>

#include "nscr/file.h"

namespace {

constexpr std::string_view metaAttributes = "http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"";
constexpr std::string_view bodyOpening = "<body bgcolor=\"#f0f0f0\">\r\n<pre>\r\n";
constexpr std::string_view pageClosing = "</pre>\r\n</body>\r\n</html>";

bool hasNonAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

void appendLineNumber(std::string& out, std::int64_t number) {
    char digits[16];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    (void)error;
    auto length = static_cast<std::size_t>(end - digits);
    if (length < 4) out.append(4 - length, '0');
    out.append(digits, length);
    out += ": ";
}

// Large pages are written once from start to end: huge pages spare most of
// the page faults that filling them would take.
void adviseHugePages(char* data, std::size_t size) {
    constexpr std::uintptr_t hugePage = 2u << 20;
    auto begin = (reinterpret_cast<std::uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(hugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

std::string formatLineNumber(std::int32_t number) {
    std::string prefix;
    appendLineNumber(prefix, number);
    return prefix;
}

// ---- Generator ------------------------------------------------------------

Generator::Generator(OutputMode mode, bool lineNumbers) : mode(mode) {
    if (mode == OutputMode::STYLE || mode == OutputMode::CLASS) {
        std::string headContent = element("meta", metaAttributes, "", false);
        if (mode == OutputMode::CLASS) headContent += element("style", "", nscr::styleSheet(), true);
        headerText = "<html>\r\n" + element("head", "", headContent, true) + std::string(bodyOpening);
        footerText = pageClosing;
        tokenFormatter = mode == OutputMode::STYLE ? nscr::formatStyled : nscr::formatClassed;
    }
    if (lineNumbers) lineNumberFormatter = formatLineNumber;
}

std::string Generator::formatToken(const nscr::Token& token) const {
    if (tokenFormatter == nullptr) return std::string(token.text);
    return tokenFormatter(token.type, token.text);
}

std::string Generator::lineNumber(std::int32_t number) const {
    return lineNumberFormatter == nullptr ? std::string() : lineNumberFormatter(number);
}

std::string Generator::element(std::string_view tag, std::string_view attributes, std::string_view content,
                               bool block) const {
    std::string text = "<";
    text += tag;
    if (!attributes.empty()) {
        text += ' ';
        text += attributes;
    }
    text += '>';
    if (block) text += "\r\n";
    text += content;
    if (block) text += "\r\n";
    text += "</";
    text += tag;
    text += ">\r\n";
    return text;
}

Page Generator::startPage(std::size_t expectedSize) { return Page(*this, expectedSize); }

std::string Generator::render(const std::vector<nscr::TokenLine>& lines) {
    Page page = startPage();
    std::int64_t number = 0;
    for (const nscr::TokenLine& line : lines) page.addLine(line, ++number);
    return page.finish();
}

void Generator::generate(const std::string& outputName, const std::vector<nscr::TokenLine>& lines) {
    nscr::writeWholeFile(outputName, render(lines));
}

// ---- Page -----------------------------------------------------------------

Page::Page(Generator& generator, std::size_t expectedSize) : generator_(generator) {
    if (generator.tokenFormatter == nscr::formatStyled) spans_ = nscr::SpanFormat::styled();
    if (generator.tokenFormatter == nscr::formatClassed) spans_ = nscr::SpanFormat::classed();
    bytes_.reserve(expectedSize + generator.headerText.size() + generator.footerText.size());
    bytes_.append(generator.header());
    adviseHugePages(bytes_.data(), bytes_.capacity());
}

void Page::appendToken(const nscr::Token& token) {
    if (token.text.empty()) return;
    std::string_view opening = spans_.opening(token.type);
    bytes_ += opening;
    // A STRING token of more than one byte is a run of text with nothing to
    // escape; a one-byte token may be a character that must be escaped.
    if (token.type == nscr::TokenType::STRING && token.text.size() > 1) {
        generator_.encoder.appendCp932(bytes_, token.text);
    } else {
        std::size_t textStart = bytes_.size();
        if (generator_.tokenFormatter == nullptr) {
            bytes_ += token.text;
        } else {
            nscr::appendEscaped(bytes_, token.text, token.type);
        }
        if (hasNonAscii(token.text)) generator_.encoder.convertInPlace(bytes_, textStart);
    }
    if (!opening.empty()) bytes_ += nscr::SpanFormat::closing;
}

void Page::addLine(const nscr::TokenLine& tokens, std::int64_t number) {
    if (generator_.lineNumberFormatter != nullptr) appendLineNumber(bytes_, number);
    for (const nscr::Token& token : tokens) appendToken(token);
    bytes_ += "\r\n";
}

std::string Page::finish() {
    bytes_ += generator_.footer();
    return std::move(bytes_);
}
