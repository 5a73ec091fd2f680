"""A process forked while another thread is inside a batch can still run
batches."""

import os
import threading
import time

import pytest

import _velaro
from conftest import naca_coords

N0012 = naca_coords(12)


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


# Python 3.12 and later warn about fork() in a process with threads: that is
# the situation under test.
@pytest.mark.filterwarnings("ignore:.*fork.*:DeprecationWarning")
@pytest.mark.parametrize("batch", ["inviscid", "viscous"])
def test_child_forked_during_a_batch_runs_its_own_batch(batch):
    expected = _velaro.analyze_inviscid_batch(N0012, [0.0, 2.0, 4.0])
    expected_visc = _velaro.analyze_faithful_batch(N0012, [2.0, 4.0])
    busy = threading.Event()

    def long_batch():
        busy.set()
        if batch == "inviscid":
            _velaro.analyze_inviscid_batch(N0012, [1.0] * 300)
        else:
            _velaro.analyze_faithful_batch(N0012, [1.0, 2.0, 3.0, 4.0, 5.0, 6.0])

    t = threading.Thread(target=long_batch)
    t.start()
    busy.wait()
    time.sleep(0.2)  # well inside the batch
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            ok = _velaro.analyze_inviscid_batch(N0012, [0.0, 2.0, 4.0]) == expected
            ok = ok and _velaro.analyze_faithful_batch(N0012, [2.0, 4.0]) == expected_visc
            code = 0 if ok else 2
        finally:
            os._exit(code)
    status = wait_for_child(pid, timeout=20)
    t.join()
    assert status == 0, "child hung" if status is None else f"child exit {status}"
