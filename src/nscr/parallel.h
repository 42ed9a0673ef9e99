#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace nscr {

// The processors there are to work side by side, at least one.
inline std::size_t processorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

// A thread that runs one body, placed first on another processor than the
// one that starts it: a new thread is otherwise often queued behind its
// starter, on the same processor, for milliseconds, while the others idle.
// Once started it may go anywhere.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { join(); }

    // False when no thread is to be had.
    bool start(std::function<void()> body);
    void join();

private:
    static void* run(void* self);

    std::function<void()> body_;
    pthread_t handle_{};
    bool running_ = false;
    bool placed_ = false;
    cpu_set_t processors_{};  // where it may go once started
};

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
    std::vector<Worker> workers(count > 0 ? count - 1 : 0);
    for (std::size_t k = 1; k < count; ++k)
        if (!workers[k - 1].start([&attempt, k] { attempt(k); })) attempt(k);
    if (count > 0) attempt(0);
    for (Worker& worker : workers) worker.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace nscr
