#include "platform/thread_pool.h"

namespace zelvo {

unsigned resolveThreadCount(unsigned requested) {
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

ThreadPool::ThreadPool(unsigned threads, std::size_t queueCapacity) {
  const unsigned count = resolveThreadCount(threads);
  capacity_ = queueCapacity > 0 ? queueCapacity : std::size_t(count) * 4;
  workers_.reserve(count);
  for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  taskReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ThreadPool::submit(std::function<void()> task) {
  {
    std::unique_lock lock(mutex_);
    roomFree_.wait(lock, [&] { return queue_.size() < capacity_; });
    queue_.push_back(std::move(task));
  }
  taskReady_.notify_one();
}

void ThreadPool::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      taskReady_.wait(lock, [&] { return ending_ || !queue_.empty(); });
      if (queue_.empty()) return; // ending, and nothing left to run
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    roomFree_.notify_one();
    task();
  }
}

} // namespace zelvo
