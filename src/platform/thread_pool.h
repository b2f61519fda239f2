// A fixed set of worker threads for the build's heavy stages, and an ordered window of tasks on
// it: work is handed out in order, results are taken back in the same order, and no more than a
// few tasks are in flight at once, so memory stays bounded however long the input.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace zelvo {

// The number of threads a request for `requested` threads means: 0 is one per core (at least 1).
unsigned resolveThreadCount(unsigned requested);

class ThreadPool {
public:
  // Starts `threads` workers (0: one per core). The queue holds at most `queueCapacity` waiting
  // tasks (0: four per worker); submit() waits while it is full.
  explicit ThreadPool(unsigned threads, std::size_t queueCapacity = 0);
  // Runs the tasks still queued, then ends the workers.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  unsigned size() const { return unsigned(workers_.size()); }
  // Queues `task` for the first free worker; waits while the queue is full.
  void submit(std::function<void()> task);

private:
  void work();

  std::mutex mutex_;
  std::condition_variable taskReady_; // a task was queued, or the pool is ending
  std::condition_variable roomFree_;  // a task left the queue
  std::deque<std::function<void()>> queue_;
  std::size_t capacity_;
  bool ending_ = false;
  std::vector<std::thread> workers_;
};

// Tasks that produce a T, run on a pool (or, without one, on the calling thread as they are
// pushed), whose results are taken back in the order the tasks were pushed. At most `window`
// tasks are in flight: push only while !full(), and pop() the oldest to make room.
template <class T> class OrderedTasks {
public:
  OrderedTasks(ThreadPool* pool, std::size_t window)
      : pool_(pool), window_(window > 0 ? window : 1), shared_(std::make_shared<Shared>()) {}
  // Waits for the tasks still running: they may use what their owner lent them.
  ~OrderedTasks() {
    std::unique_lock lock(shared_->mutex);
    shared_->done.wait(lock, [&] { return allDone(); });
  }
  OrderedTasks(const OrderedTasks&) = delete;
  OrderedTasks& operator=(const OrderedTasks&) = delete;

  bool empty() const { return slots_.empty(); }
  bool full() const { return slots_.size() >= window_; }

  // Starts `task`; the caller makes sure the window is not full.
  void push(std::function<T()> task) {
    auto slot = std::make_shared<Slot>();
    slots_.push_back(slot);
    if (!pool_) {
      slot->result.emplace(task());
      return;
    }
    pool_->submit([shared = shared_, slot, task = std::move(task)]() mutable {
      T result = task();
      std::lock_guard lock(shared->mutex);
      slot->result.emplace(std::move(result));
      shared->done.notify_all();
    });
  }

  // Waits for the oldest task and hands back its result. Only when !empty().
  T pop() {
    std::shared_ptr<Slot> slot = std::move(slots_.front());
    slots_.pop_front();
    std::unique_lock lock(shared_->mutex);
    shared_->done.wait(lock, [&] { return slot->result.has_value(); });
    return std::move(*slot->result);
  }

private:
  struct Slot {
    std::optional<T> result; // set under Shared::mutex when the task is done
  };
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
  };
  // Whether every pushed task has finished; under Shared::mutex.
  bool allDone() const {
    for (const auto& slot : slots_)
      if (!slot->result) return false;
    return true;
  }

  ThreadPool* pool_;
  std::size_t window_;
  std::shared_ptr<Shared> shared_;
  std::deque<std::shared_ptr<Slot>> slots_;
};

} // namespace zelvo
