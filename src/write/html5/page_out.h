#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace writers::html5 {

// A page as it is written, into a buffer kept from page to page: appends
// are inline copies, and room is zeroed only when the buffer first grows to
// it. The buffer's size is how far it has ever been used; the page is its
// first size() bytes.
class PageOut {
public:
    explicit PageOut(std::string& buffer) : buffer_(buffer) {}

    void reserve(std::size_t bytes) {
        if (bytes > buffer_.size()) buffer_.resize(bytes);
    }
    // Room for `bytes` more: write them at the pointer given, then commit
    // the end of what was written.
    // Inline where written: most appends are short words of known length.
    [[gnu::always_inline]] char* room(std::size_t bytes) {
        if (bytes > buffer_.size() - size_) grow(bytes);
        return buffer_.data() + size_;
    }
    void commit(const char* end) { size_ = static_cast<std::size_t>(end - buffer_.data()); }

    [[gnu::always_inline]] PageOut& operator+=(std::string_view bytes) {
        char* at = room(bytes.size());
        if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
        size_ += bytes.size();
        return *this;
    }
    PageOut& operator+=(const std::string& bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(const char* bytes) { return *this += std::string_view(bytes); }
    PageOut& operator+=(char c) {
        *room(1) = c;
        ++size_;
        return *this;
    }

    std::size_t size() const { return size_; }
    std::string_view page() const { return {buffer_.data(), size_}; }

private:
    [[gnu::noinline]] void grow(std::size_t bytes) { buffer_.resize(std::max(buffer_.size() * 2, size_ + bytes)); }

    std::string& buffer_;
    std::size_t size_ = 0;
};

}  // namespace writers::html5
