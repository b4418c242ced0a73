#include "fit/worker_pool.hpp"

#include <algorithm>

namespace kelvarin::fit {

namespace {

/// More workers than this only cost memory: a population holds at most a few hundred rows.
constexpr int kMaxWorkers = 256;
/// Workers per core at most: the evaluation is pure computation, so threads beyond the cores
/// take turns on them and add only their workspaces.
constexpr int kWorkersPerCore = 2;

int cores() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

int WorkerPool::resolve(int requested) {
    if (requested <= 0) requested = cores();
    return std::clamp(requested, 1, maxWorkers());
}

int WorkerPool::maxWorkers() {
    return std::min(kMaxWorkers, kWorkersPerCore * cores());
}

WorkerPool::WorkerPool(int workers) : requested_(std::clamp(workers, 1, kMaxWorkers)) {
    try {
        threads_.reserve(static_cast<std::size_t>(requested_ - 1));
        for (int w = 1; w < requested_; ++w)
            threads_.emplace_back([this, w] { loop(w); });
    } catch (const std::exception&) {
        // A thread the system refuses (a process limit, no memory for its stack) leaves the
        // pool with the workers already running; the calling thread alone is always there.
    }
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
