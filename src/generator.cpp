#include "generator.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "html5.h"
#include "nscr/file.h"
#include "nscr/parallel.h"

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

// Line openings, as the literal pieces between copies of the line's number.
// HTML5 pages: the line's element, with its id, and with a link to itself
// that shows its number when numbers are asked for.
std::vector<std::string> html5LinePieces(bool numbers) {
    if (!numbers) return {"<span class=\"l\" id=\"L", "\">"};
    return {"<span class=\"l\" id=\"L", "\"><a class=\"n\" href=\"#L", "\" data-n=\"", "\"></a>"};
}
// "0001: " for 1: at least four digits, then a colon and a blank.
const std::vector<std::string> legacyLinePieces = {"", ": "};
constexpr std::size_t legacyLineWidth = 4;

bool isLabel(nscr::TokenType type) {
    return type == nscr::TokenType::SPECIAL_LABEL || type == nscr::TokenType::LINETOP_LABEL ||
           type == nscr::TokenType::GENERIC_LABEL;
}

std::string html5Opening(nscr::TokenType type) { return "<span class=\"" + std::string(html5::className(type)) + "\">"; }

// The HTML5 page's spans; a label's link opening is written by the page,
// which keeps its place (writeLabelOpening).
nscr::SpanFormat html5Spans() {
    std::array<std::string, nscr::tokenTypeCount> openings, closings;
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        auto type = static_cast<nscr::TokenType>(i);
        bool label = isLabel(type);
        openings[static_cast<std::size_t>(i)] = label ? "" : html5Opening(type);
        closings[static_cast<std::size_t>(i)] = label ? "</a>" : "</span>";
    }
    return nscr::SpanFormat::of(openings, closings);
}

// One token of an HTML5 page built the slow way; labels unlinked.
std::string formatHtml5(nscr::TokenType type, std::string_view text) {
    if (text.empty()) return {};
    std::string escaped = nscr::escapeText(text, type);
    if (isLabel(type)) return "<a class=\"" + std::string(html5::className(type)) + "\">" + escaped + "</a>";
    return html5Opening(type) + escaped + "</span>";
}

}  // namespace

std::string formatLineNumber(std::int32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < legacyLineWidth) digits.insert(0, legacyLineWidth - digits.size(), '0');
    return digits + legacyLinePieces[1];
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
    if (mode == OutputMode::HTML5) {
        footerText = html5::pageClosing();
        tokenFormatter = formatHtml5;
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
    : generator_(generator) {
    prepareSpans();
    tokenRoom_ = spans_.markupRoom();
    bool html5 = generator.mode == OutputMode::HTML5;
    bool numbers = generator.lineNumberFormatter != nullptr;
    if (html5) lineOpening_ = LineOpening(html5LinePieces(numbers), 1);
    if (!html5 && numbers) lineOpening_ = LineOpening(legacyLinePieces, legacyLineWidth);
    std::string_view closing = html5 ? "</span>\n" : "\r\n";
    std::memcpy(lineClosing_, closing.data(), closing.size());
    lineClosingSize_ = closing.size();
    if (html5) reserveLabelRoom(expectedSize);
    if (withHead && html5) {
        // The head stands alone: the label index goes after it once the
        // page is done.
        buffers_.emplace_back().append(html5::pageHead(title, numbers));
        headBuffers_ = 1;
    }
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

// Room for the labels of a page of about expectedSize bytes, at once: a
// large page's are then backed by huge pages from the start, and a small
// page's stay small.
void Page::reserveLabelRoom(std::size_t expectedSize) {
    labels_.reserve(expectedSize / 32 / sizeof(LabelMark));
    labelNames_.reserve(expectedSize / 64);
    indexText_.reserve(expectedSize / 64);
}

Page::Page(Page&&) noexcept = default;

TextEncoding Page::encoding() const { return generator_.encoding; }
Page::~Page() = default;

void Page::prepareSpans() {
    if (generator_.tokenFormatter == nscr::formatStyled) spans_ = nscr::SpanFormat::styled();
    if (generator_.tokenFormatter == nscr::formatClassed) spans_ = nscr::SpanFormat::classed();
    if (generator_.mode == OutputMode::HTML5) spans_ = html5Spans();
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
        special_[static_cast<std::size_t>(i)] = unencodable_[static_cast<std::size_t>(i)] ||
                                                spans_.hasLongOpening(type) ||
                                                (generator_.mode == OutputMode::HTML5 && isLabel(type));
    }
}

std::size_t Page::tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const {
    return tokens.size() * tokenRoom_ + nscr::escapeRoom(textSize);
}

char* Page::writeSpecialOpening(char* out, nscr::TokenType type, std::string_view text) {
    if (unencodable_[static_cast<std::size_t>(type)]) raiseConversionError();
    if (generator_.mode == OutputMode::HTML5 && isLabel(type)) return writeLabelOpening(out, type, text);
    return put(out, spans_.opening(type));
}

namespace {

// A label's link opening as it is most often meant: a definition with the
// id of the first of its name and a link to itself, a reference with a link
// to the definition of its name on the same page.
char* putLowerCase(char* out, std::string_view name) {
    for (char c : name) *out++ = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

// The key of a label ends its opening, before the closing quote and ">".
char* writeLikelyLabelOpening(char* out, nscr::TokenType type, std::string_view name) {
    out = put(out, "<a class=\"");
    out = put(out, html5::className(type));
    out = put(out, "\"");
    if (type != nscr::TokenType::GENERIC_LABEL) {
        out = put(out, " id=\"l-");
        out = putLowerCase(out, name);
        out = put(out, "\"");
    }
    out = put(out, " href=\"#l-");
    out = putLowerCase(out, name);
    return put(out, "\">");
}

}  // namespace

// A label's link is written as it is likely to be, and the place is kept:
// once the page knows all its labels, the few that are otherwise are put
// right.
char* Page::writeLabelOpening(char* out, nscr::TokenType type, std::string_view text) {
    std::string_view name = text.substr(1);
    // The mark is written where it is kept, field by field, and nothing
    // just written is read back: the line's text is read instead.
    LabelMark& mark = labels_.emplace_back();
    mark.buffer = buffers_.size() - 1;
    mark.offset = static_cast<std::size_t>(out - lastBuffer().view().data());
    mark.nameSize = static_cast<std::uint32_t>(name.size());
    mark.line = lineNumber_;
    mark.definition = type != nscr::TokenType::GENERIC_LABEL;
    // A definition stands at the line top: all the line holds before it is
    // the span of its leading blanks, if any.
    if (mark.definition) {
        std::size_t before = mark.offset - lineStart_;
        std::size_t spanMarkup = spans_.opening(nscr::TokenType::SPACE).size() + spans_.closing(nscr::TokenType::SPACE).size();
        mark.column = before > spanMarkup ? before - spanMarkup : 0;
    }
    mark.type = type;
    char* end = writeLikelyLabelOpening(out, type, name);
    mark.length = static_cast<std::uint32_t>(end - out);
    mark.nameOffset = labelNames_.size();
    mark.hash = labelHash(name);
    char* names = put(labelNames_.room(2 * name.size()), name);
    labelNames_.commit(putLowerCase(names, name));
    if (mark.definition) addIndexEntry(mark);
    return end;
}

// A definition's entry in the label index, written as the definition is:
// it is taken for the first of its name, which it nearly always is.
void Page::addIndexEntry(const LabelMark& mark) {
    indexId_.clear();
    appendLabelId(indexId_, labelKey(mark), 1);
    std::string_view name = labelName(mark);
    char* out = indexText_.room(html5::indexEntryRoom(name.size(), indexId_.size(), 0));
    indexText_.commit(html5::writeIndexEntry(out, name, indexId_, mark.line, ""));
}

std::string_view Page::labelName(const LabelMark& mark) const {
    return labelNames_.view().substr(mark.nameOffset, mark.nameSize);
}

std::string_view Page::labelKey(const LabelMark& mark) const {
    return labelNames_.view().substr(mark.nameOffset + mark.nameSize, mark.nameSize);
}

PageLabels Page::labelDefinitions() const { return PageLabels(labels_, labelNames_.view()); }

[[gnu::always_inline]] inline char* Page::writeOpening(char* out, nscr::TokenType type, std::string_view text) {
    if (special_[static_cast<std::size_t>(type)]) return writeSpecialOpening(out, type, text);
    return spans_.writeBlockOpening(out, type);
}

// A piece already in the page's encoding; the common case, kept inline in
// the loops.
[[gnu::always_inline]] inline char* Page::writePiece(char* out, nscr::TokenType type, std::string_view piece) {
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

// A token of UTF-8 text.
char* Page::writeToken(char* out, const nscr::Token& token) {
    if (token.text.empty()) return out;
    if (generator_.encoding == TextEncoding::UTF8)
        return generator_.tokenFormatter == nullptr ? put(out, token.text) : writePiece(out, token.type, token.text);
    return writeEncodedPiece(out, token.type, token.text);
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

// A CP932 piece on a UTF-8 page: decoded straight into the page. Trail
// bytes never equal an escaped byte, so a piece that needs escaping is
// escaped before it is decoded.
char* Page::writeDecodedPiece(char* out, nscr::TokenType type, std::string_view cp932) {
    if (!decoder_) decoder_ = std::make_unique<Cp932Decoder>();
    // A text page takes the text as it is.
    if (generator_.tokenFormatter == nullptr) return decoder_->decodeTo(out, cp932);
    if (!hasNonAscii(cp932)) return writePiece(out, type, cp932);
    out = writeOpening(out, type, cp932);
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
    lineStart_ = buffer.size();
}

Page::LineOpening::LineOpening(std::vector<std::string> pieces, std::size_t width)
    : pieces_(std::move(pieces)), width_(width) {}

// Lines come one after another: once a line's opening is written, it is
// counted up in place for the next line (each copy of the number plus one),
// long before it is read again, so that the copy never waits on the bytes
// just changed. A number that grows a digit is made anew.
char* Page::LineOpening::writeTo(char* out, std::int64_t number) {
    if (number != held_ || size_ == 0) build(number);
    const std::size_t size = size_;
    // One copy of fixed size, short for the usual opening.
    constexpr std::size_t shortCopy = 32;
    if (size <= shortCopy) {
        std::memcpy(out, text_, shortCopy);
    } else {
        std::memcpy(out, text_, room);
    }
    if (!countUp()) size_ = 0;
    return out + size;
}

// Counts each copy of the number up by one; false when it has no room for
// the carry (all nines), and the opening is to be made anew.
bool Page::LineOpening::countUp() {
    if (held_ <= 0) return false;
    const std::size_t digits = digits_, copies = numberCopies_;
    for (std::size_t copy = 0; copy < copies; ++copy) {
        char* const first = text_ + numberEnds_[copy] - digits;
        char* at = first + digits - 1;
        while (*at == '9') {
            if (at == first) return false;
            *at-- = '0';
        }
        ++*at;
    }
    ++held_;
    return true;
}

void Page::LineOpening::build(std::int64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
    std::string text = pieces_[0];
    numberCopies_ = 0;
    for (std::size_t k = 1; k < pieces_.size(); ++k) {
        text += digits;
        numberEnds_.at(numberCopies_++) = text.size();
        text += pieces_[k];
    }
    // Line numbers have at most nineteen digits: the pieces are short.
    if (text.size() > sizeof text_) throw std::length_error("line opening");
    std::memcpy(text_, text.data(), text.size());
    size_ = text.size();
    digits_ = digits.size();
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
    part.finishPart();
    std::size_t firstLabel = labels_.size();
    for (IndexSlice& slice : part.indexSlices_)
        indexSlices_.push_back({std::move(slice.text), firstLabel + slice.firstLabel, firstLabel + slice.endLabel});
    part.indexSlices_.clear();
    labels_.appendShifted(part.labels_, buffers_.size(), labelNames_.size());
    labelNames_.append(part.labelNames_.view());
    part.labelNames_.clear();
    for (nscr::ByteBuffer& buffer : part.buffers_) buffers_.push_back(std::move(buffer));
    lineCount_ += part.lineCount_;
    part.labels_.clear();
    part.buffers_.clear();
    part.buffers_.emplace_back();
    part.lineCount_ = 0;
}

std::vector<std::string_view> Page::finishedPieces(const LabelDirectory* others, const std::string& pagePath) {
    if (!finished_) lastBuffer().append(generator_.footer());
    if (!finished_ && generator_.mode == OutputMode::HTML5) openLabels(others, pagePath);
    finished_ = true;
    if (generator_.mode == OutputMode::HTML5) return html5Pieces();
    std::vector<std::string_view> pieces;
    for (const nscr::ByteBuffer& buffer : buffers_) pieces.push_back(buffer.view());
    return pieces;
}

namespace {

// The link of a page from the directory of another, as a relative URL.
std::string pageLinkFrom(const std::string& page, const std::string& fromPage) {
    namespace fs = std::filesystem;
    fs::path from = fs::absolute(fs::path(fromPage)).lexically_normal().parent_path();
    fs::path to = fs::absolute(fs::path(page)).lexically_normal();
    return html5::hrefOfFile(to.lexically_relative(from).generic_string());
}

// A label's link opening, appended to out: a definition with its id and a
// link to itself, a reference with a link to the first definition of its
// name on the page at pageLink.
void appendLabelOpening(std::string& out, const LabelMark& mark, const PageLabels& definitions,
                        std::string_view pageLink, std::size_t k) {
    std::string_view key = definitions.key(k);
    out += "<a class=\"";
    out += html5::className(mark.type);
    out += '"';
    std::size_t idStart = out.size() + 5;
    if (mark.definition) {
        out += " id=\"";
        appendLabelId(out, key, definitions.ordinal(k));
        out += '"';
    }
    std::size_t idEnd = out.size() - 1;
    out += " href=\"";
    out += pageLink;
    out += '#';
    if (mark.definition) {
        out.append(out, idStart, idEnd - idStart);
    } else {
        appendLabelId(out, key, 1);
    }
    out += "\">";
}

}  // namespace

// Puts right the label openings that are not as they were written: a
// definition of a name defined before gets an id of its own, a reference
// to a name defined on another page of the run links there, and one to a
// name defined nowhere loses its link (in place). Also makes the label
// index.
void Page::openLabels(const LabelDirectory* others, const std::string& pagePath) {
    PageLabels definitions = labelDefinitions();
    finishIndex(definitions);
    replacements_.clear();
    for (std::size_t k : labelsToReopen(definitions, others)) {
        const LabelMark& mark = labels_[k];
        const LabelDirectory::Target* target = mark.definition ? nullptr : others->find(definitions.key(k));
        std::size_t start = finishing_.size();
        appendLabelOpening(finishing_, mark, definitions, target ? pageLinkFrom(target->page, pagePath) : "", k);
        replacements_.push_back({k, start, finishing_.size()});
    }
}

// The labels whose openings are to be put right, in page order; a reference
// to a name defined nowhere is unlinked on the way. A page of many labels is
// looked through in slices side by side.
std::vector<std::size_t> Page::labelsToReopen(const PageLabels& definitions, const LabelDirectory* others) {
    constexpr std::size_t leastSlice = 1u << 14;
    const std::size_t count = labels_.size();
    const std::size_t slices = std::clamp<std::size_t>(count / leastSlice, 1, nscr::processorCount());
    std::vector<std::vector<std::size_t>> found(slices);
    nscr::runSideBySide(slices, [&](std::size_t slice) {
        for (std::size_t k = count * slice / slices; k < count * (slice + 1) / slices; ++k) {
            const LabelMark& mark = labels_[k];
            if (mark.definition) {
                if (definitions.ordinal(k) > 1) found[slice].push_back(k);
            } else if (definitions.firstDefinition(k) == nullptr) {
                if (others != nullptr && others->find(definitions.key(k)) != nullptr) {
                    found[slice].push_back(k);
                } else {
                    unlinkInPlace(mark);
                }
            }
        }
    });
    for (std::size_t slice = 1; slice < slices; ++slice) found[0].insert(found[0].end(), found[slice].begin(), found[slice].end());
    return std::move(found[0]);
}

void Page::finishPart() {
    if (generator_.mode != OutputMode::HTML5) return;
    std::size_t first = indexSlices_.empty() ? 0 : indexSlices_.back().endLabel;
    if (first == labels_.size()) return;
    indexSlices_.push_back({std::exchange(indexText_, nscr::ByteBuffer()), first, labels_.size()});
}

// The index entries of the slice's definitions; without definitions at hand,
// each is taken for the first of its name.
void Page::appendIndexEntries(IndexSlice& slice, const PageLabels* definitions) {
    // Room for all entries at once: an id is "l-", the key, and at most "-"
    // and ten digits.
    std::size_t room = 0;
    for (std::size_t k = slice.firstLabel; k < slice.endLabel; ++k)
        if (labels_[k].definition) room += html5::indexEntryRoom(labels_[k].nameSize, labels_[k].nameSize + 13, 0);
    slice.text.clear();
    char* out = slice.text.room(room);
    std::string id;
    for (std::size_t k = slice.firstLabel; k < slice.endLabel; ++k) {
        const LabelMark& mark = labels_[k];
        if (!mark.definition) continue;
        id.clear();
        appendLabelId(id, labelKey(mark), definitions ? definitions->ordinal(k) : 1);
        out = html5::writeIndexEntry(out, labelName(mark), id, mark.line, "");
    }
    slice.text.commit(out);
}

// The index's opening and closing around the slices made part by part; a
// slice with a name defined again is made anew, now that its ordinals are
// known.
void Page::finishIndex(const PageLabels& definitions) {
    finishPart();
    std::size_t count = 0;
    for (IndexSlice& slice : indexSlices_) {
        bool repeated = false;
        for (std::size_t k = slice.firstLabel; k < slice.endLabel; ++k) {
            count += labels_[k].definition ? 1 : 0;
            repeated = repeated || definitions.ordinal(k) > 1;
        }
        if (repeated) appendIndexEntries(slice, &definitions);
    }
    finishing_.clear();
    if (count != 0) html5::appendIndexOpening(finishing_, count);
    indexOpeningEnd_ = finishing_.size();
    if (count != 0) html5::appendIndexClosing(finishing_);
    finishing_ += html5::codeOpening();
    indexEnd_ = finishing_.size();
}

// A reference's link turned, in place, into the name it goes to:
// ` href="#l-key"` becomes ` data-to="key"`, of the same length.
void Page::unlinkInPlace(const LabelMark& mark) {
    constexpr std::string_view link = " href=\"#l-", target = " data-to=\"";
    static_assert(link.size() == target.size());
    std::size_t attribute = std::string_view("<a class=\"\"").size() + html5::className(mark.type).size();
    std::memcpy(buffers_[mark.buffer].data() + mark.offset + attribute, target.data(), target.size());
}

// The head, the label index and the code's opening, then the buffers with
// the openings that were put right in their places.
std::vector<std::string_view> Page::html5Pieces() const {
    std::string_view finishing = finishing_;
    std::vector<std::string_view> pieces;
    for (std::size_t b = 0; b < headBuffers_; ++b) pieces.push_back(buffers_[b].view());
    pieces.push_back(finishing.substr(0, indexOpeningEnd_));
    for (const IndexSlice& slice : indexSlices_) pieces.push_back(slice.text.view());
    pieces.push_back(finishing.substr(indexOpeningEnd_, indexEnd_ - indexOpeningEnd_));
    std::size_t next = 0;
    for (std::size_t b = headBuffers_; b < buffers_.size(); ++b) {
        std::string_view buffer = buffers_[b].view();
        std::size_t from = 0;
        for (; next < replacements_.size() && labels_[replacements_[next].mark].buffer == b; ++next) {
            const Replacement& replacement = replacements_[next];
            const LabelMark& mark = labels_[replacement.mark];
            pieces.push_back(buffer.substr(from, mark.offset - from));
            pieces.push_back(finishing.substr(replacement.begin, replacement.end - replacement.begin));
            from = mark.offset + mark.length;
        }
        pieces.push_back(buffer.substr(from));
    }
    return pieces;
}

std::string Page::finish() {
    std::string page;
    for (std::string_view piece : finishedPieces()) page += piece;
    return page;
}
