#!/usr/bin/env bash
# The benchmarks in one command:
#   bench/run.sh [--profile classic|modern|both] [--runs N] [--only harvo,wget2,...]
#                [--no-micro] [--no-bigfile] [--pages N] ...
# Installs the peers (bench/setup), builds harvo and the micro benchmarks in build-bench/
# (RelWithDebInfo, the build that "make" makes, with -DHARVO_BENCH=ON), runs the micro
# benchmarks (medians of 3 repetitions), then bench/run.py: per generated site (both by
# default), harvo, wget, wget2 and HTTrack copy it from a private nginx on 127.0.0.1 in paired
# rounds (5 by default), defaults against defaults and one connection against one connection,
# beside curl floors for harvo's own request lists; the target checks and the access-log facts
# are printed under each table; harvo's peak memory on a 1 GiB file; all of it written to
# bench/results.md. Every server and temporary folder it makes is gone when it ends. Other
# options go to bench/run.py (see its --help).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}
micro=1
args=()
for arg in "$@"; do
  case "$arg" in
    --no-micro) micro=0 ;;
    *) args+=("$arg") ;;
  esac
done

"$root/bench/setup"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARVO_BENCH=ON \
  -DHARVO_BUILD_TESTS=OFF >/dev/null
targets=(harvo_cli)
[ "$micro" = 1 ] && targets+=(harvo_micro_bench)
cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null

micro_json=""
tmp=$(mktemp -d "${TMPDIR:-/tmp}/harvo-bench-run.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
if [ "$micro" = 1 ]; then
  micro_json="$tmp/micro.json"
  echo "Micro benchmarks (build-bench/bench/harvo_micro_bench)"
  "$build/bench/harvo_micro_bench" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_out="$micro_json" \
    --benchmark_out_format=json
fi

python3 "$root/bench/run.py" --harvo "$build/tools/harvo/harvo" \
  ${micro_json:+--micro "$micro_json"} "${args[@]+"${args[@]}"}" -- "$@"
