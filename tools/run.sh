#!/usr/bin/env bash
# run.sh: one command to set everything up and then run the showcase, the tests, or a checked build.
#   tools/run.sh demo      install what is missing, build, run examples/showcase.lua (frames in out/)
#   tools/run.sh test      install what is missing, build, run every test
#   tools/run.sh sanitize  the tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer
#   tools/run.sh scalar    the tests again, built with only the portable code paths
#   tools/run.sh bench     build and run the benchmarks (ratios against their baselines)
#   tools/run.sh fuzz      build the libFuzzer targets with clang and run each for QM_FUZZ_SECONDS (20)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mode="${1:-test}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/tools/install_deps.sh"

build() {  # build DIR [cmake options...]
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

case "$mode" in
  demo)
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    mkdir -p "$root/out/frames"
    python3 "$root/tools/make_images.py" --showcase "$root/out/images"
    python3 "$root/tools/make_xfiles.py" "$root/out/models" --assets
    python3 "$root/tools/make_images.py" "$root/out/models" --model-textures
    # The models name their textures relative to their own folder, so the script runs from there;
    # code page 932 lets it print its Japanese line in Shift-JIS.
    (cd "$root/out/models" && QUILLMERE_CODEPAGE=932 "$root/build/qmhost" --frames "$root/out/frames" \
      --every 10 --out "$root/out/showcase.png" "$root/examples/showcase.lua")
    echo "showcase frames written to out/frames, last frame out/showcase.png"
    ;;
  test)
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests "$root/build"
    ;;
  sanitize)
    build "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_tests "$root/build-sanitize"
    ;;
  scalar)
    build "$root/build-scalar" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FORCE_SCALAR=ON -DQM_BUILD_BENCH=OFF
    run_tests "$root/build-scalar"
    ;;
  bench)
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    for b in "$root"/build/bench/bench_*; do
      [ -x "$b" ] && "$b"
    done
    ;;
  fuzz)
    CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQM_BUILD_FUZZ=ON -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF -DQM_BUILD_HOST=OFF >/dev/null
    cmake --build "$root/build-fuzz" -j "$jobs" --target fuzz_targets
    seconds="${QM_FUZZ_SECONDS:-20}"
    for target in "$root"/build-fuzz/fuzz/*_fuzz; do
      [ -x "$target" ] || continue
      name="$(basename "$target" _fuzz)"
      corpus="$root/build-fuzz/fuzz/${name}_corpus"
      seeds="$root/build-fuzz/fuzz/${name}_seeds"
      mkdir -p "$corpus"
      cmake --build "$root/build-fuzz" --target "${name}_seeds" >/dev/null 2>&1 || true
      [ -d "$seeds" ] || seeds=""
      echo "fuzzing $name for ${seconds}s"
      "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" $seeds
    done
    ;;
  *)
    echo "usage: tools/run.sh demo|test|sanitize|scalar|bench|fuzz" >&2
    exit 2
    ;;
esac
