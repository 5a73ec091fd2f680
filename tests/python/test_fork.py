"""A process forked while another thread is inside a batch or a single
call can still run them."""

import pytest

import _velaro
from conftest import assert_forked_child_passes, naca_coords

N0012 = naca_coords(12)


# Python 3.12 and later warn about fork() in a process with threads: that is
# the situation under test.
@pytest.mark.filterwarnings("ignore:.*fork.*:DeprecationWarning")
@pytest.mark.parametrize("batch", ["inviscid", "viscous", "single"])
def test_child_forked_during_a_batch_runs_its_own_batch(batch):
    expected = _velaro.analyze_inviscid_batch(N0012, [0.0, 2.0, 4.0])
    expected_visc = _velaro.analyze_faithful_batch(N0012, [2.0, 4.0])

    def long_batch():
        if batch == "inviscid":
            _velaro.analyze_inviscid_batch(N0012, [1.0] * 300)
        elif batch == "single":
            # Single calls run on job threads kept between calls: the child
            # inherits none of them and must start its own.
            for _ in range(40):
                _velaro.analyze_faithful(N0012, 3.0)
        else:
            _velaro.analyze_faithful_batch(N0012, [1.0, 2.0, 3.0, 4.0, 5.0, 6.0])

    def same_batches():
        return (_velaro.analyze_inviscid_batch(N0012, [0.0, 2.0, 4.0]) == expected
                and _velaro.analyze_faithful_batch(N0012, [2.0, 4.0]) == expected_visc)

    # Forked 0.2 s into the long batch.
    assert_forked_child_passes(long_batch, same_batches, delay=0.2, timeout=20)
