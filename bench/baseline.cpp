// The I/O floor of a conversion: baseline SCRIPT SIZE OUTPUT reads the script
// whole, fills a buffer of SIZE bytes from it and writes the buffer in one
// write, through the same file calls as the converter.

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <sys/mman.h>

#include "nscr/file.h"
#include "script_gen.h"

namespace {

// Fresh memory, each byte touched only by the copy into it, on huge pages
// where the system allows them: page faults are most of the cost of filling
// a large buffer, and a floor should not pay more of them than it must.
class PageBuffer {
public:
    explicit PageBuffer(std::size_t size) : size_(std::max<std::size_t>(size, 1)) {
        void* memory = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<char*>(memory);
        ::madvise(data_, size_, MADV_HUGEPAGE);
    }
    ~PageBuffer() { ::munmap(data_, size_); }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    char* data() { return data_; }

private:
    std::size_t size_;
    char* data_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: baseline SCRIPT SIZE OUTPUT\n", stderr);
        return 2;
    }
    auto size = scriptgen::parseSize(argv[2]);
    if (!size) {
        std::fprintf(stderr, "baseline: bad size '%s'\n", argv[2]);
        return 2;
    }
    try {
        nscr::ByteBuffer scriptBytes = nscr::readFileBytes(argv[1]);
        std::string_view script = scriptBytes.view();
        // Every byte of the page is written once, as a converter must.
        PageBuffer page(*size);
        if (script.empty()) {
            std::memset(page.data(), ' ', *size);
        } else {
            for (std::size_t at = 0; at < *size; at += script.size())
                std::memcpy(page.data() + at, script.data(), std::min(script.size(), *size - at));
        }
        nscr::writeWholeFile(argv[3], std::string_view(page.data(), *size));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "baseline: %s\n", error.what());
        return 1;
    }
    return 0;
}
