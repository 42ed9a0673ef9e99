#include "generator.h"

#include <algorithm>
#include <charconv>
#include <cstring>

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

Page Generator::startPage(std::size_t expectedSize, std::string_view title) const {
    return Page(*this, expectedSize, true, title);
}

Page Generator::startPart(std::size_t expectedSize) const { return Page(*this, expectedSize, false, {}); }

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

Page::Page(const Generator& generator, std::size_t expectedSize, bool withHead, std::string_view title)
    : generator_(generator), title_(title) {
    prepareSpans();
    tokenRoom_ = spans_.markupRoom();
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

char* Page::writeSpecialOpening(char* out, nscr::TokenType type, std::string_view /*text*/) {
    if (unencodable_[static_cast<std::size_t>(type)]) raiseConversionError();
    return put(out, spans_.opening(type));
}

char* Page::writeOpening(char* out, nscr::TokenType type, std::string_view text) {
    if (special_[static_cast<std::size_t>(type)]) return writeSpecialOpening(out, type, text);
    return spans_.writeOpening(out, type);
}

// A token of UTF-8 text.
char* Page::writeToken(char* out, const nscr::Token& token) {
    if (token.text.empty()) return out;
    if (generator_.encoding == TextEncoding::UTF8) return writePiece(out, token.type, token.text);
    return writeEncodedPiece(out, token.type, token.text);
}

// A piece already in the page's encoding.
char* Page::writePiece(char* out, nscr::TokenType type, std::string_view piece) {
    out = writeOpening(out, type, piece);
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

// A UTF-8 piece on a CP932 page.
char* Page::writeEncodedPiece(char* out, nscr::TokenType type, std::string_view utf8) {
    out = writeOpening(out, type, utf8);
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

// A CP932 piece on a UTF-8 page.
char* Page::writeDecodedPiece(char* out, nscr::TokenType type, std::string_view cp932) {
    if (!hasNonAscii(cp932)) return writePiece(out, type, cp932);
    scratch_.clear();
    if (!decoder_) decoder_ = std::make_unique<Cp932Decoder>();
    decoder_->appendUtf8(scratch_, cp932);
    return writePiece(out, type, scratch_);
}

void Page::startLine(std::int64_t number) {
    lineNumber_ = number;
    ++lineCount_;
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

void Page::endLine() { lastBuffer().append("\r\n"); }

void Page::addLine(const nscr::TokenLine& tokens, std::int64_t number) {
    startLine(number);
    addTokens(tokens);
    endLine();
}

void Page::appendPart(Page& part) {
    for (LabelMark& mark : part.labels_) {
        mark.buffer += buffers_.size();
        labels_.push_back(std::move(mark));
    }
    for (nscr::ByteBuffer& buffer : part.buffers_) buffers_.push_back(std::move(buffer));
    lineCount_ += part.lineCount_;
    part.labels_.clear();
    part.buffers_.clear();
    part.buffers_.emplace_back();
    part.lineCount_ = 0;
}

std::vector<std::string_view> Page::finishedPieces(const LabelDirectory* /*others*/) {
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
