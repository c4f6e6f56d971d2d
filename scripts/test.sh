#!/bin/bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
start=$(date +%s)
"$root/scripts/setup.sh"
QOR_BUILD_DIR=$build "$root/scripts/build.sh"
built=$(date +%s)
cd "$build"
status=0
log=$build/Testing/test-run.log
mkdir -p "$(dirname "$log")"
# The end-to-end programs (label end-to-end) start other processes or wait
# for windows under Wine, whose timing a loaded machine stretches: a program
# that fails runs once more, and for them only a second failure fails the
# run. Any other program that needs the second run fails it too: nothing but
# its own fault makes it pass only now and then.
ctest --output-on-failure --repeat until-pass:2 -j"$(nproc)" "$@" 2>&1 | tee "$log" || status=$?
end_to_end=" $(ctest -N -L end-to-end | sed -n 's/^ *Test *#[0-9]*: *//p' | tr '\n' ' ') "
retried=$(sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) \.*\*\*\*.*$/\1/p' "$log" | sort -u |
          while read -r name; do
            grep -q "Test *#[0-9]*: $name \.* *Passed" "$log" && echo "$name"
          done || true)
end=$(date +%s)
arch=$(sed -n 's/^QOR_TARGET_ARCH:STRING=//p' "$build/CMakeCache.txt")
echo "build $((built - start)) s, tests $((end - built)) s ($arch, $(wine --version 2>/dev/null || echo 'no wine'))"
for name in $retried; do
  if [[ $end_to_end == *" $name "* ]]; then
    echo "passed only on its second run: $name"
  else
    echo "passed only on its second run, and is no end-to-end program (the run fails): $name"
    status=1
  fi
done
[ -n "$retried" ] || echo "no program needed a second run"
exit $status
