#pragma once
// Writing and refreshing individual boundary-layer rows: the stagnation
// placeholder row, rows (re)built for a new numbering, and the flow-regime
// flags of a side after its numbering or transition point changed.
#include <cstddef>
#include <span>

#include "viscous/state.h"

namespace velaro {

// Row 0 of `side`: a zero-speed, zero-thickness laminar placeholder at
// x = 0. Its position is the first lower node
// (ist + 1) when coords_from_geometry is set, else that of row 1. Does
// nothing when the side has fewer than two rows.
void set_stagnation_anchor(ViscousState& state, Side side, bool coords_from_geometry);

// A row for `node` at arc length xi and position (x, y) with inviscid edge
// speed uinv and its alpha derivative uinv_a (the caller passes lower-side
// speeds negated). With a previous row its boundary-layer values are kept;
// without one the row is seeded from a stagnation-flow similarity estimate
// of theta at a fixed Reynolds number of 1e6. Wake rows are turbulent.
BlRow refresh_or_seed_row(const BlRow* previous, std::size_t node, bool is_wake, double xi, double x, double y,
                          double uinv, double uinv_a);

// Regime flags of rows 1..min(rows, limit)-1: rows past iblte are wake and
// turbulent; airfoil rows lose any wake gap and are laminar when
// r < first_turbulent. A row whose regime changes keeps its first variable, which
// moves between the shear and the amplification field.
void refresh_surface_row_views(std::span<BlRow> rows, std::size_t limit, std::size_t iblte,
                               std::size_t first_turbulent);

}  // namespace velaro
