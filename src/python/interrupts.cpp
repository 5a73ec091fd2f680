#include "python/interrupts.h"

namespace velaro::python {
namespace {

// A plain counter (no lock), so that a process forked while another
// thread updates it cannot inherit a held lock.
std::atomic<std::size_t> running{0};

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

void job_started() { running.fetch_add(1); }

void job_finished() { running.fetch_sub(1); }

void register_exit_wait() {
  const pybind11::cpp_function wait([] {
    pybind11::gil_scoped_release unlocked;
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    while (running.load() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  pybind11::module_::import("atexit").attr("register")(wait);
}

}  // namespace velaro::python
