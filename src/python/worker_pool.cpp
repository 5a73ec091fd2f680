#include "python/worker_pool.h"

#include <tbb/info.h>

namespace velaro::python {

tbb::task_arena& worker_pool() {
  // Created once, thread-safely, on first use. Deliberately never destroyed:
  // the module can be torn down after the threading runtime at interpreter
  // exit, and an arena outliving its users is harmless.
  static tbb::task_arena* const arena = new tbb::task_arena(tbb::info::default_concurrency());
  return *arena;
}

}  // namespace velaro::python
