# Shared by the carving benchmarks (sourced, not run): best-of-N wall times
# and the planted and linear-time images, all made by bench/make_blob.py.

# best_of N COMMAND...: the shortest wall time in seconds of N runs, output
# thrown away.
best_of() {
  runs=$1
  shift
  best=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1 || true
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    i=$((i + 1))
  done
  echo "scale=4; $best / 1000000000" | bc
}

ratio() { echo "scale=2; $1 / $2" | bc; }

# linear_line ROOK MODE KIND SMALL_MIB [TAG]: times MODE over KIND images of SMALL
# and twice SMALL MiB and prints the time per MiB of each; the last figure
# is the larger's over the smaller's, about 1 when the time is linear.
linear_line() {
  rook=$1 mode=$2 kind=$3 small=$4 tag=${5:-}
  large=$((small * 2))
  python3 "$here/bench/make_blob.py" "$kind" "$work/small.img" "$small"
  python3 "$here/bench/make_blob.py" "$kind" "$work/large.img" "$large"
  cat "$work/small.img" "$work/large.img" > /dev/null
  ts=$(best_of 3 "$rook" "$work/small.img" "$mode" -quiet)
  tl=$(best_of 3 "$rook" "$work/large.img" "$mode" -quiet)
  per_small=$(echo "scale=2; $ts * 1000 / $small" | bc)
  per_large=$(echo "scale=2; $tl * 1000 / $large" | bc)
  printf 'linear:    %-10s %4d MiB %8s ms/MiB, %4d MiB %8s ms/MiB, ratio %s %s\n' \
    "$kind" "$small" "$per_small" "$large" "$per_large" "$(ratio "$per_large" "$per_small")" "$tag"
  rm -f "$work/small.img" "$work/large.img"
}
