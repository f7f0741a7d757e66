#!/usr/bin/env bash
# The benchmark through the real host: Octave calls the Release modules (whole calls, conversions
# included), beside the literal scan built as Octave modules and nearest-neighbour peers
# (scikit-learn, FAISS) on the same nodes and patterns. Installs its own benchmark-only Python
# packages (never part of the main job) and prints the table.
#   scripts/run_octave_benchmarks.sh [--quick] [--toolbox DIR] [--only PATTERN] [--plan TEXT]
#     --quick         N divided by 10 and P by 20, fewer repeats, smaller time budgets (about 4 min)
#     --toolbox DIR   time the modules already built in DIR instead of building build-bench-octave/
#     --only PATTERN  run only the rows whose name matches the regular expression, e.g.
#                     'recall overlap', 'n=784', 'target'
#     --plan TEXT     time sphnet through the engine module with this forced search plan
#                     (core/search/search_plan.h, e.g. 'cover=grid' or 'foreign=lists'), to set
#                     one structure beside another; memory and peers are left out
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$root/build-bench-octave"
quick=false
toolbox=""
only=""
plan=""
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=true ;;
        --toolbox) toolbox="$(cd "$2" && pwd)"; shift ;;
        --only) only="$2"; shift ;;
        --plan) plan="$2"; shift ;;
        *) echo "usage: $0 [--quick] [--toolbox DIR] [--only PATTERN] [--plan TEXT]" >&2; exit 2 ;;
    esac
    shift
done

python=/usr/bin/python3   # Debian's, where apt installs the peers
packages=(python3-numpy python3-sklearn python3-faiss libopenblas0-pthread)
if ! "$python" -c 'import numpy, sklearn, faiss' 2> /dev/null; then
    echo "Installing the benchmark's Python packages: ${packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }
    apt_get install -y "${packages[@]}" > /dev/null 2>&1 ||
        { apt_get update > /dev/null && apt_get install -y "${packages[@]}" > /dev/null; }
fi
command -v octave-cli > /dev/null || { echo "octave-cli not found (scripts/install_deps.sh)" >&2; exit 1; }

log="$build_dir/build.log"
mkdir -p "$build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPHNET_TESTS=OFF \
    -DSPHNET_MATLAB=OFF > "$log" 2>&1 || { cat "$log"; exit 1; }
targets=(sphnet_literal_modules)
[ -n "$toolbox" ] || targets+=(sphnet_learn_octave sphnet_recall_octave sphnet_engine_octave)
cmake --build "$build_dir" --target "${targets[@]}" -j2 >> "$log" 2>&1 || { tail -40 "$log"; exit 1; }
toolbox="${toolbox:-$build_dir/toolbox}"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
load() { cut -d' ' -f1-3 /proc/loadavg; }
gflops="$("$python" "$root/bench/peers.py" machine | awk '{print $2}')"
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load average before: $(load)"
echo "Arithmetic limit: dgemm 4096x4096 (numpy, Debian OpenBLAS, $(nproc) threads) $gflops GFLOP/s" \
     "= $(awk -v g="$gflops" 'BEGIN{printf "%.1f", g/2}') G coordinate terms/s (1 term = 1 multiply-add)"
echo "Modules: $toolbox; literal scan: $build_dir/bench-toolbox; $(octave-cli --version | head -1)"
cat <<'HEADER'
sphnet s: median wall time of repeated Octave calls (whole call, conversions included; fewer
  repeats for long rows). Training: one sphnet_learn run (passes: list presentations, conv(erged)
  or stop(ped) at max_list_presentations). Recall: sphnet_recall(..., nn_option 1) on all P
  patterns; fallbk: share labelled by the 1-NN rule.
literal s: the literal scan (tests/differential/reference_rce) as an Octave module on the same
  work; speed-up = literal s / sphnet s on that work. '^' marks a reduced work (see notes): one
  pass, or the first K patterns, where sphnet was timed again on exactly that work (its time in
  the notes). Outputs are compared with isequal on that work (MISMATCH is printed if they differ).
peers (recall rows only; '-' for training): 1-NN on the same node centres and labels and the
  same patterns; best peer by fit+predict time, whose time is in "peer s"; sph/peer = sphnet s /
  peer s. The line below each recall row lists every peer (scikit-learn KNeighborsClassifier
  n_neighbors=1, n_jobs=-1, per algorithm; FAISS IndexFlat, float32, METRIC_L2/L1/Linf/Lp).
  '*': timed on a prefix of the patterns and scaled to all of them (the whole set would exceed
  the peer's time budget).
Gterm/s: P * nodes * n / sphnet s / 1e9, the brute-force-equivalent rate (recall).
memory: one more sphnet call in a fresh octave-cli, its inputs loaded, the resident high-water
  mark reset ("5" to /proc/self/clear_refs): peak = inputs + what the call added (outputs
  included), against 2 x (inputs + outputs) + a fixed scratch budget: 52 MiB for training (its
  block candidate lists take at most 24 MiB, or its scans' longer memories at most 43 MiB beyond
  three nodes a pattern; the module's code about 1 MB; the rest is room for
  scan state per node beyond the output's second copy), 2 MiB for recall (block state of 30 kB a thread,
  the second thread, the module's own code: 1.1 MB for 10 patterns against 300 nodes).
HEADER
start=$SECONDS
cd "$root/bench/octave"
octave-cli --no-gui --quiet --norc --eval "bench_octave_main('$toolbox', '$build_dir/bench-toolbox', \
'$root/data', '$tmp', '$python $root/bench/peers.py', $quick, '$only', '$plan')" 2>&1 |
    grep --line-buffered -v 'ignoring const execution_exception'
echo "Load average after: $(load); wall time $((SECONDS - start)) s"
