#!/usr/bin/env bash
# Set up (when needed) and run the whole test suite: the C++ units in a
# release build and again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the Python tests against the installed module, and a marked subset of
# them against the module built with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
# Warnings as errors in the C++ builds.
werror=ON
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

echo "== C++ units (release)"
cmake -S . -B build-tests "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DVELARO_BUILD_PYTHON=OFF -DVELARO_BUILD_TESTS=ON -DVELARO_WERROR="$werror" >/dev/null
cmake --build build-tests -j "$jobs"
ctest --test-dir build-tests --output-on-failure -j "$jobs"

echo "== C++ units (address and undefined-behaviour sanitizers)"
cmake -S . -B build-asan "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELARO_BUILD_PYTHON=OFF -DVELARO_BUILD_TESTS=ON -DVELARO_SANITIZE=ON -DVELARO_WERROR="$werror" >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== Python tests"
python3 -m pytest -q tests/python

# The tests marked "asan" (interrupts, files, a short fuzz run) once more
# against the module built with the sanitizers. The interpreter itself is
# not instrumented, so the AddressSanitizer runtime is preloaded, with the
# C++ runtime after it (its exception interceptor needs the real __cxa_throw
# at start-up); leak reports are off (the interpreter keeps memory to its
# exit by design).
echo "== Python tests (marked subset) against the sanitizer-built module"
cmake -S . -B build-py-asan "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELARO_BUILD_PYTHON=ON -DVELARO_SANITIZE=ON -DVELARO_WERROR="$werror" \
  -Dpybind11_DIR="$(python3 -m pybind11 --cmakedir)" >/dev/null
cmake --build build-py-asan --target _velaro _engine -j "$jobs"
LD_PRELOAD="$(${CXX:-g++} -print-file-name=libasan.so) $(${CXX:-g++} -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0 \
  UBSAN_OPTIONS=print_stacktrace=1 PYTHONPATH="$PWD/build-py-asan" \
  python3 -m pytest -q -m asan -p no:cacheprovider tests/python
