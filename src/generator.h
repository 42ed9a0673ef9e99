#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "nscr/byte_buffer.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

enum class OutputMode : std::int32_t { TEXT = 0, STYLE = 1, CLASS = 2 };

using TokenFormatter = std::string (*)(nscr::TokenType, std::string_view);
using LineNumberFormatter = std::string (*)(std::int32_t);

// "0001: " for line 1; numbers of more than four digits are not cut.
std::string formatLineNumber(std::int32_t number);

class Generator;

// One page being gathered: the head, then line after line, each already in
// CP932 and ended with CR LF, then the tail. A page may be held in several
// buffers, one per part it was made of, so that joining parts copies nothing.
class Page {
public:
    // A line of tokens in UTF-8.
    void addLine(const nscr::TokenLine& tokens, std::int64_t number);

    // A line given a batch of tokens at a time, for lines too long to hold
    // all their tokens at once: startLine, add...Tokens as often as needed,
    // then endLine.
    void startLine(std::int64_t number);
    void addTokens(const nscr::TokenLine& tokens);
    // Tokens whose CP932 bytes are at hand: the tokens cut cp932 (which
    // starts with the first token's bytes) into consecutive pieces of their
    // lengths, and each piece is written as it is, escaped where its token's
    // text would be. Gives the number of bytes of cp932 the tokens took.
    std::size_t addCp932Tokens(const nscr::TokenLine& tokens, std::string_view cp932);
    void endLine();

    // Appends the lines of a part made by Generator::startPart, emptying it.
    void appendPart(Page& part);
    // Ends the page with its tail (once) and gives its bytes, in order.
    std::vector<std::string_view> finishedPieces();
    // The finished page as a string; the Page is spent afterwards.
    std::string finish();

private:
    friend class Generator;
    Page(const Generator& generator, std::size_t expectedSize, bool withHead);
    nscr::ByteBuffer& lastBuffer() { return buffers_.back(); }
    std::size_t tokensRoom(const nscr::TokenLine& tokens, std::size_t textSize) const;
    char* writeToken(char* out, const nscr::Token& token);
    char* writeCp932Token(char* out, nscr::TokenType type, std::string_view cp932);

    const Generator& generator_;
    nscr::SpanFormat spans_;
    Cp932Encoder encoder_;
    std::size_t tokenRoom_ = 0;  // markup around one token, at most
    std::vector<nscr::ByteBuffer> buffers_;
    bool finished_ = false;
};

class Generator {
public:
    Generator(OutputMode mode, bool lineNumbers);
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
    bool showsLineNumbers() const { return lineNumberFormatter != nullptr; }

private:
    friend class Page;

    OutputMode mode;
    std::string headerText;
    std::string footerText;
    TokenFormatter tokenFormatter = nullptr;
    LineNumberFormatter lineNumberFormatter = nullptr;
};
