#include "support/parallel.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace bayescreen {

int thread_count(int wanted) {
  if (wanted > 0) return wanted;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

void parallel_for(int n, int threads, FunctionRef<void(int)> task) {
  parallel_for_workers(n, threads, [&](int k, int) { task(k); });
}

void parallel_for_workers(int n, int threads, FunctionRef<void(int, int)> task) {
  if (n <= 0) return;
  if (threads > n) threads = n;
  if (threads <= 1) {
    for (int k = 0; k < n; k++) task(k, 0);
    return;
  }
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::exception_ptr> errors(static_cast<size_t>(n));
  auto work = [&](int worker) {
    for (int k = next++; k < n && !failed; k = next++) {
      try {
        task(k, worker);
      } catch (...) {
        errors[static_cast<size_t>(k)] = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<size_t>(threads - 1));
  // A thread the system cannot start leaves its share to the others.
  for (int t = 1; t < threads; t++) {
    try {
      helpers.emplace_back(work, t);
    } catch (const std::system_error &) {
      break;
    }
  }
  work(0);
  for (std::thread &t : helpers) t.join();
  for (const std::exception_ptr &error : errors)
    if (error) std::rethrow_exception(error);
}

}  // namespace bayescreen
