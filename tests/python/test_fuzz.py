"""Property-based tests over all nine functions: no crash, every success
finite and plausible, every failure a failure dictionary or one of the
documented exceptions. A bounded number of examples; the long run is
scripts/fuzz_long.py."""

import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import fuzz_cases

CHEAP = [f for f in fuzz_cases.FUNCTIONS if "faithful" not in f and f != "get_bl_distribution"]
VISCOUS = ["analyze_faithful", "analyze_faithful_batch", "get_bl_distribution"]


def check(name, seed, tmp_path):
    args, kwargs = fuzz_cases.make_case(random.Random(seed), name, str(tmp_path))
    status, detail = fuzz_cases.run_case(name, args, kwargs)
    assert status in ("ok", "raised"), (name, seed, status, detail)


@pytest.mark.asan
@pytest.mark.parametrize("name", CHEAP)
@settings(max_examples=100, deadline=None, derandomize=True, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(seed=st.integers(min_value=0, max_value=2**32 - 1))
def test_cheap_functions_never_misbehave(name, seed, tmp_path):
    check(name, seed, tmp_path)


@pytest.mark.parametrize("name", VISCOUS)
@settings(max_examples=25, deadline=None, derandomize=True, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(seed=st.integers(min_value=0, max_value=2**32 - 1))
def test_viscous_functions_never_misbehave(name, seed, tmp_path):
    check(name, seed, tmp_path)
