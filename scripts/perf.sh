#!/usr/bin/env bash
# Measures the senders against the pigpio stand-in and prints one table: the cost
# of expanding a frame and a press, instruction counts per part of a run and, for
# beam --raw against beamfile, up to the send, latency from process start to the
# first edge and from the last edge to exit, and memory.
# It reports numbers; it passes or fails only if a measurement cannot be taken.
# Usage: scripts/perf.sh            (BEAM_PERF_RUNS=50 latency runs per program)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
runs=${BEAM_PERF_RUNS:-50}
code=00000000111111111010001001011101 # the README's example: address 0x00, command 0x45

scripts/setup.sh perf
# The build the README's scripts make (RelWithDebInfo), plus the benchmarks and the
# frame sizes of every function (-fstack-usage, which changes no code).
cmake --preset perf >/dev/null
cmake --build build-perf -j "$(nproc)" >/dev/null
cmake --install build-perf --prefix build-perf/stage >/dev/null
bin=$top/build-perf/stage/bin
work=$top/build-perf/run
rm -rf "$work"
mkdir -p "$work"
cd "$work"
echo "$code" >expected_message.txt

# Competing work on the machine is kept off the measured processes where we may.
fifo=()
if chrt -f 10 true 2>/dev/null; then
    fifo=(chrt -f 10)
fi

# ---- frame expansion --------------------------------------------------------------
"${fifo[@]}" "$top/build-perf/bench/frame_bench" --benchmark_repetitions=10 \
    --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
    --benchmark_format=csv >bench.csv 2>/dev/null
median() { # benchmark name -> median CPU time in ns
    awk -F, -v name="\"$1_median\"" '$1 == name { printf "%.0f\n", $4 }' bench.csv
}
buildExample=$(median buildFrameBench/exampleCode)
buildOnes=$(median buildFrameBench/allOnes)
copyBound=$(median storeRecords)
storeBound=$(median storeCarrier)
if [ -z "$buildExample" ] || [ -z "$buildOnes" ] || [ -z "$copyBound" ] || [ -z "$storeBound" ]; then
    echo "frame_bench gave no result:" >&2
    cat bench.csv >&2
    exit 1
fi

# ---- a press as beam makes it ---------------------------------------------------------
"${fifo[@]}" "$top/build-perf/bench/press_bench" --benchmark_repetitions=10 \
    --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
    --benchmark_format=csv >press.csv 2>/dev/null
pressMedian() { # benchmark name -> median CPU time in ns
    awk -F, -v name="\"$1_median\"" '$1 == name { printf "%.0f\n", $4 }' press.csv
}
rawParse=$(pressMedian rawParse)
rawExpand=$(pressMedian rawExpand)
rawPress=$(pressMedian rawPress)
necPress=$(pressMedian kernelScancodePress/nec_3_repeats)
rc6Press=$(pressMedian kernelScancodePress/rc6_mce)
acBound=$(pressMedian storeBound/6899)
necBound=$(pressMedian storeBound/4287)
rc6Bound=$(pressMedian storeBound/1441)
for value in "$rawParse" "$rawExpand" "$rawPress" "$necPress" "$rc6Press" "$acBound" "$necBound" \
    "$rc6Bound"; do
    if [ -z "$value" ]; then
        echo "press_bench gave no result:" >&2
        cat press.csv >&2
        exit 1
    fi
done

# ---- instruction counts ---------------------------------------------------------------
# Inclusive counts per function, summed over the source files a function's inlined
# parts come from.  emitCode and carrierFrequency stay functions of their own in
# this build (too big, or called too often, to inline), so the frame is
# carrierFrequency's count: every carrier record is written there.
counts() { # program -> "total main read frame pigpio stdout"
    env -i PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual "$(command -v valgrind)" --tool=callgrind \
        --callgrind-out-file="cg.$1" "$bin/$1" >/dev/null 2>"cg.$1.err"
    callgrind_annotate --inclusive=yes --auto=no --threshold=100 "cg.$1" | awk '
        /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
        /^ *[0-9,]+ \([ 0-9.%]+\)  / {
            n = $1; gsub(",", "", n)
            fn = $0; sub(/^ *[0-9,]+ \([ 0-9.%]+\)  /, "", fn)
            sub(/ \[[^]]*\]$/, "", fn); sub(/^[^:]*:/, "", fn)
            if (fn == "main") main += n
            else if (fn ~ /^(open|open64|fcntl|fcntl64|fdopen|fgets|fclose)(@|$)/) read += n
            else if (fn ~ /^carrierFrequency\(/) frame += n
            else if (fn ~ /^(gpio[A-Z][A-Za-z]*|time_sleep|time_time)$/) pigpio += n
            else if (fn == "printf" || fn == "puts") out += n
        }
        END { printf "%d %d %d %d %d %d\n", total, main, read, frame, pigpio, out }'
}
read -r fTotal fMain fRead fFrame fPigpio fOut <<<"$(counts beamfile)"
read -r oTotal oMain oRead oFrame oPigpio oOut <<<"$(counts beamones)"

# beam --raw with beamfile's frame as durations, against beamfile, up to the moment the
# signal starts: callgrind dumps its counts on entering gpioWaveTxSend (the stand-in's
# first edge is 20 us of its clock later), so what comes before the send is a file of
# its own and the stand-in's playing of the wave does not drown the difference.
necDurations=$(awk -v code="$code" 'BEGIN { s = "+9000 -4500"
    for (i = 1; i <= length(code); ++i) s = s (substr(code, i, 1) == "1" ? " +562 -1688" : " +562 -562")
    print s " +562" }')
toSend() { # name program [arguments] -> "total main own parse" up to the send
    local name=$1
    shift
    env -i PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual "$(command -v valgrind)" --tool=callgrind \
        --dump-before=gpioWaveTxSend --callgrind-out-file="send.$name" "$@" >/dev/null \
        2>"send.$name.err"
    callgrind_annotate --inclusive=yes --auto=no --threshold=100 "send.$name.1" | awk '
        /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
        /^ *[0-9,]+ \([ 0-9.%]+\)  / {
            n = $1; gsub(",", "", n)
            fn = $0; sub(/^ *[0-9,]+ \([ 0-9.%]+\)  /, "", fn)
            sub(/ \[[^]]*\]$/, "", fn); sub(/^[^:]*:/, "", fn)
            if (fn == "main") main += n
            else if (fn ~ /^(gpio[A-Z][A-Za-z]*|time_sleep|time_time)$/) pigpio += n
            else if (fn ~ /^parseRaw\(/) parse += n
        }
        END { printf "%d %d %d %d\n", total, main, main - pigpio, parse }'
}
read -r sfTotal sfMain sfOwn _ <<<"$(toSend beamfile "$bin/beamfile")"
read -r sbTotal sbMain sbOwn sbParse <<<"$(toSend beam "$bin/beam" --raw "$necDurations")"
# The comparison holds only if both send the same wave.
env PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_VCD=beamfile.vcd "$bin/beamfile" \
    >/dev/null 2>&1
env PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual PIGPIO_SIM_VCD=beam.vcd "$bin/beam" \
    --raw "$necDurations" >/dev/null 2>&1
if ! cmp -s beamfile.vcd beam.vcd; then
    echo "beam --raw with beamfile's durations does not send beamfile's wave" >&2
    exit 1
fi

# ---- latency on the real-time clock -------------------------------------------------
latency() { # program [code] -> the tool's report
    "${fifo[@]}" "$top/build-perf/bench/latency" "$runs" "$bin/$1" "${@:2}"
}
latency beamfile "$code" >lat.beamfile
latency beamones >lat.beamones
"${fifo[@]}" "$top/build-perf/bench/latency" --exec-only "$runs" /bin/true >lat.true
# The edges must lie where the frames put them: 20 us after the send, and the last
# one 20 us + airtime - 13 us after it.
for expect in "beamfile 67417" "beamones 85433"; do
    set -- $expect
    if ! head -1 "lat.$1" | grep -q "first_edge_after_send_us=20 last_edge_after_send_us=$2\$"; then
        echo "latency: $1's edges are not where its frame puts them:" >&2
        cat "lat.$1" >&2
        exit 1
    fi
done
field() { # file measurement field -> value
    awk -v m="$2" -v f="$3" '$1 == m { for (i = 2; i <= NF; ++i) { split($i, kv, "=");
        if (kv[1] == f) print kv[2] } }' "$1"
}

# ---- memory -------------------------------------------------------------------------
rss() { # program -> peak resident set, KiB
    env PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual /usr/bin/time -f %M -o "rss.$1" "$bin/$1" >/dev/null
    cat "rss.$1"
}
stackPeak() { # program -> largest stack massif saw, bytes (sampled: at least this)
    env PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual valgrind --tool=massif --stacks=yes --heap=no --depth=1 \
        --max-snapshots=1000 --massif-out-file="ms.$1" "$bin/$1" >/dev/null 2>&1
    sed -n 's/^mem_stacks_B=//p' "ms.$1" | sort -n | tail -1
}
frames() { # program -> "main emitCode carrierFrequency" frame sizes in bytes
    awk -F'\t' '{ fn = $1; sub(/^[^:]*:[0-9]+:[0-9]+:/, "", fn); sub(/\(.*/, "", fn)
                  sub(/^.* /, "", fn); size[fn] = $2 }
        END { printf "%d %d %d\n", size["main"], size["emitCode"], size["carrierFrequency"] }' \
        "$top/build-perf/$1/CMakeFiles/$1.dir/$1.cpp.su"
}
# Heap blocks allocated in main's calls, and which calls they were made in.  Our own
# code is what is left once the stand-in's and stdio's are taken away: 0 means none.
heap() { # program -> "main pigpio stdio own stdioBytes"
    env PIGPIO_SIM_ON_PI=1 PIGPIO_SIM_CLOCK=virtual valgrind --tool=memcheck --xtree-memory=full \
        --xtree-memory-file="xt.$1" "$bin/$1" >/dev/null 2>"xt.$1.err"
    for show in totBk totB; do
        callgrind_annotate --inclusive=yes --auto=no --threshold=100 --show=$show \
            --sort=$show "xt.$1" | awk '
            /^ *[0-9,]+ (\([ 0-9.%]+\))? +[^ ]/ {
                n = $1; gsub(",", "", n)
                fn = $0; sub(/^ *[0-9,]+ (\([ 0-9.%]+\))? +/, "", fn)
                sub(/ \[[^]]*\]$/, "", fn); sub(/^[^:]*:/, "", fn)
                if (fn == "main") main += n
                else if (fn ~ /^(gpio[A-Z][A-Za-z]*|time_sleep|time_time)$/) pigpio += n
                # fopen hands its work to __fopen_internal: count whichever is outermost (beamfile
                # opens with open and fdopen, so that a FIFO without a writer cannot hang it).
                else if (fn ~ /^(fopen|_IO_new_fopen|__fopen_internal|fdopen|_IO_new_fdopen)(@|$)/) {
                    if (n > opened) opened = n }
                else if (fn ~ /^(fgets|printf|puts|fclose)(@|$)/) stdio += n
            }
            END { stdio += opened; printf "%d %d %d %d ", main, pigpio, stdio, main - pigpio - stdio }'
    done
    echo
}
read -r fStack oStack <<<"$(stackPeak beamfile) $(stackPeak beamones)"
read -r fMainFrame fEmitFrame fCarrierFrame <<<"$(frames beamfile)"
read -r oMainFrame oEmitFrame oCarrierFrame <<<"$(frames beamones)"
read -r fHeapMain fHeapPigpio fHeapStdio fHeapOwn _ _ fHeapStdioB fHeapOwnB <<<"$(heap beamfile)"
read -r oHeapMain oHeapPigpio oHeapStdio oHeapOwn _ _ oHeapStdioB oHeapOwnB <<<"$(heap beamones)"

# ---- the table --------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
perRecord() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 2103 }'; }
row() { printf '  %-46s %18s %18s\n' "$@"; }
lat() { # measurement -> "median / worst" for both programs
    row "$1" "$(field lat.beamfile "$2" median) / $(field lat.beamfile "$2" worst)" \
        "$(field lat.beamones "$2" median) / $(field lat.beamones "$2" worst)"
}

echo
echo "beam performance, $(date +%F), $(nproc)-core $(uname -m), $(awk '{print "load " $1}' /proc/loadavg)${fifo:+, measured under SCHED_FIFO}"
echo
echo "Frame expansion, 2103 records (frame_bench, median of 10, CPU time)"
row "" "ns/frame" "ns/record"
row "build, example code" "$buildExample" "$(perRecord "$buildExample")"
row "build, 32 ones" "$buildOnes" "$(perRecord "$buildOnes")"
row "bound: copy of the same records" "$copyBound" "$(perRecord "$copyBound")"
row "bound: records stored from registers" "$storeBound" "$(perRecord "$storeBound")"
row "build / tighter bound" "$(ratio "$buildExample" "$(printf '%s\n' "$copyBound" "$storeBound" | sort -n | head -1)")" ""
echo
echo "A press as beam makes it (press_bench, median of 10, CPU time)"
row "" "ns/press" "ns/record"
row "air conditioner, 403 durations: parseRaw" "$rawParse" ""
row "  buildPress (with the count check)" "$rawExpand" "$(awk -v t="$rawExpand" 'BEGIN { printf "%.3f", t / 6899 }')"
row "  both, 6899 records" "$rawPress" "$(awk -v t="$rawPress" 'BEGIN { printf "%.3f", t / 6899 }')"
row "  bound: 6899 records stored" "$acBound" "$(awk -v t="$acBound" 'BEGIN { printf "%.3f", t / 6899 }')"
row "  press / bound" "$(ratio "$rawPress" "$acBound")" ""
row "  buildPress / bound" "$(ratio "$rawExpand" "$acBound")" ""
row "nec:0x45, 3 repeats, 4287 records" "$necPress" "$(awk -v t="$necPress" 'BEGIN { printf "%.3f", t / 4287 }')"
row "  bound: 4287 records stored" "$necBound" "$(awk -v t="$necBound" 'BEGIN { printf "%.3f", t / 4287 }')"
row "  press / bound" "$(ratio "$necPress" "$necBound")" ""
row "rc6_mce:0x800f040c, 1441 records" "$rc6Press" "$(awk -v t="$rc6Press" 'BEGIN { printf "%.3f", t / 1441 }')"
row "  bound: 1441 records stored" "$rc6Bound" "$(awk -v t="$rc6Bound" 'BEGIN { printf "%.3f", t / 1441 }')"
row "  press / bound" "$(ratio "$rc6Press" "$rc6Bound")" ""
echo
echo "Instructions per run (callgrind, virtual clock)"
row "" beamfile beamones
row "whole process" "$fTotal" "$oTotal"
row "outside main (loader, stand-in load and exit)" $((fTotal - fMain)) $((oTotal - oMain))
row "main" "$fMain" "$oMain"
row "  reading the file (open, fcntl, fdopen, fgets, fclose)" "$fRead" "$oRead"
row "  building the frame (carrierFrequency)" "$fFrame" "$oFrame"
row "  pigpio calls (the stand-in)" "$fPigpio" "$oPigpio"
row "  standard output (printf, puts)" "$fOut" "$oOut"
row "  the rest of main and emitCode" $((fMain - fRead - fFrame - fPigpio - fOut)) \
    $((oMain - oRead - oFrame - oPigpio - oOut))
echo
echo "Instructions up to the send, beamfile's frame (callgrind, virtual clock)"
row "" "beamfile" "beam --raw"
row "whole process" "$sfTotal" "$sbTotal"
row "  beam --raw / beamfile" "" "$(ratio "$sbTotal" "$sfTotal")"
row "main" "$sfMain" "$sbMain"
row "  beam --raw / beamfile" "" "$(ratio "$sbMain" "$sfMain")"
row "main without pigpio calls" "$sfOwn" "$sbOwn"
row "  parseRaw" "" "$sbParse"
echo
echo "Latency on the real-time clock, us, median / worst of $runs runs"
row "" beamfile beamones
lat "process start -> first edge" start_to_first_edge_us
lat "  start -> stand-in loaded (exec, loader)" start_to_pigpio_loaded_us
lat "  loaded -> send (main, pigpio calls)" pigpio_loaded_to_send_us
lat "last edge -> process exit" last_edge_to_exit_us
row "  least of it (the wave never outlives exit)" "$(field lat.beamfile last_edge_to_exit_us min)" \
    "$(field lat.beamones last_edge_to_exit_us min)"
row "  least last edge -> gpioTerminate" "$(field lat.beamfile last_edge_to_terminate_us min)" \
    "$(field lat.beamones last_edge_to_terminate_us min)"
lat "send + 0.1 s poll -> process exit" send_plus_poll_to_exit_us
row "spawn -> exit of /bin/true (the floor)" \
    "$(field lat.true spawn_to_exit_us median) / $(field lat.true spawn_to_exit_us worst)" ""
echo
echo "Memory"
row "" beamfile beamones
row "peak resident set, KiB (/usr/bin/time)" "$(rss beamfile)" "$(rss beamones)"
row "stack peak, bytes (massif, sampled)" "$fStack" "$oStack"
row "  frames: main + emitCode (-fstack-usage)" "$fMainFrame + $fEmitFrame" "$oMainFrame + $oEmitFrame"
row "  carrierFrequency, called from emitCode" "$fCarrierFrame" "$oCarrierFrame"
row "heap blocks allocated within main" "$fHeapMain" "$oHeapMain"
row "  within pigpio calls (the stand-in)" "$fHeapPigpio" "$oHeapPigpio"
row "  within stdio (FILE, buffers), blocks/bytes" "$fHeapStdio / $fHeapStdioB" "$oHeapStdio / $oHeapStdioB"
row "  by our own code, blocks/bytes" "$fHeapOwn / $fHeapOwnB" "$oHeapOwn / $oHeapOwnB"
