#include "python/interrupts.h"

namespace velaro::python {
namespace {

std::mutex running_mutex;
std::condition_variable running_changed;
std::size_t running = 0;

// Longest wait at interpreter exit for abandoned computations. They stop at
// their next check of the stop request; the longest step without one is a
// dense solve at the inviscid node cap, a few seconds.
constexpr std::chrono::seconds kExitWait{30};

}  // namespace

void wait_interruptibly(InterruptibleJob& job) {
  for (;;) {
    {
      pybind11::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> lock(job.mutex);
      if (job.finished.wait_for(lock, kSignalPollInterval, [&] { return job.done; })) return;
    }
    if (PyErr_CheckSignals() != 0) {
      job.stop = true;
      throw pybind11::error_already_set();
    }
  }
}

void job_started() {
  const std::lock_guard<std::mutex> lock(running_mutex);
  ++running;
}

void job_finished() {
  {
    const std::lock_guard<std::mutex> lock(running_mutex);
    --running;
  }
  running_changed.notify_all();
}

void register_exit_wait() {
  const pybind11::cpp_function wait([] {
    pybind11::gil_scoped_release unlocked;
    std::unique_lock<std::mutex> lock(running_mutex);
    running_changed.wait_for(lock, kExitWait, [] { return running == 0; });
  });
  pybind11::module_::import("atexit").attr("register")(wait);
}

}  // namespace velaro::python
