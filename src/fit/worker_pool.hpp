// A fixed set of threads that run one job together and wait for the next: the evaluation
// passes of a refinement hand their candidates to it, pass after pass, without starting
// threads each time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvarin::fit {

class WorkerPool {
public:
    /// `workers` in all, the calling thread included (it is worker 0); at least 1. When the
    /// system refuses a thread the pool keeps those already started (size() says how many)
    /// instead of failing: the calling thread alone can always do the work.
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return static_cast<int>(threads_.size()) + 1; }
    /// The number asked for (after the limit of 256); above size() when threads were refused.
    int requested() const { return requested_; }

    /// Runs job(w) for every worker w in 0..size() − 1, worker 0 on the calling thread, and
    /// returns when all have returned. The job must not throw.
    void runOnAll(const std::function<void(int)>& job);

    /// Number of workers for a request: 0 or less means one per core; at most maxWorkers().
    static int resolve(int requested);
    /// Most workers a pool is given: two per core (more only cost memory), at most 256.
    static int maxWorkers();

private:
    void loop(int worker);

    int requested_ = 1;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void(int)>* job_ = nullptr;
    std::uint64_t round_ = 0;
    int running_ = 0;
    bool quit_ = false;
};

}  // namespace kelvarin::fit
