"""Velaro's main job: generate a NACA 2412 section and print its points."""

import _velaro

points = _velaro.generate_naca4(2412)
print(f"NACA 2412: {len(points)} points (x, y), trailing edge -> upper -> leading edge -> lower -> trailing edge")
for x, y in points:
    print(f"{x:.6f} {y:+.6f}")
