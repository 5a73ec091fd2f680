"""Calling conventions shared by every module function."""

import inspect
import math

import pytest

import _velaro

# Text signature and docstring body of every public function.
TABLE = {
    "analyze_faithful": (
        "(coords, alpha_deg, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)",
        "Viscous (KELVO-faithful) analysis at a single operating point.\n\n"
        "Returns a dict with keys: cl, cd, cm, converged, iterations, residual,\n"
        "x_tr_upper, x_tr_lower, cd_friction, cd_pressure, alpha_deg, success, error.",
    ),
    "analyze_inviscid": (
        "(coords, alpha_deg)",
        "Inviscid panel-method analysis at a single angle of attack.\n\n"
        "Returns a dict with keys: cl, cm, cp, cp_x, success, error.",
    ),
    "analyze_faithful_batch": (
        "(coords, alphas, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)",
        "Batch viscous analysis: solve multiple alphas in parallel on a worker pool.\n\n"
        "Returns a list of dicts (same schema as analyze_faithful), one per alpha.",
    ),
    "analyze_inviscid_batch": (
        "(coords, alphas)",
        "Batch inviscid analysis: solve multiple alphas in parallel on a worker pool.\n\n"
        "Returns a list of dicts (same schema as analyze_inviscid), one per alpha.",
    ),
    "generate_naca4": (
        "(designation, n_points_per_side=None)",
        "Generate NACA 4-series airfoil using KELVO's exact algorithm.\n\nReturns a list of (x, y) tuples.",
    ),
    "repanel_kelvo": (
        "(coords, n_panels=160, curv_param=1.0, te_le_ratio=0.15, te_spacing_ratio=0.667)",
        "Repanel airfoil using KELVO's curvature-based algorithm.\n\nReturns a list of (x, y) tuples.",
    ),
    "deflect_flap": (
        "(coords, hinge_x_frac, deflection_deg, hinge_y_frac=0.5)",
        "Deflect a flap on an airfoil by rotating points aft of the hinge.\n\n"
        "Returns a list of (x, y) tuples with the flap applied.",
    ),
    "parse_dat_file": (
        "(path)",
        "Parse a Selig/Lednicer .dat file and return coordinate tuples.\n\n"
        "Returns a list of (x, y) tuples. Skips header lines automatically.",
    ),
    "get_bl_distribution": (
        "(coords, alpha_deg, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)",
        "Compute boundary-layer distributions for a viscous operating point.\n\n"
        "Returns a dict with keys: x_upper, x_lower, theta_upper, theta_lower,\n"
        "delta_star_upper, delta_star_lower, h_upper, h_lower, cf_upper, cf_lower,\n"
        "ue_upper, ue_lower, x_tr_upper, x_tr_lower, converged, iterations,\n"
        "residual, success, error.",
    ),
}

REGISTERED = [name for name in TABLE if hasattr(_velaro, name)]
COORD_FUNCTIONS = [n for n in ("analyze_inviscid", "repanel_kelvo", "deflect_flap", "analyze_faithful") if hasattr(_velaro, n)]


def test_module_docstring_is_empty_and_functions_registered_in_table_order():
    assert _velaro.__doc__ == ""
    public = [n for n in dir(_velaro) if not n.startswith("_")]
    assert set(public) == set(REGISTERED)
    assert "generate_naca4" in REGISTERED and "parse_dat_file" in REGISTERED
    order = [n for n in vars(_velaro) if n in TABLE]
    assert order == [n for n in TABLE if n in order]


@pytest.mark.parametrize("name", REGISTERED)
def test_docstring_and_text_signature(name):
    fn = getattr(_velaro, name)
    sig, body = TABLE[name]
    assert inspect.isbuiltin(fn)
    assert fn.__text_signature__ == sig
    assert fn.__doc__ == body
    params = inspect.signature(fn).parameters
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params.values())


@pytest.mark.parametrize("name", REGISTERED)
def test_missing_and_unknown_arguments_raise_type_error(name):
    fn = getattr(_velaro, name)
    with pytest.raises(TypeError):
        fn()
    with pytest.raises(TypeError):
        fn(no_such_parameter=1)


class IndexLike:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class FloatLike:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


def test_unsigned_integer_conversion():
    # The index protocol is accepted, floats and strings are refused.
    assert _velaro.generate_naca4(IndexLike(12), IndexLike(3)) == _velaro.generate_naca4(12, 3)
    assert _velaro.generate_naca4(True, 2) == _velaro.generate_naca4(1, 2)
    for bad, name in ((2412.0, "designation"), ("2412", "designation")):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            _velaro.generate_naca4(bad)
    with pytest.raises(TypeError, match="^argument 'n_points_per_side': "):
        _velaro.generate_naca4(12, 3.0)
    # Negative values: the interpreter's own overflow message.
    with pytest.raises(OverflowError, match="negative"):
        _velaro.generate_naca4(-1)
    with pytest.raises(OverflowError, match="negative"):
        _velaro.generate_naca4(12, -5)
    # Values beyond 32 bits for the designation.
    for big in (2**32, 2**64, 2**100):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            _velaro.generate_naca4(big)
    assert len(_velaro.generate_naca4(2**32 - 1, 2)) == 3
    with pytest.raises(OverflowError):
        _velaro.generate_naca4(12, 2**64)


def test_keywords_in_any_order():
    a = _velaro.generate_naca4(2412, 40)
    assert _velaro.generate_naca4(n_points_per_side=40, designation=2412) == a
    assert _velaro.generate_naca4(2412, n_points_per_side=40) == a
    with pytest.raises(TypeError):
        _velaro.generate_naca4(2412, designation=12)


def test_path_must_be_str(tmp_path):
    import pathlib

    class MyStr(str):
        pass

    f = tmp_path / "a.dat"
    f.write_text("1 0\n0 0\n1 0.1\n")
    assert len(_velaro.parse_dat_file(MyStr(str(f)))) == 3
    with pytest.raises(TypeError, match="^argument 'path': "):
        _velaro.parse_dat_file(pathlib.Path(f))
    with pytest.raises(TypeError, match="^argument 'path': "):
        _velaro.parse_dat_file(str(f).encode())


@pytest.mark.skipif(not COORD_FUNCTIONS, reason="no function takes coordinates yet")
@pytest.mark.parametrize("name", COORD_FUNCTIONS)
def test_coordinate_sequence_conversion(name):
    fn = getattr(_velaro, name)
    extra = {"analyze_inviscid": (0.0,), "analyze_faithful": (0.0,), "repanel_kelvo": (), "deflect_flap": (0.7, 5.0)}[name]
    with pytest.raises(TypeError, match="^argument 'coords': Can't extract `str` to `Vec`$"):
        fn("0 0 1 1 2 2", *extra)
    with pytest.raises(TypeError, match="^argument 'coords': "):
        fn(12, *extra)
    with pytest.raises(TypeError, match="^argument 'coords': "):
        fn({0: 1.0}, *extra)
    # The tuple list a geometry function returns must be flattened first.
    pts = _velaro.generate_naca4(12, 30)
    with pytest.raises(TypeError, match="^argument 'coords': "):
        fn(pts, *extra)
    flat = [v for p in pts for v in p]
    expected = fn(flat, *extra)
    # Tuples, ranges of ints and objects with __float__ or __index__ convert.
    assert fn(tuple(flat), *extra) == expected
    assert fn([FloatLike(v) for v in flat], *extra) == expected
    ints = [IndexLike(1), IndexLike(0), 0, 0, 1, 1]
    fn(ints, *extra)


def test_float_protocol_errors_name_the_argument():
    if "analyze_inviscid" not in REGISTERED:
        pytest.skip("no float argument registered yet")
    with pytest.raises(TypeError, match="^argument 'alpha_deg': "):
        _velaro.analyze_inviscid([1, 0, 0, 0, 1, 0.1], "1.0")
    with pytest.raises(TypeError, match="^argument 'alpha_deg': "):
        _velaro.analyze_inviscid([1, 0, 0, 0, 1, 0.1], None)
    assert math.isclose(
        _velaro.analyze_inviscid([1, 0, 0, 0.1, 0, -0.1, 1, 0], FloatLike(2.0))["cl"],
        _velaro.analyze_inviscid([1, 0, 0, 0.1, 0, -0.1, 1, 0], 2.0)["cl"],
    )


def test_item_errors_propagate_non_type_errors():
    if not COORD_FUNCTIONS:
        pytest.skip("no function takes coordinates yet")

    class Boom:
        def __float__(self):
            raise ValueError("boom")

    fn = getattr(_velaro, COORD_FUNCTIONS[0])
    with pytest.raises(ValueError, match="boom"):
        fn([Boom()] * 8, *({"analyze_inviscid": (0.0,), "analyze_faithful": (0.0,), "deflect_flap": (0.7, 5.0)}.get(COORD_FUNCTIONS[0], ())))


def test_stub_lists_every_registered_function_with_its_parameters():
    import ast
    import pathlib

    stub = pathlib.Path(__file__).resolve().parents[2] / "src" / "python" / "_velaro.pyi"
    tree = ast.parse(stub.read_text())
    funcs = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    assert set(funcs) == set(REGISTERED)
    for name in REGISTERED:
        params = inspect.signature(getattr(_velaro, name)).parameters
        args = funcs[name].args
        assert [a.arg for a in args.args] == list(params)
        defaults = [ast.literal_eval(d) for d in args.defaults]
        expected = [p.default for p in params.values() if p.default is not inspect.Parameter.empty]
        assert defaults == expected
        assert funcs[name].returns is not None
