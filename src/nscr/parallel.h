#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace nscr {

// The processors there are to work side by side, at least one.
inline std::size_t processorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

// Runs work(0) ... work(count - 1) side by side: work(0) on this thread, each
// other on a thread of its own, or on this one when no thread is to be had.
// Once all are done, the exception of the first that failed, if any, is
// thrown again here.
template <typename Work>
void runSideBySide(std::size_t count, Work&& work) {
    std::vector<std::exception_ptr> failures(count);
    auto attempt = [&](std::size_t k) noexcept {
        try {
            work(k);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(count);
    for (std::size_t k = 1; k < count; ++k) {
        try {
            threads.emplace_back(attempt, k);
        } catch (const std::system_error&) {
            attempt(k);
        }
    }
    if (count > 0) attempt(0);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace nscr
