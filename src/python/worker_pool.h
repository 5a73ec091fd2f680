#pragma once
// The process-wide worker pool of the batch functions and an indexed
// parallel map on it.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <cstddef>
#include <functional>

namespace velaro::python {

// Work-stealing arena with one slot per processor available to the process,
// created on first use and shared by every later batch call (from any
// thread).
tbb::task_arena& worker_pool();

// False in a process forked after the pool was created. The threading
// runtime is not fork-safe: the child inherits the pool's bookkeeping but
// none of its threads (and possibly locks held by them), so work handed to
// it would wait for ever.
bool worker_pool_usable();

// The parallel map of a process that cannot use the pool: one plain thread
// per processor (at most one per index), each taking the next index until
// none is left. Re-throws the first exception of f after all threads ended.
void parallel_map_on_own_threads(std::size_t count, const std::function<void(std::size_t)>& f);

// Runs f(i) for every i in [0, count) on the worker pool and returns when all
// calls have finished. Each index is its own task, so long and short items
// balance by stealing. f must be safe to call concurrently for different i;
// callers write results into pre-sized storage by index, which keeps the
// output order independent of scheduling. An exception thrown by f is
// re-thrown here after the other tasks are cancelled. In a forked child of a
// process that had created the pool, the map runs on threads of its own.
template <typename F>
void parallel_map_indexed(std::size_t count, F&& f) {
  if (count == 0) return;
  if (!worker_pool_usable()) {
    parallel_map_on_own_threads(count, std::function<void(std::size_t)>(std::ref(f)));
    return;
  }
  worker_pool().execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, 1),
        [&](const tbb::blocked_range<std::size_t>& range) {
          for (std::size_t i = range.begin(); i != range.end(); ++i) f(i);
        },
        tbb::simple_partitioner());
  });
}

// Runs a() and b(), at the same time when a second thread of the pool (or,
// in a forked child, a thread of its own) is free, and returns when both
// have returned. Called from a task of the pool, the two become tasks of
// the same pool.
void run_both(const std::function<void()>& a, const std::function<void()>& b);

// Number of threads of the pool (1 in a forked child that cannot use it,
// where run_both starts a thread of its own).
std::size_t worker_pool_threads();

}  // namespace velaro::python
