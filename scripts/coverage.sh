#!/usr/bin/env bash
# Line coverage of the C++ tests (the ctest suites of unit, differential and property tests,
# including those that load the modules through the stand-in host, and the fuzz drivers'
# replays of their seeds and regressions) and of the Python estimator's tests over core/,
# learn/, recall/, engine/ and python/src/. Builds in build-coverage/ with g++ --coverage -O0, runs the tests,
# then prints per file and per folder the lines reached, the lines no test reaches as
# file:line ranges, and last the line `total line coverage: NN.N%`.
#
# Sources in those folders that no test builds (the engine's and the Python extension's entry
# points, the real hosts' layers) are compiled once with --coverage without running, so that
# they count with all their lines unreached. Functions compiled for an instruction set this
# processor lacks (__attribute__((target("avx512f"))) and the like) cannot run here; their
# lines are left out, and the output says how many and why.
#
#   scripts/coverage.sh            build, run, report
#   scripts/coverage.sh --report   report from the counts the last run left
# SPHNET_COVERAGE_LACKS="avx512f ..." treats those features as missing (to check the exclusion).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-coverage
jobs=$(nproc)
started=$SECONDS

report_only=0
[ "${1:-}" = "--report" ] && report_only=1
if ((report_only)) && [ ! -d "$build" ]; then
    echo "no $build/ yet: run scripts/coverage.sh without --report first" >&2
    exit 1
fi

tests_status=0
if ((report_only == 0)); then
    scripts/install_deps.sh
    if ! command -v gcovr >/dev/null; then
        echo "Installing: gcovr"
        sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq gcovr >/dev/null
    fi

    # Atomic counters: recall's worker threads share them, and racing plain increments give
    # negative branch counts that gcov cannot report.
    flags="--coverage -fprofile-update=atomic -O0"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
        -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
        -DSPHNET_OCTAVE=OFF -DSPHNET_MATLAB=OFF -DSPHNET_PYTHON=ON >/dev/null
    # Every test target (the fuzz drivers replaying their seeds and regressions, the stand-in
    # modules the tests load) and the Python extension.
    cmake --build "$build" -j "$jobs" --target tests/all sphnet_python
    find "$build" -name '*.gcda' -delete
    # Only the suites under tests/: the package checks at the top level need Octave.
    ctest --test-dir "$build/tests" -j "$jobs" --output-on-failure || tests_status=$?
    # The Python layer, through the estimator's tests, beside the package's own sources.
    cp python/sphnet/*.py "$build/python/sphnet/"
    PYTHONPATH="$root/$build/python" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
        tests/python/test_classifier.py || tests_status=$?
fi

# Sources that no test target compiles: compile each once for its counting notes (.gcno).
uncalled="$build/uncalled"
mkdir -p "$uncalled"
rm -f "$uncalled/not_compiled.txt"
common=(-std=c++17 -O0 --coverage -w -Icore/host -Icore/model -Icore/search -Icore/work -Ilearn -Irecall)
for source in $(find core learn recall engine python/src -name '*.cpp' | sort); do
    object="$uncalled/${source//\//_}.o"
    if [ -n "$(find "$build" -name "$(basename "$source").gcno" -path "*/$source.gcno" -print -quit)" ]; then
        rm -f "${object%.o}".*  # a test target builds it now
        continue
    fi
    # The host layers and entry points build against the host's own headers, as the modules do.
    case "$source" in
        python/src/*|core/host/per_host/host_python.cpp)
            host=(-Icore/host/per_host/python $(/usr/bin/python3 -m pybind11 --includes 2>/dev/null)) ;;
        *)
            octave_include=$(mkoctfile -p OCTINCLUDEDIR 2>/dev/null || true)
            host=(-I"$octave_include/.." -I"$octave_include") ;;
    esac
    ((report_only)) && [ -f "$object" ] && continue  # a full run compiles afresh
    if ! g++ "${common[@]}" "${host[@]}" -c "$root/$source" -o "$object" 2>"$object.log"; then
        echo "$source" >>"$uncalled/not_compiled.txt"
    fi
done

lacks=${SPHNET_COVERAGE_LACKS:-}
for feature in avx512f avx2; do
    grep -qw "$feature" /proc/cpuinfo || lacks="$lacks $feature"
done

gcovr -r . --json -o "$build/coverage.json" -f 'core/' -f 'learn/' -f 'recall/' -f 'engine/' \
    -f 'python/src/' --exclude-unreachable-branches "$build" 2>"$build/gcovr.log" || {
    cat "$build/gcovr.log" >&2
    exit 1
}

/usr/bin/python3 - "$build" "$lacks" "$((SECONDS - started))" "$report_only" "$tests_status" <<'PY'
import json, os, re, sys

build, lacks = sys.argv[1], set(sys.argv[2].split())
seconds, report_only, tests_status = int(sys.argv[3]), sys.argv[4] == "1", int(sys.argv[5])
folders = ["core/", "learn/", "recall/", "engine/", "python/src/"]
cpu_flags = set()
with open("/proc/cpuinfo") as f:
    for line in f:
        if line.startswith("flags"):
            cpu_flags = set(line.split(":", 1)[1].split())
            break
cpu_flags -= lacks

def strip_code(text):
    """The source with comments and string/char literals blanked, lines kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i)); i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j])); i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + re.sub(r"[^\n]", " ", text[i + 1:j]) + c); i = j + 1
        else:
            out.append(c); i += 1
    return "".join(out)

def foreign_functions(path):
    """(first, last, features) of each function compiled for features this processor lacks."""
    with open(path, encoding="utf-8", errors="replace") as f:
        raw = f.read()
    code = strip_code(raw)
    found = []
    for m in re.finditer(r'__attribute__\s*\(\(([^;{]*?)\)\)', raw):
        t = re.search(r'target\s*\(\s*"([^"]*)"', m.group(1))
        if not t:
            continue
        missing = sorted(x for x in (s.strip() for s in t.group(1).split(",")) if x and x not in cpu_flags)
        if not missing:
            continue
        brace, semi = code.find("{", m.end()), code.find(";", m.end())
        if brace < 0 or (0 <= semi < brace and "(" in code[m.end():semi]
                         and code[m.end():semi].count("(") == code[m.end():semi].count(")")
                         and "{" not in code[m.end():semi]):
            continue  # a declaration only
        depth, j = 0, brace
        while j < len(code):
            if code[j] == "{": depth += 1
            elif code[j] == "}":
                depth -= 1
                if depth == 0: break
            j += 1
        first = raw.count("\n", 0, m.start()) + 1
        last = raw.count("\n", 0, j) + 1
        found.append((first, last, missing))
    return found

def ranges(numbers):
    out, numbers = [], sorted(numbers)
    for k in numbers:
        if out and k == out[-1][1] + 1: out[-1][1] = k
        else: out.append([k, k])
    return ",".join(str(a) if a == b else f"{a}-{b}" for a, b in out)

def percent(hit, total):
    return 100.0 * hit / total if total else 0.0

with open(os.path.join(build, "coverage.json")) as f:
    data = json.load(f)
files = {}
for entry in data["files"]:
    path = entry["file"]
    if not any(path.startswith(d) for d in folders):
        continue
    lines = {}
    for line in entry["lines"]:
        if line.get("gcovr/noncode"):
            continue
        n = line["line_number"]
        lines[n] = max(lines.get(n, 0), line["count"])
    files[path] = lines

excluded = {}  # path -> [(first, last, missing, lines excluded)]
for path, lines in files.items():
    for first, last, missing in foreign_functions(path):
        gone = [n for n in lines if first <= n <= last]
        for n in gone:
            del lines[n]
        excluded.setdefault(path, []).append((first, last, missing, len(gone)))

not_compiled = []
nc_path = os.path.join(build, "uncalled", "not_compiled.txt")
if os.path.exists(nc_path):
    not_compiled = [l.strip() for l in open(nc_path) if l.strip()]

print("\n== line coverage by the C++ tests (unit, differential, property, fuzz replays) and the Python estimator tests ==")
total_hit = total_lines = 0
for folder in folders:
    in_folder = sorted(p for p in files if p.startswith(folder)
                       and not any(p.startswith(d) and len(d) > len(folder) for d in folders))
    hit = lines_n = 0
    print(f"{folder}")
    for path in in_folder:
        lines = files[path]
        h = sum(1 for c in lines.values() if c > 0)
        hit += h; lines_n += len(lines)
        if lines:
            print(f"  {path[len(folder):]:<34} {h:5d}/{len(lines):<5d} {percent(h, len(lines)):5.1f}%")
    print(f"  {'(folder)':<34} {hit:5d}/{lines_n:<5d} {percent(hit, lines_n):5.1f}%"
          + ("" if in_folder else "   no source here is compiled"))
    total_hit += hit; total_lines += lines_n

print("\n== lines no test reaches (file: line ranges) ==")
for path in sorted(files):
    missed = [n for n, c in files[path].items() if c == 0]
    if missed:
        print(f"{path}: {ranges(missed)}")

print("\n== lines not counted ==")
count = sum(e[3] for v in excluded.values() for e in v)
have = sorted(f for f in ("avx512f", "avx2") if f in cpu_flags)
print(f"this processor has: {' '.join(have) or 'neither avx2 nor avx512f'}"
      + (f"; treated as missing: {' '.join(sorted(lacks))}" if lacks else ""))
if excluded:
    print(f"{count} lines excluded: functions compiled for instruction sets this processor lacks")
    for path in sorted(excluded):
        for first, last, missing, n in excluded[path]:
            print(f"  {path}:{first}-{last} target {','.join(missing)}: {n} lines")
else:
    print("0 lines excluded: no function here targets an instruction set this processor lacks")
for source in not_compiled:
    print(f"{source}: not counted, does not compile here (see {build}/uncalled/)")
if not report_only:
    print(f"\nbuild and tests took {seconds} s")
if tests_status:
    print(f"some tests failed (ctest status {tests_status}): the figures count what ran")
print(f"\ntotal line coverage: {percent(total_hit, total_lines):.1f}%")
PY

exit "$tests_status"
