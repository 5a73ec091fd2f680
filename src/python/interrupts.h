#pragma once
// Running a computation without holding the interpreter lock, while the
// calling thread stays responsive to Ctrl-C.
//
// The computation runs on a job thread (see run_on_job_thread) and owns everything it reads
// (the caller moves its inputs into it). The calling thread releases the
// interpreter lock and waits for it in slices of kSignalPollInterval; after
// each slice it takes the lock back just long enough to run the
// interpreter's pending signal handlers. When a handler raises (Ctrl-C gives
// KeyboardInterrupt), the computation is asked to stop and the exception
// propagates at once: the caller does not wait for work that cannot look at
// the stop request (a dense factorisation), and nothing of a half-finished
// result reaches Python. The abandoned computation finishes on its own
// thread, sees the stop request at its next check and drops its result.
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace velaro::python {

inline constexpr std::chrono::milliseconds kSignalPollInterval{100};

// What the waiting caller and the computation share.
struct InterruptibleJob {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::atomic<bool> stop{false};
  std::exception_ptr error;
};

// Waits with the interpreter lock released until job.done. Every
// kSignalPollInterval it runs the pending signal handlers with the lock
// held; if one raises, sets job.stop and throws that Python exception.
void wait_interruptibly(InterruptibleJob& job);

// Counts computations still running on job threads, so that the
// interpreter's exit can wait for abandoned ones to notice their stop
// request (they do not touch Python, but the process's static objects must
// outlive them).
void job_started();
void job_finished();
// Registers the exit wait with the interpreter's atexit; called once at
// module creation.
void register_exit_wait();

// Runs `task` on a job thread: an idle one if there is one, otherwise a new
// thread, which stays for later jobs after this one. Keeping the threads
// keeps what a thread builds up across calls (its allocator arena and
// warmed pages, the engine's per-thread workspaces) and spares a thread
// start per call. A thread idle for kJobThreadIdleExit ends. A forked child
// starts a fresh set of its own (its parent's threads do not exist in it).
void run_on_job_thread(std::function<void()> task);

inline constexpr std::chrono::seconds kJobThreadIdleExit{30};

// Runs work(stop) on a job thread and returns its result, or throws what it
// threw, or the exception of an interrupt (see above). `work` is moved to the
// thread: it must own its inputs. `stop` becomes true when the caller has
// given up; work should check it between its steps.
template <typename Work>
auto run_interruptible(Work work) -> decltype(work(std::declval<const std::atomic<bool>&>())) {
  using Result = decltype(work(std::declval<const std::atomic<bool>&>()));
  struct Job : InterruptibleJob {
    std::optional<Result> result;
  };
  auto job = std::make_shared<Job>();
  auto shared_work = std::make_shared<Work>(std::move(work));
  job_started();
  try {
    run_on_job_thread([job, shared_work] {
      try {
        job->result.emplace((*shared_work)(job->stop));
      } catch (...) {
        job->error = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> lock(job->mutex);
        job->done = true;
      }
      job->finished.notify_all();
      job_finished();
    });
  } catch (...) {
    job_finished();
    throw;
  }
  wait_interruptibly(*job);
  if (job->error) std::rethrow_exception(job->error);
  return std::move(*job->result);
}

}  // namespace velaro::python
