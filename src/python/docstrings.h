#pragma once
// Documentation strings of the module functions: the text signature, a
// "--" line and an empty line, then the body. Python derives
// __text_signature__ (and so inspect.signature) from the first line.

namespace velaro::python::doc {

inline constexpr const char* analyze_faithful =
    "analyze_faithful(coords, alpha_deg, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)\n--\n\n"
    "Viscous (KELVO-faithful) analysis at a single operating point.\n\n"
    "Returns a dict with keys: cl, cd, cm, converged, iterations, residual,\n"
    "x_tr_upper, x_tr_lower, cd_friction, cd_pressure, alpha_deg, success, error.";

inline constexpr const char* analyze_inviscid =
    "analyze_inviscid(coords, alpha_deg)\n--\n\n"
    "Inviscid panel-method analysis at a single angle of attack.\n\n"
    "Returns a dict with keys: cl, cm, cp, cp_x, success, error.";

inline constexpr const char* analyze_faithful_batch =
    "analyze_faithful_batch(coords, alphas, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)\n--\n\n"
    "Batch viscous analysis: solve multiple alphas in parallel on a worker pool.\n\n"
    "Returns a list of dicts (same schema as analyze_faithful), one per alpha.";

inline constexpr const char* analyze_inviscid_batch =
    "analyze_inviscid_batch(coords, alphas)\n--\n\n"
    "Batch inviscid analysis: solve multiple alphas in parallel on a worker pool.\n\n"
    "Returns a list of dicts (same schema as analyze_inviscid), one per alpha.";

inline constexpr const char* generate_naca4 =
    "generate_naca4(designation, n_points_per_side=None)\n--\n\n"
    "Generate NACA 4-series airfoil using KELVO's exact algorithm.\n\n"
    "Returns a list of (x, y) tuples.";

inline constexpr const char* repanel_kelvo =
    "repanel_kelvo(coords, n_panels=160, curv_param=1.0, te_le_ratio=0.15, te_spacing_ratio=0.667)\n--\n\n"
    "Repanel airfoil using KELVO's curvature-based algorithm.\n\n"
    "Returns a list of (x, y) tuples.";

inline constexpr const char* deflect_flap =
    "deflect_flap(coords, hinge_x_frac, deflection_deg, hinge_y_frac=0.5)\n--\n\n"
    "Deflect a flap on an airfoil by rotating points aft of the hinge.\n\n"
    "Returns a list of (x, y) tuples with the flap applied.";

inline constexpr const char* parse_dat_file =
    "parse_dat_file(path)\n--\n\n"
    "Parse a Selig/Lednicer .dat file and return coordinate tuples.\n\n"
    "Returns a list of (x, y) tuples. Skips header lines automatically.";

inline constexpr const char* get_bl_distribution =
    "get_bl_distribution(coords, alpha_deg, reynolds=1.0e6, mach=0.0, ncrit=9.0, max_iterations=100, re_type=1)\n--\n\n"
    "Compute boundary-layer distributions for a viscous operating point.\n\n"
    "Returns a dict with keys: x_upper, x_lower, theta_upper, theta_lower,\n"
    "delta_star_upper, delta_star_lower, h_upper, h_lower, cf_upper, cf_lower,\n"
    "ue_upper, ue_lower, x_tr_upper, x_tr_lower, converged, iterations,\n"
    "residual, success, error.";

}  // namespace velaro::python::doc
