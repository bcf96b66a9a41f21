// The thread pool: every task runs once, each worker number belongs to one
// thread which takes its tasks in increasing order, and the error of the
// lowest failing task is the one rethrown.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/parallel.h"

using namespace bayescreen;

TEST(Parallel, EveryTaskRunsOnceOnAWorkerOfItsOwnThread) {
  const struct {
    int tasks, threads;
  } cases[] = {{0, 3}, {1, 1}, {1, 4}, {5, 1}, {7, 2}, {100, 3}, {3, 8}};
  for (const auto &c : cases) {
    std::vector<int> runs(static_cast<size_t>(c.tasks), 0);
    std::vector<int> worker_of(static_cast<size_t>(c.tasks), -1);
    std::map<int, std::thread::id> thread_of;
    std::map<int, std::vector<int>> order;
    std::mutex lock;
    parallel_for_workers(c.tasks, c.threads, [&](int k, int worker) {
      std::lock_guard<std::mutex> hold(lock);
      runs[static_cast<size_t>(k)]++;
      worker_of[static_cast<size_t>(k)] = worker;
      const auto known = thread_of.find(worker);
      if (known == thread_of.end())
        thread_of[worker] = std::this_thread::get_id();
      else
        EXPECT_EQ(known->second, std::this_thread::get_id()) << "worker " << worker;
      order[worker].push_back(k);
    });
    const int most = c.tasks < c.threads ? c.tasks : c.threads;
    for (int k = 0; k < c.tasks; k++) {
      EXPECT_EQ(runs[static_cast<size_t>(k)], 1) << c.tasks << " tasks, task " << k;
      EXPECT_GE(worker_of[static_cast<size_t>(k)], 0);
      EXPECT_LT(worker_of[static_cast<size_t>(k)], most);
    }
    for (const auto &[worker, tasks] : order)
      for (size_t i = 1; i < tasks.size(); i++) EXPECT_LT(tasks[i - 1], tasks[i]) << "worker " << worker;
    if (c.threads == 1) {
      EXPECT_LE(thread_of.size(), 1u);
    }
  }
}

TEST(Parallel, TheLowestFailingTaskGivesTheError) {
  for (int threads : {1, 2, 3}) {
    try {
      parallel_for(50, threads, [](int k) {
        if (k == 7 || k == 8 || k == 30) throw std::runtime_error("task " + std::to_string(k));
      });
      ADD_FAILURE() << "no error on " << threads << " threads";
    } catch (const std::runtime_error &e) {
      EXPECT_STREQ(e.what(), "task 7") << threads << " threads";
    }
  }
}

TEST(Parallel, ThreadCountIsTheWishOrTheCores) {
  EXPECT_EQ(thread_count(1), 1);
  EXPECT_EQ(thread_count(5), 5);
  EXPECT_GE(thread_count(0), 1);
  EXPECT_EQ(thread_count(0), thread_count(-1));
}
