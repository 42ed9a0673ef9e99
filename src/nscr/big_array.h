#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "nscr/byte_buffer.h"

namespace nscr {

// A growable array of plain records in a mapping of its own (ByteBuffer):
// it grows without copying, large arrays take huge pages and so few page
// faults, and room can be taken without being written twice. For the
// model's millions of lines, pieces and statements.
template <typename T>
class BigArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    // Room for capacity records of `of` from its record `first` on, lent as
    // an array of its own (ByteBuffer::borrow): `of` must have reserved it.
    static BigArray borrow(BigArray& of, std::size_t first, std::size_t capacity) {
        BigArray lent;
        lent.buffer_ = ByteBuffer::borrow(of.buffer_.data() + bytesFor(first), bytesFor(capacity));
        return lent;
    }

    std::size_t size() const { return buffer_.size() / sizeof(T); }
    bool empty() const { return buffer_.size() == 0; }

    T* data() { return reinterpret_cast<T*>(buffer_.data()); }
    const T* data() const { return reinterpret_cast<const T*>(buffer_.view().data()); }
    T& operator[](std::size_t k) { return data()[k]; }
    const T& operator[](std::size_t k) const { return data()[k]; }
    T* begin() { return data(); }
    T* end() { return data() + size(); }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size(); }
    T& front() { return data()[0]; }
    const T& front() const { return data()[0]; }
    T& back() { return data()[size() - 1]; }
    const T& back() const { return data()[size() - 1]; }

    void reserve(std::size_t count) { buffer_.reserve(bytesFor(count)); }
    void push_back(const T& value) { emplace_back(value); }
    template <typename... Args>
    T& emplace_back(Args&&... args) {
        T* at = reinterpret_cast<T*>(buffer_.room(sizeof(T)));
        ::new (static_cast<void*>(at)) T(std::forward<Args>(args)...);
        buffer_.commit(reinterpret_cast<const char*>(at + 1));
        return *at;
    }
    // Grows to count records left as they are, for the caller to write
    // each of them (fresh room is zero; room given back and taken again
    // within the array's capacity keeps its old bytes).
    void resizeForOverwrite(std::size_t count) {
        reserve(count);
        buffer_.commit(buffer_.data() + bytesFor(count));
    }
    void clear() { buffer_.clear(); }

private:
    static std::size_t bytesFor(std::size_t count) {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return count * sizeof(T);
    }

    ByteBuffer buffer_;
};

}  // namespace nscr
