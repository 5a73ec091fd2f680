#pragma once
// The process-wide worker pool of the batch functions and an indexed
// parallel map on it.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <cstddef>

namespace velaro::python {

// Work-stealing arena with one slot per processor available to the process,
// created on first use and shared by every later batch call (from any
// thread).
tbb::task_arena& worker_pool();

// Runs f(i) for every i in [0, count) on the worker pool and returns when all
// calls have finished. Each index is its own task, so long and short items
// balance by stealing. f must be safe to call concurrently for different i;
// callers write results into pre-sized storage by index, which keeps the
// output order independent of scheduling. An exception thrown by f is
// re-thrown here after the other tasks are cancelled.
template <typename F>
void parallel_map_indexed(std::size_t count, F&& f) {
  if (count == 0) return;
  worker_pool().execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, 1),
        [&](const tbb::blocked_range<std::size_t>& range) {
          for (std::size_t i = range.begin(); i != range.end(); ++i) f(i);
        },
        tbb::simple_partitioner());
  });
}

}  // namespace velaro::python
