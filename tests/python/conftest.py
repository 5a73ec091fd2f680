import os
import pathlib
import signal
import sys
import threading
import time

import pytest

import _velaro

ROOT = pathlib.Path(__file__).resolve().parents[2]


def _use_the_source_package():
    """Test this tree's velaro package when _velaro comes from a build tree.

    CMake puts the package's engine module in <build>/velaro/ beside
    <build>/_velaro*.so; with PYTHONPATH=<build> the package itself comes
    from python/ of the source tree (ahead of any installed velaro), also in
    the subprocesses the tests start. An installed layout (velaro/ with its
    __init__.py beside _velaro) is left alone.
    """
    beside = pathlib.Path(_velaro.__file__).resolve().parent / "velaro"
    if (beside / "__init__.py").exists() or not any(beside.glob("_engine*")):
        return
    source = str(ROOT / "python")
    sys.path.insert(0, source)
    rest = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    os.environ["PYTHONPATH"] = os.pathsep.join([source] + rest)


_use_the_source_package()


def flat(points):
    """Flat [x0, y0, x1, y1, ...] list of a list of (x, y) points."""
    return [v for p in points for v in p]


def naca_coords(designation=12, n=None):
    """Flat [x0, y0, x1, y1, ...] list of a NACA 4-series section."""
    return flat(_velaro.generate_naca4(designation, n))


@pytest.fixture
def naca0012():
    return naca_coords(12)


@pytest.fixture
def sigint_after():
    """Sends SIGINT to this process from a timer thread after `delay` s;
    yields a function that arms it and returns a dict whose "at" is the
    time it fired."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timers = []

    def arm(delay):
        fired = {}

        def send():
            fired["at"] = time.perf_counter()
            os.kill(os.getpid(), signal.SIGINT)

        t = threading.Timer(delay, send)
        timers.append(t)
        t.start()
        return fired

    yield arm
    for t in timers:
        t.cancel()
    signal.signal(signal.SIGINT, previous)


def ticks_during(work, pause):
    """Runs work() while another thread counts, sleeping `pause` s between
    counts; returns (counts made while work() ran, its time in s). A call
    that holds the interpreter lock leaves the counter almost nothing."""
    ticks = 0
    done = threading.Event()

    def count():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(pause)

    t = threading.Thread(target=count)
    t.start()
    try:
        before = ticks
        start = time.perf_counter()
        work()
        elapsed = time.perf_counter() - start
        during = ticks - before
    finally:
        done.set()
        t.join()
    return during, elapsed


def wait_for_child(pid, timeout):
    """Exit status of the child, or None after killing it at the timeout."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None


def assert_forked_child_passes(long_work, child_check, delay, timeout):
    """Forks while another thread is `delay` s into long_work() and asserts
    that child_check() returns true in the child within `timeout` s."""
    busy = threading.Event()

    def run():
        busy.set()
        long_work()

    t = threading.Thread(target=run)
    t.start()
    busy.wait()
    time.sleep(delay)
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            code = 0 if child_check() else 2
        finally:
            os._exit(code)
    status = wait_for_child(pid, timeout)
    t.join()
    assert status == 0, "child hung" if status is None else f"child exit {status}"


def pytest_configure(config):
    config.addinivalue_line("markers", "asan: also run against the module built with AddressSanitizer")
