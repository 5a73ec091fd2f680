"""Batch analyses while other Python threads change os.environ.

The batch functions run their angles on worker threads with the interpreter
lock released. The diagnostic switches are read once, on the calling thread
with the lock held, and the workers answer from that snapshot; a worker that
called getenv while another thread assigns to os.environ (setenv may move
the environment block) could read freed memory. These tests keep a second
Python thread adding and removing VELARO_* variables for a bounded time
while batches run, and check that every batch returns exactly the results
of an undisturbed run.
"""

import os
import sys
import threading
import time

import pytest

import _velaro
from conftest import flat

# Trace switches whose lines do not change any number, and a crowd of other
# names whose insertion and removal keeps the environment block growing and
# shrinking. VELARO_DISABLE_STMOVE changes results and is left alone.
TRACE_SWITCHES = [
    "VELARO_UPDATE_DEBUG",
    "VELARO_STMOVE_DEBUG",
    "VELARO_CL_DEBUG",
    "VELARO_TESYS_DEBUG",
]
FILLER = [f"VELARO_ENV_THREAD_TEST_{i}" for i in range(64)]
TOGGLED = TRACE_SWITCHES + FILLER
TOGGLE_SECONDS = 2.0

ALPHAS = [-2.0, 0.0, 3.0, 6.0]


@pytest.fixture(scope="module")
def n2412():
    raw = flat(_velaro.generate_naca4(2412))
    pts = _velaro.repanel_kelvo(raw, 120)
    return flat(pts) if pts else raw


@pytest.fixture
def clean_environment():
    """Removes the toggled names before and after a test."""
    saved = {k: os.environ.pop(k) for k in TOGGLED + ["VELARO_DISABLE_STMOVE"] if k in os.environ}
    yield
    for k in TOGGLED:
        os.environ.pop(k, None)
    os.environ.update(saved)


class Toggler(threading.Thread):
    """Sets and unsets the toggled variables until stopped or out of time."""

    def __init__(self, seconds):
        super().__init__(daemon=True)
        self.deadline = time.monotonic() + seconds
        self.stop = threading.Event()
        self.rounds = 0

    def run(self):
        while not self.stop.is_set() and time.monotonic() < self.deadline:
            for name in TOGGLED:
                os.environ[name] = "1"
            for name in TOGGLED:
                del os.environ[name]
            self.rounds += 1

    def finished(self):
        return self.stop.is_set() or time.monotonic() >= self.deadline


def run_while_toggling(call):
    """Calls `call` repeatedly while a Toggler runs; returns every result."""
    toggler = Toggler(TOGGLE_SECONDS)
    results = []
    toggler.start()
    try:
        while True:
            results.append(call())
            if toggler.finished():
                break
    finally:
        toggler.stop.set()
        toggler.join(timeout=10.0)
    assert not toggler.is_alive()
    assert toggler.rounds > 0
    for name in TOGGLED:
        os.environ.pop(name, None)
    return results


def test_viscous_batch_survives_environment_changes(n2412, clean_environment, capfd):
    baseline = _velaro.analyze_faithful_batch(n2412, ALPHAS)
    assert all(d["success"] for d in baseline)
    runs = run_while_toggling(lambda: _velaro.analyze_faithful_batch(n2412, ALPHAS))
    assert runs
    for run in runs:
        # Exact equality: each angle is solved independently with the same
        # switches that matter for the numbers, so nothing may differ.
        assert run == baseline
    capfd.readouterr()  # drop the trace lines of runs that caught a switch set


def test_inviscid_batch_survives_environment_changes(n2412, clean_environment):
    alphas = [-4.0, -1.0, 0.0, 2.5, 5.0, 8.0, 10.0, 12.0]
    baseline = _velaro.analyze_inviscid_batch(n2412, alphas)
    assert all(d["success"] for d in baseline)
    runs = run_while_toggling(lambda: _velaro.analyze_inviscid_batch(n2412, alphas))
    assert runs
    for run in runs:
        assert run == baseline


def test_switch_set_at_the_call_reaches_every_worker(n2412, clean_environment, capfd):
    # The update trace writes one line per Newton iteration; with the switch
    # set when the batch starts, every angle's worker must write all of its
    # lines even though the workers never look at the environment.
    os.environ["VELARO_UPDATE_DEBUG"] = "1"
    try:
        capfd.readouterr()
        results = _velaro.analyze_faithful_batch(n2412, ALPHAS)
    finally:
        del os.environ["VELARO_UPDATE_DEBUG"]
    err = capfd.readouterr().err
    lines = [line for line in err.splitlines() if line.startswith("[UPDATE DEBUG] cl_new=")]
    assert len(lines) == sum(d["iterations"] for d in results)

    # Unset at the call: no trace lines at all, and the same numbers.
    quiet = _velaro.analyze_faithful_batch(n2412, ALPHAS)
    assert "[UPDATE DEBUG]" not in capfd.readouterr().err
    assert quiet == results


def test_switch_snapshot_is_taken_when_the_call_starts(n2412, clean_environment):
    # VELARO_DISABLE_STMOVE changes behaviour, so the batch must apply the
    # value it had when it was called to every angle, the same as the
    # single-point calls do.
    os.environ["VELARO_DISABLE_STMOVE"] = ""
    try:
        batch = _velaro.analyze_faithful_batch(n2412, [2.0, 5.0])
        singles = [_velaro.analyze_faithful(n2412, a) for a in (2.0, 5.0)]
    finally:
        del os.environ["VELARO_DISABLE_STMOVE"]
    for b, s in zip(batch, singles):
        for key in s:
            assert b[key] == s[key], key


def test_switch_set_during_a_batch_is_not_seen_by_the_workers(n2412, clean_environment, capfd):
    # A long switch interval keeps the calling thread on the interpreter lock
    # until the batch releases it, which it does only after taking its switch
    # snapshot. The setter thread can therefore only run once the snapshot is
    # taken, and sets the update trace while the workers iterate: a worker
    # that read the environment would start writing trace lines.
    go = threading.Event()
    set_during_call = []

    def setter():
        go.wait()
        os.environ["VELARO_UPDATE_DEBUG"] = "1"
        set_during_call.append(True)

    old_interval = sys.getswitchinterval()
    thread = threading.Thread(target=setter, daemon=True)
    thread.start()
    try:
        capfd.readouterr()
        sys.setswitchinterval(30.0)
        go.set()
        results = _velaro.analyze_faithful_batch(n2412, ALPHAS)
    finally:
        sys.setswitchinterval(old_interval)
        go.set()
        thread.join(timeout=10.0)
        os.environ.pop("VELARO_UPDATE_DEBUG", None)
    assert set_during_call == [True]
    assert all(d["success"] for d in results)
    assert "[UPDATE DEBUG]" not in capfd.readouterr().err
