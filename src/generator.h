#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "nscr/byte_buffer.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

// TEXT: the script's text; STYLE: spans with inline styles; CLASS: spans
// with class attributes and a style sheet.
enum class OutputMode : std::int32_t { TEXT = 0, STYLE = 1, CLASS = 2 };

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
        char* out = lastBuffer().room(2);
        out[0] = '\r';
        out[1] = '\n';
        lastBuffer().commit(out + 2);
    }

    // Appends the lines of a part made by Generator::startPart, emptying it.
    void appendPart(Page& part);
    // Ends the page with its tail (once) and gives its bytes, in order.
    std::vector<std::string_view> finishedPieces();
    // The finished page as a string; the Page is spent afterwards.
    std::string finish();
    TextEncoding encoding() const;

private:
    friend class Generator;
    Page(const Generator& generator, std::size_t expectedSize, bool withHead);
    nscr::ByteBuffer& lastBuffer() { return buffers_.back(); }
    void prepareSpans();
    std::size_t tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const;
    char* writeToken(char* out, const nscr::Token& token);
    char* writeOpening(char* out, nscr::TokenType type);
    char* writeSpecialOpening(char* out, nscr::TokenType type);
    char* writePiece(char* out, nscr::TokenType type, std::string_view piece);
    char* writeDecodedPiece(char* out, nscr::TokenType type, std::string_view cp932);
    char* writeEncodedPiece(char* out, nscr::TokenType type, std::string_view utf8);
    void openLine(std::int64_t number);
    template <typename WritePiece>
    std::size_t addPieces(const nscr::TokenLine& tokens, std::string_view bytes, WritePiece writePiece);

    const Generator& generator_;
    nscr::SpanFormat spans_;
    // Types whose openings are not a plain block: too long, or not to be had
    // in the page's encoding.
    std::array<bool, nscr::tokenTypeCount> special_{};
    std::array<bool, nscr::tokenTypeCount> unencodable_{};
    Cp932Encoder encoder_;
    std::unique_ptr<Cp932Decoder> decoder_;  // for CP932 bytes on a UTF-8 page
    std::string scratch_;
    std::size_t tokenRoom_ = 0;  // markup around one token, at most
    std::vector<nscr::ByteBuffer> buffers_;
    // The number in front of the line being written ("0001: "), kept ready
    // to copy and counted up in place from one line to the next.
    class LineOpening {
    public:
        // Copied whole: a number has at most 20 characters, then ": ".
        static constexpr std::size_t room = 32;
        explicit LineOpening(bool shown = false) : shown_(shown) {}
        bool empty() const { return !shown_; }
        // Writes the opening of line `number` at out, which has `room`
        // bytes, and gives its end.
        char* writeTo(char* out, std::int64_t number);

    private:
        void build(std::int64_t number);
        bool countUp();
        bool shown_ = false;
        char text_[room] = {};
        std::size_t size_ = 0;  // 0: to be made anew
        std::size_t digits_ = 0;
        std::int64_t held_ = 0;  // the number text_ holds
    };
    LineOpening lineOpening_;
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
    // Starts a page; expectedSize is a guess at its size in bytes.
    Page startPage(std::size_t expectedSize = 0) const;
    // Starts a part of a page, lines without the head, for Page::appendPart.
    // Pages and parts of one generator may be filled on different threads.
    Page startPart(std::size_t expectedSize = 0) const;

    OutputMode outputMode() const { return mode; }
    TextEncoding pageEncoding() const { return encoding; }
    bool showsLineNumbers() const { return lineNumberFormatter != nullptr; }

private:
    friend class Page;

    OutputMode mode;
    TextEncoding encoding;
    std::string headerText;
    std::string footerText;
    TokenFormatter tokenFormatter = nullptr;
    LineNumberFormatter lineNumberFormatter = nullptr;
};
