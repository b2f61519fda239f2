// The worker pool and the ordered window of tasks on it.
#include "platform/thread_pool.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <random>

namespace zelvo {
namespace {

// Results come back in the order the tasks were pushed, whatever order they finish in; without a
// pool each task runs as it is pushed.
TEST(OrderedTasks, ResultsComeBackInPushOrder) {
  for (unsigned workers : {0u, 1u, 3u}) {
    SCOPED_TRACE(workers);
    std::unique_ptr<ThreadPool> pool;
    if (workers > 0) pool = std::make_unique<ThreadPool>(workers, 2);
    std::atomic<int> ran{0};
    std::mt19937 random(workers);
    OrderedTasks<int> tasks(pool.get(), workers > 0 ? 2 * workers : 1);
    int next = 0;
    for (int i = 0; i < 60; ++i) {
      while (tasks.full()) EXPECT_EQ(tasks.pop(), next++);
      const int delay = int(random() % 3);
      tasks.push([i, delay, &ran] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ++ran;
        return i;
      });
      if (!pool) {
        EXPECT_EQ(ran.load(), i + 1);
      }
    }
    while (!tasks.empty()) EXPECT_EQ(tasks.pop(), next++);
    EXPECT_EQ(next, 60);
    EXPECT_EQ(ran.load(), 60);
  }
}

// Tasks still queued when the pool ends are run first; a window abandoned with tasks in flight
// waits for them.
TEST(ThreadPool, EndsOnlyAfterEveryQueuedTask) {
  std::atomic<int> done{0};
  {
    ThreadPool pool(2, 1);
    for (int i = 0; i < 10; ++i) {
      pool.submit([&done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++done;
      });
    }
  }
  EXPECT_EQ(done.load(), 10);

  ThreadPool pool(2);
  {
    OrderedTasks<int> tasks(&pool, 4);
    for (int i = 0; i < 4; ++i) {
      tasks.push([&done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return ++done;
      });
    }
  }
  EXPECT_EQ(done.load(), 14);
  EXPECT_EQ(resolveThreadCount(3), 3u);
  EXPECT_GE(resolveThreadCount(0), 1u);
}

} // namespace
} // namespace zelvo
