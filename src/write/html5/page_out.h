#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "html5.h"
#include "nscr/byte_buffer.h"

namespace writers::html5 {

// A page as it is written, into a buffer kept from page to page: appends
// are inline copies, and the buffer's memory is taken from the system
// once, in huge pages where it is large, and never zeroed.
class PageOut {
public:
    explicit PageOut(nscr::ByteBuffer& buffer) : buffer_(buffer) { buffer_.clear(); }

    void reserve(std::size_t bytes) { buffer_.reserve(bytes); }
    // Room for `bytes` more: write them at the pointer given, then commit
    // the end of what was written.
    // Inline where written: most appends are short words of known length.
    [[gnu::always_inline]] char* room(std::size_t bytes) { return buffer_.room(bytes); }
    void commit(const char* end) { buffer_.commit(end); }

    [[gnu::always_inline]] PageOut& operator+=(std::string_view bytes) {
        char* at = room(bytes.size());
        if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
        commit(at + bytes.size());
        return *this;
    }
    // Several pieces with one look at the room left: an element's opening
    // tag is a few of them.
    template <typename... Pieces>
    [[gnu::always_inline]] void append(const Pieces&... pieces) {
        char* at = room((std::string_view(pieces).size() + ...));
        ((at = copied(at, std::string_view(pieces))), ...);
        commit(at);
    }
    PageOut& operator+=(const std::string& bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(const char* bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(char c) {
        char* at = room(1);
        *at = c;
        commit(at + 1);
        return *this;
    }

    // Pieces of up to sixteen bytes, most of those of a page, are copied as
    // two words that may overlap, without a call.
    [[gnu::always_inline]] static char* copiedShort(char* at, std::string_view bytes) {
        const char* from = bytes.data();
        std::size_t n = bytes.size();
        if (n >= 8) {
            std::memcpy(at, from, 8);
            std::memcpy(at + n - 8, from + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(at, from, 4);
            std::memcpy(at + n - 4, from + n - 4, 4);
        } else {
            for (std::size_t k = 0; k < n; ++k) at[k] = from[k];
        }
        return at + n;
    }

    std::size_t size() const { return buffer_.size(); }
    std::string_view page() const { return buffer_.view(); }

private:
    [[gnu::always_inline]] static char* copied(char* at, std::string_view bytes) {
        if (bytes.size() <= 16) return copiedShort(at, bytes);
        std::memcpy(at, bytes.data(), bytes.size());
        return at + bytes.size();
    }

    nscr::ByteBuffer& buffer_;
};

// Text onto the page escaped for HTML: most texts hold nothing to escape
// and go in whole.
inline void appendEscaped(PageOut& out, std::string_view text) {
    if (::html5::hasEscapedByte(text))
        out += ::html5::escaped(text);
    else
        out += text;
}

}  // namespace writers::html5
