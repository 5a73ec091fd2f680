#!/usr/bin/env bash
# Velaro's main job: the viscous polar of the NACA 2412 at Re 1e6, alpha -4 to
# 16 degrees by 0.5, as a table on the terminal, a CSV file and a picture.
# Run it from anywhere; the files go to results/ in the checkout.
set -uo pipefail
cd "$(dirname "$0")/.."
mkdir -p results

# The console script when it is on PATH, else the same command through Python.
if command -v velaro >/dev/null 2>&1; then velaro=(velaro); else velaro=(python3 -m velaro); fi

"${velaro[@]}" polar naca2412 --re 1e6 --alpha -4:16:0.5 \
  --plot results/naca2412_re1e6.png --out results/naca2412_re1e6.csv
status=$?
if [ -f results/naca2412_re1e6.png ] && [ "$status" -ne 2 ]; then
  echo "main job: the picture is $(pwd)/results/naca2412_re1e6.png (the table is also in results/naca2412_re1e6.csv)"
fi
exit "$status"
