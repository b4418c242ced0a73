#include "fit/worker_pool.hpp"

#include <algorithm>

namespace kelvarin::fit {

namespace {

/// More workers than this only cost memory: a population holds at most a few hundred rows.
constexpr int kMaxWorkers = 256;

}  // namespace

int WorkerPool::resolve(int requested) {
    if (requested <= 0) requested = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(requested, 1, kMaxWorkers);
}

WorkerPool::WorkerPool(int workers) {
    const int n = std::clamp(workers, 1, kMaxWorkers);
    threads_.reserve(static_cast<std::size_t>(n - 1));
    for (int w = 1; w < n; ++w)
        threads_.emplace_back([this, w] { loop(w); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void WorkerPool::runOnAll(const std::function<void(int)>& job) {
    {
        std::lock_guard lock(mutex_);
        job_ = &job;
        running_ = static_cast<int>(threads_.size());
        ++round_;
    }
    wake_.notify_all();
    job(0);
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return running_ == 0; });
    job_ = nullptr;
}

void WorkerPool::loop(int worker) {
    std::uint64_t seen = 0;
    for (;;) {
        const std::function<void(int)>* job = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || round_ != seen; });
            if (quit_) return;
            seen = round_;
            job = job_;
        }
        (*job)(worker);
        {
            std::lock_guard lock(mutex_);
            --running_;
        }
        finished_.notify_one();
    }
}

}  // namespace kelvarin::fit
