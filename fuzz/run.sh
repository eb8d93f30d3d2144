#!/usr/bin/env bash
# Runs fuzz targets that are already built (scripts/dev fuzz builds them, then calls this).
#   fuzz/run.sh BUILD_DIR SECONDS TARGET...
# Each TARGET (domain, serial, reply, solver) runs for SECONDS. Any finding (a crash, a
# sanitizer report, a leak, an input taking longer than 20 s, more than 4 GB of memory)
# makes the run fail; its input is left in BUILD_DIR/fuzz-findings/TARGET/. New inputs that
# reach more code go to BUILD_DIR/fuzz-corpus/TARGET/; the seeds in fuzz/corpus/ and the
# regression inputs in fuzz/regress/ stay as they are. FUZZ_JOBS (default 1) runs that many
# processes per target.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
[ $# -ge 3 ] || { echo "usage: fuzz/run.sh BUILD_DIR SECONDS TARGET..." >&2; exit 2; }
bdir=$1 seconds=$2
shift 2
jobs=${FUZZ_JOBS:-1}

dict_of() { case $1 in domain|serial) echo domain ;; *) echo yices ;; esac; }

status=0
for t in "$@"; do
  corpus=$bdir/fuzz-corpus/$t
  findings=$bdir/fuzz-findings/$t
  mkdir -p "$corpus" "$findings"
  dirs=("$corpus")
  for d in "fuzz/corpus/$t" "fuzz/regress/$t"; do [ ! -d "$d" ] || dirs+=("$d"); done
  par=()
  [ "$jobs" -le 1 ] || par=(-jobs="$jobs" -workers="$jobs")
  echo "== fuzz_$t for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "$bdir/fuzz/fuzz_$t" "${dirs[@]}" \
         -dict="fuzz/dict/$(dict_of "$t").dict" -max_total_time="$seconds" -timeout=20 \
         -rss_limit_mb=4096 -max_len=8192 -print_final_stats=1 \
         -artifact_prefix="$findings/" "${par[@]}" >"$bdir/fuzz-$t.log" 2>&1; then
    tail -n 60 "$bdir/fuzz-$t.log" >&2
    echo "fuzz_$t: finding, see $bdir/fuzz-$t.log and $findings/" >&2
    status=1
  else
    grep -E "^#[0-9]+.*DONE|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" \
      "$bdir/fuzz-$t.log" || true
  fi
done
exit $status
