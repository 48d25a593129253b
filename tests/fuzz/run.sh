#!/bin/bash
# Fuzzes one target for a bounded time, starting from its seed corpus:
#   run.sh TARGET SEEDS ARTIFACT_DIR
# XEDA_FUZZ_SECONDS sets the time (default 16). New inputs stay in a
# directory of the sandbox; an input that breaks the target is saved in
# ARTIFACT_DIR, and belongs in SEEDS from then on as a regression case.
set -euo pipefail
target=$1 seeds=$2 artifacts=$3
work=$(mktemp -d)
mkdir -p "$artifacts" "$work/bin" "$work/corpus"
# The INI writer syncs the whole machine after every write; here that would
# cost seconds an input, so sync does nothing inside the fuzzing sandbox.
ln -s /bin/true "$work/bin/sync"
export PATH=$work/bin:$PATH
exec "$target" -max_total_time="${XEDA_FUZZ_SECONDS:-16}" -timeout=10 -max_len=8192 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$(basename "$target")-" "$work/corpus" "$seeds"
