#include "nscr/byte_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace nscr {
namespace {

constexpr std::size_t hugePage = 2u << 20;

// Mappings of whole huge pages are placed on huge-page boundaries by the
// system, so that all of a large buffer can be backed by huge pages. From
// half a huge page on, clearing a whole one costs less than faulting in its
// small pages one by one.
std::size_t mappingSizeFor(std::size_t size) {
    std::size_t unit = size >= hugePage / 2 ? hugePage : static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + unit - 1) / unit * unit;
}

// A small mapping grown to whole huge pages: a mapping of its own, which
// the system places on a huge-page boundary, with the few bytes copied.
// Moved as it is, its first part would stay apart to the system and fill
// in small pages.
void* grownFromSmall(void* data, std::size_t size, std::size_t used, std::size_t mapped) {
    void* place = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (place == MAP_FAILED) return MAP_FAILED;
    ::madvise(place, mapped, MADV_HUGEPAGE);
    if (used != 0) std::memcpy(place, data, used);
    ::munmap(data, size);
    return place;
}

}  // namespace

void adviseHugePages(char* data, std::size_t size) {
    auto begin = (reinterpret_cast<std::uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(hugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

ByteBuffer::~ByteBuffer() {
    if (data_ != nullptr && owned_) ::munmap(data_, capacity_);
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      owned_(std::exchange(other.owned_, true)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        if (data_ != nullptr && owned_) ::munmap(data_, capacity_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        owned_ = std::exchange(other.owned_, true);
    }
    return *this;
}

ByteBuffer ByteBuffer::borrow(char* data, std::size_t capacity) {
    ByteBuffer lent;
    lent.data_ = data;
    lent.capacity_ = capacity;
    lent.owned_ = false;
    return lent;
}

void ByteBuffer::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    if (!owned_) throw RoomExhausted();
    std::size_t mapped = mappingSizeFor(capacity);
    void* memory = data_ == nullptr ? ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                   : capacity_ < hugePage && mapped >= hugePage ? grownFromSmall(data_, capacity_, size_, mapped)
                                        : ::mremap(data_, capacity_, mapped, MREMAP_MAYMOVE);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char*>(memory);
    capacity_ = mapped;
    // The whole mapping is advised, not the huge pages within it: a mapping
    // whose parts are advised differently is several to the system, and
    // mremap fails on it (EFAULT), which would read as memory running out.
    if (capacity_ >= hugePage) ::madvise(data_, capacity_, MADV_HUGEPAGE);
}

void ByteBuffer::grow(std::size_t more) {
    if (more > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    reserve(std::max(size_ + more, capacity_ * 2));
}

void ByteBuffer::append(std::string_view bytes) {
    char* out = room(bytes.size());
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    commit(out + bytes.size());
}

}  // namespace nscr
