#include "python/engine/sweep_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <utility>

#include "python/interrupts.h"
#include "python/worker_pool.h"
#include "boundary_layer/diagnostics.h"
#include "viscous/driver.h"
#include "viscous/sweep.h"

namespace velaro::python::engine {
namespace {

// After a stop request, how long the caller waits for running sweeps to
// hand back the points they finished. A sweep sees the request at its next
// Newton iteration (milliseconds); only a contour's set-up (one dense
// factorisation) runs longer without looking.
constexpr std::chrono::milliseconds kStopGrace{1500};

// Everything the worker threads and the waiting caller share. Owned jointly:
// on an interrupt the caller may leave before the workers have finished.
struct Run {
  explicit Run(std::vector<SweepTask> t)
      : tasks(std::move(t)), outcomes(tasks.size()), points_done(tasks.size()) {}
  std::vector<SweepTask> tasks;
  std::vector<SweepOutcome> outcomes;  // written under `mutex`
  std::vector<std::atomic<std::size_t>> points_done;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  DriverOptions options;
};

SweepOutcome solve_task(Run& run, std::size_t i) {
  const SweepTask& task = run.tasks[i];
  DriverOptions options = run.options;
  options.should_stop = [&run] { return run.stop.load(std::memory_order_relaxed); };
  const SweepProgress progress = [&run, i](std::size_t n) {
    run.points_done[i].store(n, std::memory_order_relaxed);
  };
  // The switch snapshot covers the contour's set-up as well as every point.
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  // With fewer sweeps than threads, each sweep marches its two branches on
  // two threads.
  SweepOptions sweep_options = task.options;
  if (run.tasks.size() < worker_pool_threads()) sweep_options.run_both = run_both;
  SweepOutcome out;
  auto points = run_sweep("airfoil", task.nodes, task.config, task.targets, sweep_options, options, progress);
  if (points) {
    out.points = std::move(*points);
  } else {
    // The whole sweep failed (its contour could not be set up): every point
    // carries the error.
    out.error = points.error().to_string();
    out.points.resize(task.targets.size());
    for (std::size_t k = 0; k < out.points.size(); ++k) {
      out.points[k].target = task.targets[k];
      out.points[k].start = PointStart::Failed;
      out.points[k].error = points.error();
    }
  }
  out.finished = true;
  return out;
}

void work(const std::shared_ptr<Run>& run) {
  parallel_map_indexed(run->tasks.size(), [&](std::size_t i) {
    SweepOutcome out;
    if (!run->stop.load(std::memory_order_relaxed)) {
      try {
        out = solve_task(*run, i);
      } catch (const std::exception& e) {  // allocation failure and the like
        out = SweepOutcome{};
        out.error = std::string("internal error: ") + e.what();
        out.points.resize(run->tasks[i].targets.size());
        for (std::size_t k = 0; k < out.points.size(); ++k) {
          out.points[k].target = run->tasks[i].targets[k];
          out.points[k].start = PointStart::Failed;
          out.points[k].error = ViscousError::message(*out.error);
        }
        out.finished = true;
      }
    }
    const std::lock_guard<std::mutex> lock(run->mutex);
    run->outcomes[i] = std::move(out);
  });
}

std::size_t total_done(const Run& run) {
  std::size_t n = 0;
  for (const auto& d : run.points_done) n += d.load(std::memory_order_relaxed);
  return n;
}

}  // namespace

std::vector<SweepOutcome> run_sweeps(std::vector<SweepTask> tasks, py::handle progress, bool& interrupted) {
  interrupted = false;
  auto run = std::make_shared<Run>(std::move(tasks));
  // The environment switches are read here, with the interpreter lock held;
  // the workers never read the environment.
  run->options = driver_options_from_environment();

  job_started();
  try {
    run_on_job_thread([run] {
      work(run);
      {
        const std::lock_guard<std::mutex> lock(run->mutex);
        run->done = true;
      }
      run->finished.notify_all();
      job_finished();
    });
  } catch (...) {
    job_finished();
    throw;
  }

  const auto wait_for_done = [&](std::chrono::milliseconds how_long) {
    py::gil_scoped_release unlocked;
    std::unique_lock<std::mutex> lock(run->mutex);
    return run->finished.wait_for(lock, how_long, [&] { return run->done; });
  };

  std::size_t reported = 0;
  bool stopped = false;
  for (;;) {
    const bool done = wait_for_done(kSignalPollInterval);
    const std::size_t now = total_done(*run);
    if (now > reported && !progress.is_none()) {
      // A progress callback that raises stops the run like Ctrl-C.
      if (PyObject* r = PyObject_CallFunction(progress.ptr(), "n", static_cast<Py_ssize_t>(now - reported))) {
        Py_DECREF(r);
      } else {
        stopped = true;
      }
    }
    reported = now;
    if (stopped || done) break;
    if (PyErr_CheckSignals() != 0) {
      stopped = true;
      break;
    }
  }

  if (stopped) {
    // The Python error stays pending while the workers wind down: nothing
    // below calls into the interpreter.
    run->stop = true;
    interrupted = true;
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    wait_for_done(kStopGrace);
    PyErr_Restore(type, value, trace);
  }

  std::vector<SweepOutcome> out;
  {
    const std::lock_guard<std::mutex> lock(run->mutex);
    out = run->outcomes;
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i].finished) continue;
    // Not started, or abandoned while running: every point unsolved.
    SweepOutcome& o = out[i];
    o.points.assign(run->tasks[i].targets.size(), SweepPoint{});
    for (std::size_t k = 0; k < o.points.size(); ++k) {
      o.points[k].target = run->tasks[i].targets[k];
      o.points[k].start = PointStart::Failed;
      o.points[k].error = ViscousError::message(kInterrupted);
    }
  }
  return out;
}

}  // namespace velaro::python::engine
