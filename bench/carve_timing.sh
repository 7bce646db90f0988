# Shared by the carving benchmarks (sourced, not run): best-of-N wall times
# and the planted and linear-time images, all made by bench/make_blob.py.

# nanoseconds COMMAND...: the wall time of one run, output thrown away.
nanoseconds() {
  start=$(date +%s%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $((end - start))
}

seconds() { echo "scale=4; $1 / 1000000000" | bc; }

# best_of N COMMAND...: the shortest wall time in seconds of N runs.
best_of() {
  runs=$1
  shift
  best=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    t=$(nanoseconds "$@")
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    i=$((i + 1))
  done
  seconds "$best"
}

# against_cat N IMAGE ROOK ARGS...: runs cat and rook in turn N times, so
# that both see the same load, and sets best_cat and best_rook (seconds).
against_cat() {
  runs=$1 against_image=$2
  shift 2
  cat_ns=""
  rook_ns=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    t=$(nanoseconds cat "$against_image")
    if [ -z "$cat_ns" ] || [ "$t" -lt "$cat_ns" ]; then cat_ns=$t; fi
    t=$(nanoseconds "$@")
    if [ -z "$rook_ns" ] || [ "$t" -lt "$rook_ns" ]; then rook_ns=$t; fi
    i=$((i + 1))
  done
  best_cat=$(seconds "$cat_ns")
  best_rook=$(seconds "$rook_ns")
}

ratio() { echo "scale=2; $1 / $2" | bc; }

# linear_line ROOK MODE KIND SMALL_MIB [TAG]: times MODE over KIND images of SMALL
# and twice SMALL MiB and prints the time per MiB of each; the last figure
# is the larger's over the smaller's, about 1 when the time is linear.
linear_line() {
  # Plain sh has no locals: these names must not be the callers'.
  line_rook=$1 mode=$2 kind=$3 small=$4 tag=${5:-}
  large=$((small * 2))
  python3 "$here/bench/make_blob.py" "$kind" "$work/small.img" "$small"
  python3 "$here/bench/make_blob.py" "$kind" "$work/large.img" "$large"
  cat "$work/small.img" "$work/large.img" > /dev/null
  ts=$(best_of 5 "$line_rook" "$work/small.img" "$mode" -quiet)
  tl=$(best_of 5 "$line_rook" "$work/large.img" "$mode" -quiet)
  per_small=$(echo "scale=2; $ts * 1000 / $small" | bc)
  per_large=$(echo "scale=2; $tl * 1000 / $large" | bc)
  printf 'linear:    %-10s %4d MiB %8s ms/MiB, %4d MiB %8s ms/MiB, ratio %s %s\n' \
    "$kind" "$small" "$per_small" "$large" "$per_large" "$(ratio "$per_large" "$per_small")" "$tag"
  rm -f "$work/small.img" "$work/large.img"
}
