#include "nscr/parallel.h"

namespace nscr {

namespace {

// The processors this thread may run on, and the same but the one it runs
// on now: false when there is no other.
bool processorsBesideThisOne(cpu_set_t& all, cpu_set_t& others) {
    if (::sched_getaffinity(0, sizeof all, &all) != 0) return false;
    int here = ::sched_getcpu();
    if (here < 0 || here >= CPU_SETSIZE || !CPU_ISSET(here, &all) || CPU_COUNT(&all) < 2) return false;
    others = all;
    CPU_CLR(here, &others);
    return true;
}

}  // namespace

bool Worker::start(std::function<void()> body) {
    body_ = std::move(body);
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    cpu_set_t others;
    placed_ = processorsBesideThisOne(processors_, others) &&
              ::pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
    running_ = ::pthread_create(&handle_, &attributes, &Worker::run, this) == 0;
    ::pthread_attr_destroy(&attributes);
    return running_;
}

void* Worker::run(void* self) {
    auto& worker = *static_cast<Worker*>(self);
    if (worker.placed_) ::pthread_setaffinity_np(::pthread_self(), sizeof worker.processors_, &worker.processors_);
    worker.body_();
    return nullptr;
}

void Worker::join() {
    if (!running_) return;
    ::pthread_join(handle_, nullptr);
    running_ = false;
}

}  // namespace nscr
