#include "python/interrupts.h"

#include <unistd.h>

#include <deque>
#include <thread>

namespace velaro::python {
namespace {

// A plain counter (no lock), so that a process forked while another
// thread updates it cannot inherit a held lock.
std::atomic<std::size_t> running{0};

// Longest wait at interpreter exit for abandoned computations. They stop at
// their next check of the stop request; the longest step without one is a
// dense solve at the inviscid node cap, a few seconds.
constexpr std::chrono::seconds kExitWait{30};

// The job threads of one process: the tasks handed to them and the number
// of threads waiting for one.
struct JobThreads {
  explicit JobThreads(pid_t pid) : owner(pid) {}
  const pid_t owner;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> queue;
  std::size_t idle = 0;
};

// Never destroyed: detached threads wait on it until the process ends. A
// forked child finds its parent's here (owner differs from getpid()) and
// puts its own in place, leaving the inherited one, whose lock a thread of
// the parent may have held at the fork, untouched.
std::atomic<JobThreads*> job_threads{nullptr};

JobThreads& current_job_threads() {
  const pid_t self = ::getpid();
  JobThreads* seen = job_threads.load();
  while (seen == nullptr || seen->owner != self) {
    auto* fresh = new JobThreads(self);
    if (job_threads.compare_exchange_strong(seen, fresh)) return *fresh;
    delete fresh;  // another thread put one in place first; `seen` is it
  }
  return *seen;
}

// A job thread: runs `first`, then what is queued, and ends after waiting
// kJobThreadIdleExit for more.
void serve(JobThreads* threads, std::function<void()> first) {
  first();
  first = nullptr;
  std::unique_lock<std::mutex> lock(threads->mutex);
  for (;;) {
    ++threads->idle;
    const bool more =
        threads->wake.wait_for(lock, kJobThreadIdleExit, [&] { return !threads->queue.empty(); });
    --threads->idle;
    if (!more) return;
    std::function<void()> task = std::move(threads->queue.front());
    threads->queue.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // its captures go before the lock is taken again
    lock.lock();
  }
}

}  // namespace

void run_on_job_thread(std::function<void()> task) {
  JobThreads& threads = current_job_threads();
  {
    const std::lock_guard<std::mutex> lock(threads.mutex);
    // Hand the task over only if a waiting thread is free to take it.
    if (threads.idle > threads.queue.size()) {
      threads.queue.push_back(std::move(task));
      threads.wake.notify_one();
      return;
    }
  }
  std::thread(serve, &threads, std::move(task)).detach();
}

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
