#include "generator.h"

#include <cstring>
#include <utility>

#include "nscr/file.h"

namespace {

constexpr std::string_view cp932MetaAttributes =
    "http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"";
constexpr std::string_view utf8MetaAttributes = "http-equiv=\"Content-Type\" content=\"text/html;charset=UTF-8\"";
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
constexpr std::size_t lineNumberWidth = 4;
constexpr std::string_view afterLineNumber = ": ";

std::string paddedNumber(std::int64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < lineNumberWidth) digits.insert(0, lineNumberWidth - digits.size(), '0');
    return digits;
}

}  // namespace

std::string formatLineNumber(std::int32_t number) { return paddedNumber(number) + std::string(afterLineNumber); }

// ---- Generator ------------------------------------------------------------

Generator::Generator(OutputMode mode, bool lineNumbers, TextEncoding pageEncoding)
    : mode(mode), encoding(pageEncoding) {
    if (mode == OutputMode::STYLE || mode == OutputMode::CLASS) {
        std::string_view meta = pageEncoding == TextEncoding::UTF8 ? utf8MetaAttributes : cp932MetaAttributes;
        std::string headContent = element("meta", meta, "", false);
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
    prepareSpans();
    tokenRoom_ = spans_.markupRoom();
    lineOpening_ = LineOpening(generator.lineNumberFormatter != nullptr);
    buffers_.emplace_back(expectedSize + generator.headerText.size() + generator.footerText.size());
    if (!withHead) return;
    std::string_view head = generator.headerText;
    // A colour from "color.txt" in the style sheet is UTF-8 like the rest.
    if (generator.encoding == TextEncoding::CP932 && hasNonAscii(head)) {
        lastBuffer().append(encoder_.toCp932(head));
    } else {
        lastBuffer().append(head);
    }
}

Page::Page(Page&&) noexcept = default;

TextEncoding Page::encoding() const { return generator_.encoding; }
Page::~Page() = default;

void Page::prepareSpans() {
    if (generator_.tokenFormatter == nscr::formatStyled) spans_ = nscr::SpanFormat::styled();
    if (generator_.tokenFormatter == nscr::formatClassed) spans_ = nscr::SpanFormat::classed();
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        auto type = static_cast<nscr::TokenType>(i);
        std::string_view opening = spans_.opening(type);
        // Openings are UTF-8 (colours may hold any text): a CP932 page takes
        // them converted, and a page that cannot hold one fails where a
        // token of its type is written.
        if (generator_.encoding == TextEncoding::CP932 && hasNonAscii(opening)) {
            try {
                spans_.replaceOpening(type, encoder_.toCp932(opening));
            } catch (const nscr::Error&) {
                unencodable_[static_cast<std::size_t>(i)] = true;
            }
        }
    }
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        auto type = static_cast<nscr::TokenType>(i);
        special_[static_cast<std::size_t>(i)] = unencodable_[static_cast<std::size_t>(i)] || spans_.hasLongOpening(type);
    }
}

std::size_t Page::tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const {
    return tokens.size() * tokenRoom_ + nscr::escapeRoom(textSize);
}

char* Page::writeSpecialOpening(char* out, nscr::TokenType type) {
    if (unencodable_[static_cast<std::size_t>(type)]) raiseConversionError();
    return put(out, spans_.opening(type));
}

[[gnu::always_inline]] inline char* Page::writeOpening(char* out, nscr::TokenType type) {
    if (special_[static_cast<std::size_t>(type)]) return writeSpecialOpening(out, type);
    return spans_.writeBlockOpening(out, type);
}

// A piece already in the page's encoding; the common case, kept inline in
// the loops.
[[gnu::always_inline]] inline char* Page::writePiece(char* out, nscr::TokenType type, std::string_view piece) {
    out = writeOpening(out, type);
    // Trail bytes lie at 0x40 and above, clear of every byte that is escaped.
    if (piece.size() == 1) {
        out = nscr::writeEscapedByte(out, piece[0]);
    } else if (nscr::needsEscape(type)) {
        out = nscr::escapeTo(out, piece, type);
    } else {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    }
    return spans_.writeClosing(out, type);
}

// A token of UTF-8 text.
char* Page::writeToken(char* out, const nscr::Token& token) {
    if (token.text.empty()) return out;
    if (generator_.encoding == TextEncoding::UTF8)
        return generator_.tokenFormatter == nullptr ? put(out, token.text) : writePiece(out, token.type, token.text);
    return writeEncodedPiece(out, token.type, token.text);
}

// A UTF-8 piece on a CP932 page.
char* Page::writeEncodedPiece(char* out, nscr::TokenType type, std::string_view utf8) {
    out = writeOpening(out, type);
    // A STRING token of more than one byte is a run of text with nothing to
    // escape; a one-byte token may be a character that must be escaped.
    if (type == nscr::TokenType::STRING && utf8.size() > 1) {
        out = encoder_.encodeTo(out, utf8);
    } else {
        char* text = out;
        out = generator_.tokenFormatter == nullptr ? put(out, utf8) : nscr::escapeTo(out, utf8, type);
        if (hasNonAscii(utf8))
            out = encoder_.encodeTo(text, std::string_view(text, static_cast<std::size_t>(out - text)));
    }
    return spans_.writeClosing(out, type);
}

// A CP932 piece on a UTF-8 page: decoded straight into the page. Trail
// bytes never equal an escaped byte, so a piece that needs escaping is
// escaped before it is decoded.
char* Page::writeDecodedPiece(char* out, nscr::TokenType type, std::string_view cp932) {
    if (!decoder_) decoder_ = std::make_unique<Cp932Decoder>();
    // A text page takes the text as it is.
    if (generator_.tokenFormatter == nullptr) return decoder_->decodeTo(out, cp932);
    if (!hasNonAscii(cp932)) return writePiece(out, type, cp932);
    out = writeOpening(out, type);
    if (nscr::needsEscape(type)) {
        scratch_.resize(nscr::escapeRoom(cp932.size()));
        char* end = nscr::escapeTo(scratch_.data(), cp932, type);
        out = decoder_->decodeTo(out, std::string_view(scratch_.data(), static_cast<std::size_t>(end - scratch_.data())));
    } else {
        out = decoder_->decodeTo(out, cp932);
    }
    return spans_.writeClosing(out, type);
}

void Page::openLine(std::int64_t number) {
    nscr::ByteBuffer& buffer = lastBuffer();
    buffer.commit(lineOpening_.writeTo(buffer.room(LineOpening::room), number));
}

// Lines come one after another: once a line's opening is written, it is
// counted up in place for the next line, long before it is read again, so
// that the copy never waits on the bytes just changed. A number that grows
// a digit is made anew.
char* Page::LineOpening::writeTo(char* out, std::int64_t number) {
    if (number != held_ || size_ == 0) build(number);
    const std::size_t size = size_;
    std::memcpy(out, text_, room);
    if (!countUp()) size_ = 0;
    return out + size;
}

// Counts the number up by one; false when it has no room for the carry
// (all nines), and the opening is to be made anew.
bool Page::LineOpening::countUp() {
    if (held_ <= 0) return false;
    char* at = text_ + digits_ - 1;
    while (*at == '9') {
        if (at == text_) return false;
        *at-- = '0';
    }
    ++*at;
    ++held_;
    return true;
}

void Page::LineOpening::build(std::int64_t number) {
    std::string text = paddedNumber(number);
    digits_ = text.size();
    text += afterLineNumber;
    std::memcpy(text_, text.data(), text.size());
    size_ = text.size();
    held_ = number;
}

void Page::addTokens(const nscr::TokenLine& tokens) {
    std::size_t textSize = 0;
    for (const nscr::Token& token : tokens) textSize += token.text.size();
    char* out = lastBuffer().room(tokensRoom(tokens, textSize));
    for (const nscr::Token& token : tokens) out = writeToken(out, token);
    lastBuffer().commit(out);
}

template <typename WritePiece>
std::size_t Page::addPieces(const nscr::TokenLine& tokens, std::string_view bytes, WritePiece writePiece) {
    // Room for the largest a piece may grow to: escaped, or decoded from
    // CP932 (at most three bytes for each byte), whichever is more.
    char* out = lastBuffer().room(tokensRoom(tokens, bytes.size()));
    const char* text = bytes.data();
    // Tokens are never empty: each is at least one byte of the line.
    for (const nscr::Token& token : tokens) {
        out = writePiece(out, token.type, std::string_view(text, token.text.size()));
        text += token.text.size();
    }
    lastBuffer().commit(out);
    return static_cast<std::size_t>(text - bytes.data());
}

std::size_t Page::addLineTokens(const nscr::TokenLine& tokens, std::string_view bytes, TextEncoding encoding) {
    if (generator_.tokenFormatter == nullptr && encoding == generator_.encoding) {
        // A text page takes the bytes as they are.
        std::size_t size = 0;
        for (const nscr::Token& token : tokens) size += token.text.size();
        lastBuffer().append(bytes.substr(0, size));
        return size;
    }
    if (encoding == generator_.encoding)
        return addPieces(tokens, bytes, [this](char* out, nscr::TokenType type, std::string_view piece) {
            return writePiece(out, type, piece);
        });
    if (encoding == TextEncoding::CP932)
        return addPieces(tokens, bytes, [this](char* out, nscr::TokenType type, std::string_view piece) {
            return writeDecodedPiece(out, type, piece);
        });
    return addPieces(tokens, bytes, [this](char* out, nscr::TokenType type, std::string_view piece) {
        return writeEncodedPiece(out, type, piece);
    });
}


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
