#!/usr/bin/env bash
# Set up (when needed) and run Velaro's main job: velaro polar naca2412 ... --plot results/naca2412_re1e6.png
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash examples/main_job.sh
