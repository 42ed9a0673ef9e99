#include "generator.h"

#include <algorithm>
#include <charconv>
#include <cstring>

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

char* put(char* out, std::string_view text) {
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// "0001: " for 1: at least four digits, then a colon and a blank.
constexpr std::size_t lineNumberRoom = 24;
char* writeLineNumber(char* out, std::int64_t number) {
    char digits[20];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    (void)error;
    auto length = static_cast<std::size_t>(end - digits);
    for (; length < 4; ++length) *out++ = '0';
    out = put(out, std::string_view(digits, static_cast<std::size_t>(end - digits)));
    return put(out, ": ");
}

}  // namespace

std::string formatLineNumber(std::int32_t number) {
    char prefix[lineNumberRoom];
    return std::string(prefix, writeLineNumber(prefix, number));
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

Page Generator::startPage(std::size_t expectedSize) const { return Page(*this, expectedSize, true); }

Page Generator::startPart(std::size_t expectedSize) const { return Page(*this, expectedSize, false); }

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

Page::Page(const Generator& generator, std::size_t expectedSize, bool withHead) : generator_(generator) {
    if (generator.tokenFormatter == nscr::formatStyled) spans_ = nscr::SpanFormat::styled();
    if (generator.tokenFormatter == nscr::formatClassed) spans_ = nscr::SpanFormat::classed();
    tokenRoom_ = spans_.markupRoom();
    buffers_.emplace_back(expectedSize + generator.headerText.size() + generator.footerText.size());
    if (withHead) lastBuffer().append(generator.header());
}

std::size_t Page::tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const {
    return tokens.size() * tokenRoom_ + nscr::escapeRoom(textSize);
}

char* Page::writeToken(char* out, const nscr::Token& token) {
    if (token.text.empty()) return out;
    bool spanned = !spans_.opening(token.type).empty();
    out = spans_.writeOpening(out, token.type);
    // A STRING token of more than one byte is a run of text with nothing to
    // escape; a one-byte token may be a character that must be escaped.
    if (token.type == nscr::TokenType::STRING && token.text.size() > 1) {
        out = encoder_.encodeTo(out, token.text);
    } else {
        char* text = out;
        out = generator_.tokenFormatter == nullptr ? put(out, token.text)
                                                   : nscr::escapeTo(out, token.text, token.type);
        if (hasNonAscii(token.text))
            out = encoder_.encodeTo(text, std::string_view(text, static_cast<std::size_t>(out - text)));
    }
    if (spanned) out = nscr::SpanFormat::writeClosing(out);
    return out;
}

char* Page::writeCp932Token(char* out, nscr::TokenType type, std::string_view cp932) {
    out = spans_.writeOpening(out, type);
    // Trail bytes lie at 0x40 and above, clear of every byte that is escaped.
    if (cp932.size() == 1) {
        out = nscr::writeEscapedByte(out, cp932[0]);
    } else if (nscr::needsEscape(type)) {
        out = nscr::escapeTo(out, cp932, type);
    } else {
        std::memcpy(out, cp932.data(), cp932.size());
        out += cp932.size();
    }
    if (spans_.spans(type)) out = nscr::SpanFormat::writeClosing(out);
    return out;
}

void Page::startLine(std::int64_t number) {
    if (generator_.lineNumberFormatter == nullptr) return;
    char* out = lastBuffer().room(lineNumberRoom);
    lastBuffer().commit(writeLineNumber(out, number));
}

void Page::addTokens(const nscr::TokenLine& tokens) {
    std::size_t textSize = 0;
    for (const nscr::Token& token : tokens) textSize += token.text.size();
    char* out = lastBuffer().room(tokensRoom(tokens, textSize));
    for (const nscr::Token& token : tokens) out = writeToken(out, token);
    lastBuffer().commit(out);
}

std::size_t Page::addCp932Tokens(const nscr::TokenLine& tokens, std::string_view cp932) {
    if (generator_.tokenFormatter == nullptr) {
        // A text page takes the bytes as they are.
        std::size_t size = 0;
        for (const nscr::Token& token : tokens) size += token.text.size();
        lastBuffer().append(cp932.substr(0, size));
        return size;
    }
    char* out = lastBuffer().room(tokensRoom(tokens, cp932.size()));
    const char* text = cp932.data();
    // Tokens are never empty: each is at least one byte of the line.
    for (const nscr::Token& token : tokens) {
        out = writeCp932Token(out, token.type, std::string_view(text, token.text.size()));
        text += token.text.size();
    }
    lastBuffer().commit(out);
    return static_cast<std::size_t>(text - cp932.data());
}

void Page::endLine() { lastBuffer().append("\r\n"); }

void Page::addLine(const nscr::TokenLine& tokens, std::int64_t number) {
    startLine(number);
    addTokens(tokens);
    endLine();
}

void Page::appendPart(Page& part) {
    for (nscr::ByteBuffer& buffer : part.buffers_) buffers_.push_back(std::move(buffer));
    part.buffers_.clear();
    part.buffers_.emplace_back();
}

std::vector<std::string_view> Page::finishedPieces() {
    if (!finished_) lastBuffer().append(generator_.footer());
    finished_ = true;
    std::vector<std::string_view> pieces;
    for (const nscr::ByteBuffer& buffer : buffers_) pieces.push_back(buffer.view());
    return pieces;
}

std::string Page::finish() {
    std::string page;
    for (std::string_view piece : finishedPieces()) page += piece;
    return page;
}
