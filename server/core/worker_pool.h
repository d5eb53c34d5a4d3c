#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvo::server {

/// A few threads that run the items of one job side by side with the caller, which waits until
/// every item is done. The server uses it for the compression of its sessions' batches.
class WorkerPool {
 public:
  /// `threads` counts the caller: 1 starts no thread and runs every job on the caller alone.
  explicit WorkerPool(int threads);
  /// Stops and joins the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  /// The threads a job runs on, the caller's included.
  int threads() const { return static_cast<int>(workers_.size()) + 1; }
  /// Calls `job(i)` once for every i below `count`, spread over the threads, and returns when
  /// all calls have returned. With `then`, the caller also calls `then(i)` for every i in order,
  /// each as soon as `job(i)` has returned, and takes on jobs itself while the next one is not
  /// done: what `then` does overlaps the jobs still running. The first exception a call throws
  /// is thrown again here, once every job has returned.
  void ForEach(std::size_t count, const std::function<void(std::size_t)>& job,
               const std::function<void(std::size_t)>& then = {});

 private:
  void WorkerLoop();
  void RunItems();
  void RunItem(std::size_t i);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::uint64_t generation_ = 0;
  std::size_t busy_ = 0;  // workers not yet finished with the current job
  bool stop_ = false;
  std::exception_ptr failure_;
  std::unique_ptr<std::atomic<bool>[]> done_items_;  // one per item of the current job
  std::size_t done_capacity_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace tarvo::server
