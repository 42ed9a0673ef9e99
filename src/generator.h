#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "labels.h"
#include "nscr/byte_buffer.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

// TEXT, STYLE and CLASS make the legacy page; HTML5 the page for reading in
// a browser (UTF-8, line and label links, a label index, a dark scheme).
enum class OutputMode : std::int32_t { TEXT = 0, STYLE = 1, CLASS = 2, HTML5 = 3 };

using TokenFormatter = std::string (*)(nscr::TokenType, std::string_view);
using LineNumberFormatter = std::string (*)(std::int32_t);

// "0001: " for line 1; numbers of more than four digits are not cut.
std::string formatLineNumber(std::int32_t number);

class Generator;

// One page being gathered: the head, then line after line, each already in
// the page's encoding and ended, then the tail. A page may be held in several
// buffers, one per part it was made of, so that joining parts copies nothing.
class Page {
public:
    Page(Page&&) noexcept;
    Page& operator=(Page&&) = delete;
    ~Page();

    // A line of tokens in UTF-8.
    void addLine(const nscr::TokenLine& tokens, std::int64_t number);

    // A line given a batch of tokens at a time, for lines too long to hold
    // all their tokens at once: startLine, add...Tokens as often as needed,
    // then endLine.
    void startLine(std::int64_t number) {
        lineNumber_ = number;
        ++lineCount_;
        if (!lineOpening_.empty()) openLine(number);
    }
    // Tokens whose texts are UTF-8.
    void addTokens(const nscr::TokenLine& tokens);
    // Tokens whose bytes are at hand in the given encoding: the tokens cut
    // bytes (which starts with the first token's bytes) into consecutive
    // pieces of their lengths, and each piece is written in the page's
    // encoding, escaped where its token's text would be. Gives the number of
    // bytes the tokens took.
    std::size_t addLineTokens(const nscr::TokenLine& tokens, std::string_view bytes, TextEncoding encoding);
    void endLine() {
        // One copy of fixed size: cheaper than one of the exact size.
        char* out = lastBuffer().room(sizeof lineClosing_);
        std::memcpy(out, lineClosing_, sizeof lineClosing_);
        lastBuffer().commit(out + lineClosingSize_);
    }

    // Appends the lines of a part made by Generator::startPart, emptying it.
    void appendPart(Page& part);
    // The labels met so far, in script order (HTML5 pages).
    const LabelMarks& labels() const { return labels_; }
    std::string_view labelName(const LabelMark& mark) const;
    std::string_view labelKey(const LabelMark& mark) const;
    // The page's label definitions, by name.
    PageLabels labelDefinitions() const;
    // Ends the page with its tail (once) and gives its bytes, in order. A
    // label reference is linked to a label of this page, else to one of
    // others (pages of the same run), else not at all.
    // pagePath is where the page goes, for links into other pages.
    std::vector<std::string_view> finishedPieces(const LabelDirectory* others = nullptr,
                                                 const std::string& pagePath = {});
    // The finished page as a string; the Page is spent afterwards.
    std::string finish();
    std::int64_t lineCount() const { return lineCount_; }
    // Says that the lines of this page or part are all written: what can be
    // made of them alone is made now, on the thread that wrote them.
    void finishPart();
    TextEncoding encoding() const;

private:
    friend class Generator;
    Page(const Generator& generator, std::size_t expectedSize, bool withHead, std::string_view title);
    nscr::ByteBuffer& lastBuffer() { return buffers_.back(); }
    void prepareSpans();
    void reserveLabelRoom(std::size_t expectedSize);
    std::size_t tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const;
    char* writeToken(char* out, const nscr::Token& token);
    char* writeOpening(char* out, nscr::TokenType type, std::string_view text);
    char* writeSpecialOpening(char* out, nscr::TokenType type, std::string_view text);
    char* writePiece(char* out, nscr::TokenType type, std::string_view piece);
    char* writeDecodedPiece(char* out, nscr::TokenType type, std::string_view cp932);
    char* writeEncodedPiece(char* out, nscr::TokenType type, std::string_view utf8);
    void openLine(std::int64_t number);
    char* writeLabelOpening(char* out, nscr::TokenType type, std::string_view text);
    void openLabels(const LabelDirectory* others, const std::string& pagePath);
    std::vector<std::size_t> labelsToReopen(const PageLabels& definitions, const LabelDirectory* others);
    struct IndexSlice {
        nscr::ByteBuffer text;  // the index entries of labels [firstLabel, endLabel)
        std::size_t firstLabel, endLabel;
    };
    void appendIndexEntries(IndexSlice& slice, const PageLabels* definitions);
    void addIndexEntry(const LabelMark& mark);
    void finishIndex(const PageLabels& definitions);
    void unlinkInPlace(const LabelMark& mark);
    std::vector<std::string_view> html5Pieces() const;
    template <typename WritePiece>
    std::size_t addPieces(const nscr::TokenLine& tokens, std::string_view bytes, WritePiece writePiece);

    const Generator& generator_;
    nscr::SpanFormat spans_;
    // Types whose openings are not a plain block: too long, not to be had in
    // the page's encoding, or a label's link.
    std::array<bool, nscr::tokenTypeCount> special_{};
    std::array<bool, nscr::tokenTypeCount> unencodable_{};
    Cp932Encoder encoder_;
    std::unique_ptr<Cp932Decoder> decoder_;  // for CP932 bytes on a UTF-8 page
    std::string scratch_;
    std::size_t tokenRoom_ = 0;  // markup around one token, at most
    std::vector<nscr::ByteBuffer> buffers_;
    // The opening of the line being written, kept ready to copy: the
    // literal pieces of its format with the line's number between them (at
    // least `width` digits, zeros in front), counted up in place from one
    // line to the next.
    class LineOpening {
    public:
        static constexpr std::size_t room = 192;  // copied whole: at most this much is written
        LineOpening() = default;
        LineOpening(std::vector<std::string> pieces, std::size_t width);
        bool empty() const { return pieces_.empty(); }
        // Writes the opening of line `number` at out, which has `room`
        // bytes, and gives its end.
        char* writeTo(char* out, std::int64_t number);

    private:
        void build(std::int64_t number);
        bool countUp();
        std::vector<std::string> pieces_;  // the number goes between each two
        std::size_t width_ = 0;
        char text_[room] = {};
        std::size_t size_ = 0;
        std::array<std::size_t, 4> numberEnds_{};  // where each copy of the number ends in text_
        std::size_t numberCopies_ = 0;
        std::size_t digits_ = 0;
        std::int64_t held_ = 0;  // the number text_ holds
    };
    LineOpening lineOpening_;
    char lineClosing_[16] = {};  // "\r\n", or the line element's end
    std::size_t lineClosingSize_ = 0;
    std::size_t headBuffers_ = 0;  // buffers that hold the head alone
    LabelMarks labels_;
    nscr::ByteBuffer labelNames_;  // each label's name, then its key, one label after another
    std::int64_t lineNumber_ = 0;  // of the line being written
    std::int64_t lineCount_ = 0;
    std::size_t lineStart_ = 0;    // where the line's text starts in the last buffer (HTML5 pages)
    // The label index made a part at a time, each on its part's thread.
    std::vector<IndexSlice> indexSlices_;
    nscr::ByteBuffer indexText_;  // the index entries of the labels since the last slice
    std::string indexId_;         // scratch for an entry's id
    // The label index's opening (up to indexOpeningEnd_), its closing and the
    // code's opening (up to indexEnd_), then the label openings put in place
    // of those written, each a replacement.
    std::size_t indexOpeningEnd_ = 0;
    struct Replacement {
        std::size_t mark;        // index in labels_
        std::size_t begin, end;  // in finishing_
    };
    std::string finishing_;
    std::size_t indexEnd_ = 0;
    std::vector<Replacement> replacements_;
    bool finished_ = false;
};

class Generator {
public:
    Generator(OutputMode mode, bool lineNumbers, TextEncoding pageEncoding = TextEncoding::CP932);
    virtual ~Generator() = default;
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;

    // Builds the page of the token lines and writes it to outputName.
    virtual void generate(const std::string& outputName, const std::vector<nscr::TokenLine>& lines);
    virtual std::string header() const { return headerText; }
    virtual std::string footer() const { return footerText; }
    virtual std::string formatToken(const nscr::Token& token) const;
    virtual std::string lineNumber(std::int32_t number) const;
    virtual std::string element(std::string_view tag, std::string_view attributes, std::string_view content,
                                bool block) const;

    // The page of the token lines, in memory.
    std::string render(const std::vector<nscr::TokenLine>& lines);
    // Starts a page; expectedSize is a guess at its size in bytes, title the
    // script's name (HTML5 pages show it).
    Page startPage(std::size_t expectedSize = 0, std::string_view title = {}) const;
    // Starts a part of a page, lines without the head, for Page::appendPart.
    // Pages and parts of one generator may be filled on different threads.
    Page startPart(std::size_t expectedSize = 0) const;

    OutputMode outputMode() const { return mode; }
    TextEncoding pageEncoding() const { return encoding; }
    bool showsLineNumbers() const { return lineNumberFormatter != nullptr; }
    // Whether a part must know the number of its first line.
    bool numbersLines() const { return showsLineNumbers() || mode == OutputMode::HTML5; }

private:
    friend class Page;

    OutputMode mode;
    TextEncoding encoding;
    std::string headerText;
    std::string footerText;
    TokenFormatter tokenFormatter = nullptr;
    LineNumberFormatter lineNumberFormatter = nullptr;
};
