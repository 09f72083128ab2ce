#!/usr/bin/env bash
# Runs the end-to-end tests of a normal build (build/, as scripts/test.sh makes it)
# with every program under valgrind's memcheck: no invalid access, no use of
# uninitialised memory, and no memory of ours lost at exit.
#
# valgrind writes to a log file per process, never to the program's stderr, which
# some tests check.  A finding makes the program exit with 99, which no program
# exits with by itself, and any non-empty log fails the run and is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh valgrind
cmake --preset test >/dev/null
cmake --build build -j "$(nproc)"

logs=$PWD/build/valgrind-logs
rm -rf "$logs"
mkdir -p "$logs"
export BEAM_TEST_WRAPPER="valgrind -q --tool=memcheck --error-exitcode=99 --leak-check=full
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible
    --track-origins=yes --log-file=$logs/%p.log"

status=0
# The hostile-file cases bound the time a run takes and the bytes it reads, which
# under valgrind measure valgrind itself; their programs' paths are the ones the
# other cases take, so they stay out of this run.  So does the case that runs
# beamfile as nobody with SUDO_UID set (UserRun), who may not write valgrind's logs
# here; its path is a plain run's.
ctest --test-dir build -L e2e -E '^(Cases/)?HostileFile|^UserRun\.' --output-on-failure -j "$(nproc)" ||
    status=$?
ran=$(find "$logs" -name '*.log' | wc -l)
echo "valgrind ran $ran program processes"
if [ "$ran" -eq 0 ]; then
    echo "No program ran under valgrind: failing."
    status=1
fi
for log in "$logs"/*.log; do
    if [ -s "$log" ]; then
        echo "==== $log"
        cat "$log"
        status=1
    fi
done
exit "$status"
