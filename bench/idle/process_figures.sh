# Sourced by the idle benchmarks: figures of a Linux process (a Wine program) from /proc.
voluntary() {  # wake-ups: voluntary context switches, summed over every thread of the process
  local sum=0 n
  for f in /proc/"$1"/task/*/status; do
    n=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$f" 2>/dev/null || echo 0)
    sum=$((sum + ${n:-0}))
  done
  echo "$sum"
}
threads() { ls /proc/"$1"/task | wc -l; }
private_kib() { awk '/^Private_(Clean|Dirty)/ {s += $2} END {print s}' /proc/"$1"/smaps_rollup; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
