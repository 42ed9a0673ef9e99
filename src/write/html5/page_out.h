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
    PageOut& operator+=(const std::string& bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(const char* bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(char c) {
        char* at = room(1);
        *at = c;
        commit(at + 1);
        return *this;
    }

    std::size_t size() const { return buffer_.size(); }
    std::string_view page() const { return buffer_.view(); }

private:
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
