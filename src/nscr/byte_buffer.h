#pragma once

#include <cstddef>
#include <new>
#include <string_view>

namespace nscr {

// Page faults are much of the cost of filling a large buffer: huge pages
// take one where small ones take 512. Advises them for the whole huge pages
// within data[0, size), best before any of it is written.
void adviseHugePages(char* data, std::size_t size);

// Raised when a buffer that lends its room (ByteBuffer::borrow) is full.
class RoomExhausted : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "borrowed room exhausted"; }
};

// A growable run of bytes in an anonymous mapping of its own. New room comes
// from the system already zeroed, so it is written once, by its user; the
// mapping grows in place or moves without a copy; and large buffers are
// advised to use huge pages, which spare most of the page faults of filling
// them.
class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t capacity) { reserve(capacity); }
    // capacity bytes of another buffer's room, from data on, lent to be
    // filled from the start: it cannot grow (RoomExhausted), and its owner
    // must outlive it and neither move nor grow its mapping meanwhile.
    static ByteBuffer borrow(char* data, std::size_t capacity);
    ~ByteBuffer();
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Makes room for capacity bytes in all; raises std::bad_alloc when the
    // system has no memory for it.
    void reserve(std::size_t capacity);
    // Room for size more bytes: write them at the pointer it gives, then
    // commit the end of what was written.
    char* room(std::size_t size) {
        if (size > capacity_ - size_) grow(size);
        return data_ + size_;
    }
    void commit(const char* end) { size_ = static_cast<std::size_t>(end - data_); }
    void append(std::string_view bytes);
    // Forgets the bytes but keeps the room, so that a buffer reused for
    // line after line is mapped once.
    void clear() { size_ = 0; }

    std::string_view view() const { return {data_, size_}; }
    // The bytes, to be changed in place.
    char* data() { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }

private:
    void grow(std::size_t more);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool owned_ = true;  // the mapping is this buffer's own
};

}  // namespace nscr
