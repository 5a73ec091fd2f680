#include "python/worker_pool.h"

#include <tbb/info.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace velaro::python {
namespace {

// Process that created the pool; 0 before it exists. A forked child sees
// its parent's id here and its own from getpid().
std::atomic<pid_t> pool_owner{0};

}  // namespace

tbb::task_arena& worker_pool() {
  // Created once, thread-safely, on first use. Deliberately never destroyed:
  // the module can be torn down after the threading runtime at interpreter
  // exit, and an arena outliving its users is harmless.
  static tbb::task_arena* const arena = [] {
    pool_owner.store(::getpid());
    return new tbb::task_arena(tbb::info::default_concurrency());
  }();
  return *arena;
}

bool worker_pool_usable() {
  const pid_t owner = pool_owner.load();
  return owner == 0 || owner == ::getpid();
}

void parallel_map_on_own_threads(std::size_t count, const std::function<void(std::size_t)>& f) {
  const std::size_t threads =
      std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  const auto run = [&] {
    for (std::size_t i; !failed.load() && (i = next.fetch_add(1)) < count;) {
      try {
        f(i);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(error_mutex);
        if (!first_error) first_error = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(run);
  run();
  for (std::thread& t : pool) t.join();
  if (first_error) std::rethrow_exception(first_error);
}

void run_both(const std::function<void()>& a, const std::function<void()>& b) {
  if (worker_pool_usable()) {
    worker_pool().execute([&] { tbb::parallel_invoke(a, b); });
    return;
  }
  std::exception_ptr error;
  std::thread second([&] {
    try {
      b();
    } catch (...) {
      error = std::current_exception();
    }
  });
  try {
    a();
  } catch (...) {
    second.join();
    throw;
  }
  second.join();
  if (error) std::rethrow_exception(error);
}

std::size_t worker_pool_threads() {
  if (!worker_pool_usable()) return std::max(1u, std::thread::hardware_concurrency());
  return static_cast<std::size_t>(std::max(1, worker_pool().max_concurrency()));
}

}  // namespace velaro::python
