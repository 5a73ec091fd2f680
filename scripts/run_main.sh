#!/usr/bin/env bash
# Set up (when needed) and run Velaro's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
python3 examples/main_job.py
