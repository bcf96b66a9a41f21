// Work split over threads: tasks 0 .. n-1 run on up to `threads` threads,
// each task on one thread, in no fixed order. Callers make every task write
// only its own results, so that the outcome is the same whatever the number
// of threads.
#pragma once
#include "support/functionref.h"

namespace bayescreen {

// The number of threads to use for `wanted`: wanted itself when positive,
// else the cores available (at least 1).
int thread_count(int wanted);

// Runs task(0) .. task(n-1) on min(threads, n) threads (the calling thread
// among them) and returns when all have ended. An exception a task throws
// ends the tasks not yet started; the one of the lowest task number is
// rethrown here.
void parallel_for(int n, int threads, FunctionRef<void(int)> task);

// parallel_for whose tasks also learn which of the threads runs them:
// task(k, worker), worker from 0 to min(threads, n) - 1, each worker one
// thread, so that tasks may share work space kept per worker. A worker
// takes the tasks in increasing order, as they come free.
void parallel_for_workers(int n, int threads, FunctionRef<void(int task, int worker)> task);

}  // namespace bayescreen
