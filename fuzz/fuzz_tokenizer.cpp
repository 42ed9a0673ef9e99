// The line tokenizer on arbitrary bytes. An accepted line must come back
// whole from its tokens, cut only at sensible places; a rejected line must
// carry one of the tokenizer's fixed messages. The all-lines form must agree
// with the one-line form line by line. The lenient cutter must never throw,
// must give back the whole line, and must agree with the strict one wherever
// that accepts the line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "nscr/error.h"
#include "nscr/token.h"

namespace {

bool isCommandType(nscr::TokenType type) {
    return type == nscr::TokenType::DEFINE_COMMAND || type == nscr::TokenType::EXECUTE_COMMAND ||
           type == nscr::TokenType::COMMON_COMMAND;
}

void checkTokens(std::string_view line, const nscr::TokenLine& tokens) {
    std::size_t offset = 0;
    for (const nscr::Token& token : tokens) {
        auto type = static_cast<std::int32_t>(token.type);
        fuzz::require(type >= 0 && type < nscr::tokenTypeCount, "token type outside 0..25");
        fuzz::require(!token.text.empty(), "empty token");
        fuzz::require(line.substr(offset, token.text.size()) == token.text, "token texts do not give the line back",
                      token.text);
        if (offset > 0) {
            auto before = static_cast<unsigned char>(line[offset - 1]);
            auto after = static_cast<unsigned char>(line[offset]);
            fuzz::require(before < 0x80 || after < 0x80, "token boundary inside a non-ASCII run");
        }
        // Command types come only from the table, and a listed symbol never stays a symbol.
        auto listed = nscr::reservedCommands.find(token.text);
        if (isCommandType(token.type))
            fuzz::require(listed != nscr::reservedCommands.end() && listed->second == token.type,
                          "command type not taken from the table", token.text);
        if (token.type == nscr::TokenType::SYMBOL)
            fuzz::require(listed == nscr::reservedCommands.end(), "listed command left a SYMBOL", token.text);
        offset += token.text.size();
    }
    fuzz::require(offset == line.size(), "token texts are shorter than the line");
}

// Tokenizes one line; true when it was accepted.
bool checkLine(std::string_view line, std::string* message = nullptr) {
    try {
        nscr::TokenLine tokens = nscr::parseToToken(line);
        checkTokens(line, tokens);
        return true;
    } catch (const nscr::Error& error) {
        fuzz::require(fuzz::isTokenizerMessage(error.what(), fuzz::hasZeroAfterParenthesis(line)), "unknown tokenizer message", error.what());
        if (message != nullptr) *message = error.what();
        return false;
    } catch (...) {
        fuzz::fail("tokenizer raised something other than nscr::Error");
    }
}

struct FaultList final : nscr::TokenFaultSink {
    std::vector<nscr::TokenFault> faults;
    void recovered(const nscr::TokenFault& fault) override { faults.push_back(fault); }
};

// The lenient cutter in batches of `most` tokens; it must never throw.
nscr::TokenLine cutLenient(std::string_view line, FaultList& sink, std::size_t most) {
    nscr::TokenLine all, batch;
    try {
        nscr::TokenCutter cutter(line, &sink);
        while (cutter.cutNext(batch, most)) all.insert(all.end(), batch.begin(), batch.end());
    } catch (...) {
        fuzz::fail("lenient tokenizer raised an exception");
    }
    return all;
}

// Each fault stands on a one-byte ASCII token, in line order, with a known message.
void checkFaults(std::string_view line, const nscr::TokenLine& tokens, const FaultList& sink) {
    std::size_t offset = 0, next = 0;
    for (const nscr::Token& token : tokens) {
        if (next < sink.faults.size() && sink.faults[next].column == offset) {
            fuzz::require(token.type == nscr::TokenType::ASCII && token.text.size() == 1,
                          "a fault is not recovered as a one-byte ASCII token", token.text);
            fuzz::require(static_cast<unsigned char>(token.text[0]) < 0x80, "recovered byte is not ASCII");
            fuzz::require(fuzz::isTokenizerMessage(sink.faults[next].message), "unknown fault message",
                          sink.faults[next].message);
            ++next;
        }
        offset += token.text.size();
    }
    fuzz::require(next == sink.faults.size(), "a fault column is not the start of a token, or out of order");
    fuzz::require(offset == line.size(), "lenient tokens do not cover the line");
}

// Strict's first fault as column and message: the message read through what(),
// so cut at a zero byte as strict's is.
bool sameFault(const nscr::TokenFault& fault, const nscr::TokenError& error) {
    std::string_view message = fault.message.substr(0, fault.message.find('\0'));
    return fault.column == error.column() && message == error.message();
}

// Lenient equals strict where strict accepts; where strict fails, lenient's
// first fault is strict's error. Cutting in batches changes nothing.
void checkLenient(std::string_view line) {
    FaultList sink;
    nscr::TokenLine tokens = cutLenient(line, sink, SIZE_MAX);
    checkTokens(line, tokens);
    checkFaults(line, tokens, sink);
    FaultList batchedSink;
    nscr::TokenLine batched = cutLenient(line, batchedSink, 1 + line.size() % 5);
    fuzz::require(batched == tokens && batchedSink.faults.size() == sink.faults.size(),
                  "lenient tokens differ when cut in batches");
    try {
        nscr::TokenLine strict = nscr::parseToToken(line);
        fuzz::require(sink.faults.empty(), "lenient reports a fault on a line strict accepts");
        fuzz::require(strict == tokens, "lenient tokens differ from strict on an accepted line");
    } catch (const nscr::TokenError& error) {
        fuzz::require(!sink.faults.empty() && sameFault(sink.faults.front(), error),
                      "lenient's first fault is not strict's error", error.what());
    } catch (...) {
        fuzz::fail("strict tokenizer raised something other than TokenError");
    }
}

std::vector<std::string> splitAtLineFeeds(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

void checkAllLines(const std::vector<std::string>& lines) {
    std::vector<nscr::TokenLine> result;
    try {
        result = nscr::parseToToken(lines);
    } catch (const nscr::Error& error) {
        std::string_view message = error.what();
        std::size_t index = 0;
        bool zero = false;
        for (const std::string& line : lines) zero = zero || fuzz::hasZeroAfterParenthesis(line);
        fuzz::require(fuzz::isIndexedTokenizerMessage(message, lines.size(), index, zero),
                      "all-lines error is not \"index: message\"", message);
        // The named line is the first faulty one, and fails with that message.
        for (std::size_t i = 0; i < index; ++i)
            fuzz::require(checkLine(lines[i]), "all-lines error names a later line than the first faulty one");
        std::string lineMessage;
        fuzz::require(!checkLine(lines[index], &lineMessage), "all-lines error names a line that is accepted");
        fuzz::require(message.substr(message.find(": ") + 2) == lineMessage,
                      "all-lines message differs from the line's own", message);
        return;
    } catch (...) {
        fuzz::fail("all-lines tokenizer raised something other than nscr::Error");
    }
    fuzz::require(result.size() == lines.size(), "all-lines result has a different line count");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        nscr::TokenLine single;
        try {
            single = nscr::parseToToken(lines[i]);
        } catch (const nscr::Error& error) {
            fuzz::fail("line accepted in the all-lines form is rejected alone", error.what());
        }
        fuzz::require(result[i] == single, "all-lines tokens differ from the one-line form");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nscr::loadReservedCommandsFromText(fuzz::sampleCommands);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A view of libFuzzer's own buffer, so that a read past the line's end
    // is caught by AddressSanitizer.
    std::string_view input = fuzz::asText(data, size);
    checkLine(input);
    checkLenient(input);
    checkAllLines(splitAtLineFeeds(input));
    return 0;
}
