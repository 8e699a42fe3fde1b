#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes one target, or each in turn, for longer than the test suite does.
# Usage: tools/fuzz.sh [TARGET|all] [SECONDS]   (default: all, 300 s each)
# Targets: the fuzz/corpus/ folders. Builds the sanitize flavour if needed.
# New interesting inputs collect in build/fuzz-scratch/TARGET/corpus, crashes
# in build/fuzz-scratch/TARGET/artifacts; the committed corpus is only read.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-all}
seconds=${2:-300}
targets=()
if [ "$target" = all ]; then
    for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
elif [ -d "fuzz/corpus/$target" ]; then
    targets=("$target")
else
    echo "tools/fuzz.sh: no target '$target'; one of: $(ls fuzz/corpus | tr '\n' ' ')" >&2
    exit 2
fi

tools/deps.sh sanitize
tools/build.sh sanitize >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for t in "${targets[@]}"; do
    scratch="build/fuzz-scratch/$t"
    mkdir -p "$scratch/corpus" "$scratch/artifacts"
    max_len=$(cat "build/sanitize/fuzz/$t/max_len")  # the test suite's input size limit
    echo "== $t: ${seconds} s, new inputs in $scratch/corpus"
    if ! "build/sanitize/bin/fuzz_$t" -close_fd_mask=3 -timeout=10 -max_len="$max_len" \
            -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" "fuzz/corpus/$t"; then
        status=1
        cat <<HELP
== $t found a fault; the input is in $scratch/artifacts/ (crash-*, timeout-*, leak-*).
   Reproduce:  build/sanitize/bin/fuzz_$t $scratch/artifacts/FILE
   Once fixed, keep it as a regression input (fuzz.$t.replay then runs it):
       cp $scratch/artifacts/FILE fuzz/corpus/$t/SHORT_NAME
   and add a unit test in tests/unit that states the fault in the parser's own terms.
HELP
    fi
done
cat <<HELP
== To keep a new input that reaches new code, copy it from build/fuzz-scratch/TARGET/corpus
   into fuzz/corpus/TARGET/ under a name that says what it is (keep the corpus small:
   build/sanitize/bin/fuzz_TARGET -merge=1 NEW_DIR build/fuzz-scratch/TARGET/corpus
   picks the few that add coverage).
HELP
exit $status
