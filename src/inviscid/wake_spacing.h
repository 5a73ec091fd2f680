#pragma once
// Geometrically stretched point spacing for the wake.
#include <cstddef>
#include <vector>

namespace velaro {

// `count` arc-length positions s[0] = 0, s[k+1] - s[k] = ds1 * r^k, with the
// ratio r chosen so that s[count-1] = smax. count 1 gives [0], count 2 gives
// [0, ds1] whatever smax is, count 0 gives an empty vector. The ratio is
// found by a Newton iteration on the count-1'th root of the series sum; an
// unconverged iteration keeps its last finite ratio, so the call never fails.
std::vector<double> geometric_spacing(std::size_t count, double ds1, double smax);

}  // namespace velaro
