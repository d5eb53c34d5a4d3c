#include "server/core/worker_pool.h"

#include <utility>

namespace tarvo::server {

WorkerPool::WorkerPool(int threads) {
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::ForEach(std::size_t count, const std::function<void(std::size_t)>& job,
                         const std::function<void(std::size_t)>& then) {
  if (count == 0) return;
  if (workers_.empty() || count == 1) {
    for (std::size_t i = 0; i < count; ++i) {
      job(i);
      if (then) then(i);
    }
    return;
  }
  if (done_capacity_ < count) {
    done_items_ = std::make_unique<std::atomic<bool>[]>(count);
    done_capacity_ = count;
  }
  for (std::size_t i = 0; i < count; ++i) done_items_[i].store(false, std::memory_order_relaxed);
  {
    std::lock_guard lock(mutex_);
    job_ = &job;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_ = workers_.size();
    failure_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  std::exception_ptr then_failure;
  if (then) {
    for (std::size_t i = 0; i < count && !then_failure; ++i) {
      while (!done_items_[i].load(std::memory_order_acquire)) {
        const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
        if (k < count) {
          RunItem(k);
          continue;
        }
        // Every job is taken: the one awaited is running on a worker and ends soon.
        while (!done_items_[i].load(std::memory_order_acquire)) std::this_thread::yield();
      }
      try {
        then(i);
      } catch (...) {
        then_failure = std::current_exception();
      }
    }
  }
  RunItems();
  std::exception_ptr failure;
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    job_ = nullptr;
    failure = std::exchange(failure_, nullptr);
  }
  if (failure) std::rethrow_exception(failure);
  if (then_failure) std::rethrow_exception(then_failure);
}

void WorkerPool::RunItems() {
  for (std::size_t i = next_.fetch_add(1, std::memory_order_relaxed); i < count_;
       i = next_.fetch_add(1, std::memory_order_relaxed))
    RunItem(i);
}

void WorkerPool::RunItem(std::size_t i) {
  try {
    (*job_)(i);
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
  }
  done_items_[i].store(true, std::memory_order_release);
}

void WorkerPool::WorkerLoop() {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    RunItems();
    {
      std::lock_guard lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }
}

}  // namespace tarvo::server
