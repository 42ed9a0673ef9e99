#pragma once

#include <cstddef>
#include <new>
#include <sys/mman.h>

namespace nscr {

// An allocator for the large arrays of records that are not plain bytes
// (they hold strings): an array of a megabyte or more gets a mapping of its
// own advised to use huge pages, which takes far fewer page faults as it
// fills; smaller ones come from the heap.
template <typename T>
class HugePageAllocator {
public:
    using value_type = T;

    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}  // NOLINT(google-explicit-constructor)

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        std::size_t bytes = count * sizeof(T);
        if (bytes < mapped) return static_cast<T*>(::operator new(bytes));
        void* memory = ::mmap(nullptr, mappingSize(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        ::madvise(memory, mappingSize(bytes), MADV_HUGEPAGE);
        return static_cast<T*>(memory);
    }

    void deallocate(T* records, std::size_t count) noexcept {
        std::size_t bytes = count * sizeof(T);
        if (bytes < mapped)
            ::operator delete(records);
        else
            ::munmap(records, mappingSize(bytes));
    }

    friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }

private:
    static constexpr std::size_t mapped = std::size_t{1} << 20;
    static constexpr std::size_t hugePage = std::size_t{2} << 20;
    static std::size_t mappingSize(std::size_t bytes) { return (bytes + hugePage - 1) / hugePage * hugePage; }
};

}  // namespace nscr
