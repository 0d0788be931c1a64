#!/usr/bin/env bash
# Measures the Release receiver on 127.0.0.1 in one run:
#   1. requests per second with a new TLS connection per request, GET /api/ping, against nginx
#      serving the same reply (wrk with "Connection: close");
#   2. scan POST latency p50/p99, a new TLS connection per scan, one after the other, with
#      GET /api/ping latency on nginx and on the receiver as a control for machine noise;
#   3. start time, from process start to the listening line (key and certificate included):
#      with a stored identity, with a new one each run, and with --ephemeral-identity;
#   4. scan POST latency with typing and the clipboard on an X display of its own (Xvfb), against
#      the same latency without a display (2.): the cost of typing a 13-digit EAN plus Enter;
#   5. CPU time of an idle receiver with no clients over IDLE_SECONDS, from /proc/PID/stat;
#   6. the receiver's memory while it holds IDLE_CONNECTIONS connections that send nothing,
#      how many of them it keeps, and whether a real scan is answered meanwhile;
#   7. scans per second on kept connections (wrk, keep-alive), against nginx answering the
#      same scan POST with the receiver's echo;
#   8. scan latency p50/p99 over an emulated LINK_ROUND_TRIP_MS link (a delaying proxy on
#      loopback): a new TLS connection per scan against scans on one kept connection.
#   9. the cost of the scan journal: scan latency with it and without it (--no-journal), in
#      alternating rounds; its bytes per scan; the memory with 8 live scan streams open.
# Every process it starts is ended by its PID. Exits non-zero only when a measurement fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# No scan of the benchmark is typed into the desktop of whoever runs it; 4. has its own display.
unset DISPLAY

WRK_THREADS=2
WRK_CONNECTIONS=16
WRK_SECONDS=3
WRK_ROUNDS=9
SCAN_WARM_UP=50
SCAN_COUNT=1000
START_RUNS=15
IDLE_SECONDS=60
IDLE_CONNECTIONS=5000
KEPT_ROUNDS=5
LINK_ROUND_TRIP_MS=40
LINK_WARM_UP=5
LINK_COUNT=200
JOURNAL_ROUNDS=6  # alternating rounds of SCAN_COUNT / JOURNAL_ROUNDS scans, journal on and off

scripts/install_packages.sh build bench e2e
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target quillmark-receiver quillmark-bench
build=build/linux-release
receiver=$build/quillmark-receiver
bench=$build/bench/quillmark-bench

work=$(mktemp -d)
# The receivers' data (identity, journal) and settings folders are the run's own, never the
# user's.
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

stop() {  # stop PID: ends one process this script started
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    local kept=()
    for pid in "${pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
    pids=("${kept[@]+"${kept[@]}"}")
}

wait_for() {  # wait_for DESCRIPTION COMMAND...: polls for up to 10 s
    local tries=0
    until "${@:2}" >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -ge 200 ]; then echo "Timed out waiting for $1" >&2; exit 1; fi
        sleep 0.05
    done
}

# wrk_round URL [WRK OPTIONS...]: requests per second of one round (new connection each unless
# options say otherwise); errors are shown with the full output.
wrk_round() {
    local output
    local options=("${@:2}")
    [ ${#options[@]} -gt 0 ] || options=(-H "Connection: close")
    output=$(wrk -t$WRK_THREADS -c$WRK_CONNECTIONS -d${WRK_SECONDS}s "${options[@]}" "$1")
    if grep -qE "Non-2xx|Socket errors" <<<"$output"; then
        echo "wrk reported errors for $1:" >&2
        echo "$output" >&2
    fi
    awk '/^Requests\/sec:/ { print $2 }' <<<"$output"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# resumes PORT: "yes" when a second connection resumes the first one's TLS session. wrk
# resumes whenever the server allows it, so both servers must agree for a fair comparison.
resumes() {
    local request='GET /api/ping HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n'
    # shellcheck disable=SC2059
    printf "$request" | timeout 10 openssl s_client -connect "127.0.0.1:$1" -ign_eof \
        -sess_out "$work/session-$1.pem" >/dev/null 2>&1 || true
    # shellcheck disable=SC2059
    if printf "$request" | timeout 10 openssl s_client -connect "127.0.0.1:$1" -ign_eof \
        -sess_in "$work/session-$1.pem" 2>/dev/null | grep -q "^Reused"; then
        echo yes
    else
        echo no
    fi
}

# --- the receiver --------------------------------------------------------------------------
receiver_port=$($bench free-port)
"$receiver" --headless --port "$receiver_port" --no-type --no-copy >"$work/receiver.log" 2>&1 &
pids+=($!)
receiver_pid=$!
wait_for "the receiver's listening line" grep -q "HTTPS listening on" "$work/receiver.log"
receiver_url="https://127.0.0.1:$receiver_port/api/ping"

# --- nginx with a P-256 certificate, TLS 1.3, serving the receiver's own ping reply --------
chmod 755 "$work"  # nginx workers drop root and must still read the served file
# The scan the phone posts for an EAN-13 reading (as quillmark-bench's latency), and the
# receiver's answer to it, which nginx gives back for the comparison.
SCAN_BODY='{"text":"4006381333931","format":"EAN-13","confidence":97,"confirmations":3,"pressEnter":true,"timestamp":"2026-03-01T10:00:00.000Z"}'
SCAN_ECHO='{"ok":true,"scan":{"text":"4006381333931","format":"EAN-13","confidence":97}}'
cat >"$work/scan.lua" <<LUA
wrk.method = "POST"
wrk.body = '$SCAN_BODY'
wrk.headers["Content-Type"] = "application/json"
LUA
mkdir -p "$work/www/api" "$work/nginx-temp"
curl -sk --fail "$receiver_url" >"$work/www/api/ping"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
nginx_port=$($bench free-port)
cat >"$work/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx-temp/body;
    proxy_temp_path $work/nginx-temp/proxy;
    fastcgi_temp_path $work/nginx-temp/fastcgi;
    uwsgi_temp_path $work/nginx-temp/uwsgi;
    scgi_temp_path $work/nginx-temp/scgi;
    server {
        listen 127.0.0.1:$nginx_port ssl;
        ssl_certificate $work/cert.pem;
        ssl_certificate_key $work/key.pem;
        ssl_protocols TLSv1.3;
        root $work/www;
        location = /api/ping { default_type "application/json; charset=utf-8"; }
        location = /api/scan {
            default_type "application/json; charset=utf-8";
            return 200 '$SCAN_ECHO';
        }
    }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" -g "daemon off;" &
pids+=($!)
nginx_pid=$!
nginx_url="https://127.0.0.1:$nginx_port/api/ping"
wait_for "nginx" curl -sk --fail "$nginx_url"
cmp -s <(curl -sk "$nginx_url") "$work/www/api/ping" || { echo "nginx serves another body" >&2; exit 1; }

# alternate_rounds NAME ROUNDS PATH [WRK OPTIONS...]: ROUNDS rounds of wrk on PATH, the
# receiver and nginx one after the other, so that both see the same machine load. Leaves the
# medians in NAME-receiver, NAME-nginx and NAME-ratio of $work. The ratio is the median of the
# per-round ratios: each compares two runs seconds apart, so load that drifts over the minute
# cancels out. On a shared virtual machine single rounds swing by a tenth either way, hence
# many short rounds.
alternate_rounds() {
    local name=$1
    local side
    for side in receiver nginx ratio; do : >"$work/$name-$side-rounds"; done
    for round in $(seq "$2"); do
        local receiver_round nginx_round
        receiver_round=$(wrk_round "https://127.0.0.1:$receiver_port$3" "${@:4}")
        nginx_round=$(wrk_round "https://127.0.0.1:$nginx_port$3" "${@:4}")
        echo "$receiver_round" >>"$work/$name-receiver-rounds"
        echo "$nginx_round" >>"$work/$name-nginx-rounds"
        awk -v a="$receiver_round" -v b="$nginx_round" 'BEGIN { printf "%.3f\n", a / b }' \
            >>"$work/$name-ratio-rounds"
        echo "  round $round: receiver $receiver_round, nginx $nginx_round, ratio $(tail -1 "$work/$name-ratio-rounds")"
    done
    for side in receiver nginx ratio; do median <"$work/$name-$side-rounds" >"$work/$name-$side"; done
}

# --- 1. requests per second with a new connection each --------------------------------------
echo "Requests per second: wrk -t$WRK_THREADS -c$WRK_CONNECTIONS, ${WRK_SECONDS} s x $WRK_ROUNDS rounds, Connection: close"
alternate_rounds rps "$WRK_ROUNDS" /api/ping
receiver_rps=$(cat "$work/rps-receiver")
nginx_rps=$(cat "$work/rps-nginx")
ratio=$(cat "$work/rps-ratio")
receiver_resumes=$(resumes "$receiver_port")
nginx_resumes=$(resumes "$nginx_port")

# --- 7. scans per second on kept connections -------------------------------------------------
echo "Scans per second: wrk -t$WRK_THREADS -c$WRK_CONNECTIONS, ${WRK_SECONDS} s x $KEPT_ROUNDS rounds, kept connections"
alternate_rounds kept "$KEPT_ROUNDS" /api/scan -s "$work/scan.lua"
kept_receiver_sps=$(cat "$work/kept-receiver")
kept_nginx_sps=$(cat "$work/kept-nginx")
kept_ratio=$(cat "$work/kept-ratio")

# --- 2. latency, one request at a time on idle servers ------------------------------------
latency() {  # latency scan|ping PORT [PREFIX COMMAND...]: "p50 p99 max" in milliseconds
    "${@:3}" "$bench" latency "$1" "$2" $SCAN_WARM_UP $SCAN_COUNT |
        awk '{ v[$1] = $2 } END { print v["p50_ms"], v["p99_ms"], v["max_ms"] }'
}
read -r nginx_ping_p50 nginx_ping_p99 nginx_ping_max < <(latency ping "$nginx_port")
stop "$nginx_pid"
read -r scan_p50 scan_p99 scan_max < <(latency scan "$receiver_port")
read -r ping_p50 ping_p99 ping_max < <(latency ping "$receiver_port")

# --- 8. scans over a slow link, on the same idle receiver ----------------------------------
link=$($bench link "$receiver_port" $LINK_ROUND_TRIP_MS $LINK_WARM_UP $LINK_COUNT)
link_value() { awk -v k="$1" '$1 == k { print $2 }' <<<"$link"; }
stop "$receiver_pid"
journal_lines=$(cat "$XDG_DATA_HOME"/quillmark/scans/*.csv | grep -c ',typed\|,received\|,copied' || true)
journal_bytes=$(cat "$XDG_DATA_HOME"/quillmark/scans/*.csv | wc -c)
journal_per_scan=$(awk -v b="$journal_bytes" -v n="$journal_lines" 'BEGIN { printf "%.1f\n", n ? b / n : 0 }')

# --- 9. scans with and without the journal, alternating so that both see the same load ----
# start_listening NAME PORT OPTIONS...: a receiver logging to $work/NAME.log, its PID in
# $listening_pid once it listens.
start_listening() {
    "$receiver" --headless --port "$2" "${@:3}" >"$work/$1.log" 2>&1 &
    pids+=($!)
    listening_pid=$!
    wait_for "the $1 receiver" grep -q "HTTPS listening on" "$work/$1.log"
}
journaled_port=$($bench free-port)
start_listening journaled "$journaled_port" --no-type --no-copy
journaled_pid=$listening_pid
unjournaled_port=$($bench free-port)
start_listening unjournaled "$unjournaled_port" --no-type --no-copy --no-journal
unjournaled_pid=$listening_pid
round_scans=$((SCAN_COUNT / JOURNAL_ROUNDS))
: >"$work/journal-rounds"
for round in $(seq "$JOURNAL_ROUNDS"); do
    read -r on_p50 on_p99 _ < <("$bench" latency scan "$journaled_port" 20 "$round_scans" |
        awk '{ v[$1] = $2 } END { print v["p50_ms"], v["p99_ms"], v["max_ms"] }')
    read -r off_p50 off_p99 _ < <("$bench" latency scan "$unjournaled_port" 20 "$round_scans" |
        awk '{ v[$1] = $2 } END { print v["p50_ms"], v["p99_ms"], v["max_ms"] }')
    echo "$on_p50 $on_p99 $off_p50 $off_p99" >>"$work/journal-rounds"
done
stop "$journaled_pid"
stop "$unjournaled_pid"
column_median() { awk -v c="$1" '{ print $c }' "$work/journal-rounds" | median; }
j_on_p50=$(column_median 1)
j_on_p99=$(column_median 2)
j_off_p50=$(column_median 3)
j_off_p99=$(column_median 4)

# On a shared machine the tail mostly measures other processes. Where real-time priority is
# allowed, the scan latency is measured once more with a receiver and a client that other
# load cannot preempt, which is what an otherwise idle PC sees. Both are short, sequential
# and blocked on I/O most of the time, so they cannot starve anything.
isolated=""
if chrt -f 10 true 2>/dev/null; then
    isolated_port=$($bench free-port)
    chrt -f 10 "$receiver" --headless --port "$isolated_port" >"$work/isolated.log" 2>&1 &
    pids+=($!)
    isolated_pid=$!
    wait_for "the isolated receiver" grep -q "HTTPS listening on" "$work/isolated.log"
    read -r iso_p50 iso_p99 iso_max < <(latency scan "$isolated_port" chrt -f 10)
    stop "$isolated_pid"
    isolated=yes
fi

# --- 3. start time, with nothing else of ours running --------------------------------------
# With the identity the earlier receivers stored, with a new one each run, and with none kept.
start=$($bench start-time "$receiver" "$($bench free-port)" $START_RUNS stored)
start_median=$(awk '/^start_median_ms/ { print $2 }' <<<"$start")
start_min=$(awk '/^start_min_ms/ { print $2 }' <<<"$start")
start_max=$(awk '/^start_max_ms/ { print $2 }' <<<"$start")
start_new=$($bench start-time "$receiver" "$($bench free-port)" $START_RUNS new |
    awk '/^start_median_ms/ { print $2 }')
start_ephemeral=$($bench start-time "$receiver" "$($bench free-port)" $START_RUNS ephemeral |
    awk '/^start_median_ms/ { print $2 }')

# --- 4. typing under Xvfb -----------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
xvfb_pid=$!
wait_for "Xvfb" grep -q "[0-9]" "$work/display"
typing_port=$($bench free-port)
DISPLAY=":$(cat "$work/display")" "$receiver" --headless --port "$typing_port" >"$work/typing.log" 2>&1 &
pids+=($!)
typing_pid=$!
wait_for "the typing receiver" grep -q "HTTPS listening on" "$work/typing.log"
read -r typed_p50 typed_p99 typed_max < <(latency scan "$typing_port")
stop "$typing_pid"
stop "$xvfb_pid"
grep -q "Copied & Typed+Enter" "$work/typing.log" || { echo "the scans were not typed" >&2; exit 1; }
typing_ms=$(awk -v a="$typed_p50" -v b="$scan_p50" 'BEGIN { printf "%.2f\n", a - b }')
typing_ratio=$(awk -v a="$typed_p50" -v b="$scan_p50" 'BEGIN { printf "%.2f\n", a / b }')

# --- 5. idle CPU, with nothing else of ours running ----------------------------------------
cpu_ticks() {  # cpu_ticks PID: user plus system time in clock ticks (after the "(name)")
    sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}
idle_port=$($bench free-port)
"$receiver" --headless --port "$idle_port" --no-type --no-copy >"$work/idle.log" 2>&1 &
pids+=($!)
idle_pid=$!
wait_for "the idle receiver" grep -q "HTTPS listening on" "$work/idle.log"
curl -sk --fail "https://127.0.0.1:$idle_port/api/ping" >/dev/null
sleep 2  # lets the first connection's work end before the window opens
idle_start_ticks=$(cpu_ticks "$idle_pid")
idle_start_ns=$(date +%s%N)
sleep "$IDLE_SECONDS"
idle_ticks=$(($(cpu_ticks "$idle_pid") - idle_start_ticks))
idle_ns=$(($(date +%s%N) - idle_start_ns))
clock_ticks=$(getconf CLK_TCK)
idle_percent=$(awk -v t="$idle_ticks" -v hz="$clock_ticks" -v ns="$idle_ns" \
    'BEGIN { printf "%.3f\n", t / hz / (ns / 1e9) * 100 }')
tick_ms=$((1000 / clock_ticks))

# --- 6. memory with many idle connections held, on the same receiver -----------------------
hold=$($bench idle-hold "$idle_port" "$IDLE_CONNECTIONS" "$idle_pid")
stop "$idle_pid"
hold_value() { awk -v k="$1" '$1 == k { $1 = ""; print substr($0, 2) }' <<<"$hold"; }
held=$(hold_value held)
mib() { awk -v k="$1" 'BEGIN { printf "%.1f\n", k / 1024 }'; }
hold_rss=$(mib "$(hold_value rss_kib)")
hold_hwm=$(mib "$(hold_value hwm_kib)")
hold_rss_idle=$(mib "$(hold_value rss_idle_kib)")
case $(hold_value scan_status) in
    200) hold_scan="real scan answered" ;;
    none) hold_scan="real scan NOT answered ($(hold_value scan_error))" ;;
    *) hold_scan="real scan answered $(hold_value scan_status), not 200" ;;
esac

# --- 7b. memory with 8 live scan streams open ---------------------------------------------
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
streams_port=$($bench free-port)
start_listening streams "$streams_port" --no-type --no-copy
streams_pid=$listening_pid
curl -sk --fail "https://127.0.0.1:$streams_port/api/ping" >/dev/null
rss_before_streams=$(rss_kib "$streams_pid")
stream_pids=()
for i in 1 2 3 4 5 6 7 8; do
    curl -skN "https://127.0.0.1:$streams_port/api/events" >"$work/stream-$i.txt" 2>/dev/null &
    pids+=($!)
    stream_pids+=($!)
done
for i in 1 2 3 4 5 6 7 8; do wait_for "stream $i" grep -q "event: init" "$work/stream-$i.txt"; done
"$bench" latency scan "$streams_port" 0 100 >/dev/null
for i in 1 2 3 4 5 6 7 8; do
    wait_for "stream $i's scans" bash -c "[ \$(grep -c '^event: scan' '$work/stream-$i.txt') -ge 100 ]"
done
rss_streams=$(rss_kib "$streams_pid")
for pid in "${stream_pids[@]}"; do stop "$pid"; done
stop "$streams_pid"

verdict() { awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN {
    ok = op == ">=" ? v >= t : op == "<" ? v < t : v <= t; print ok ? "met" : "MISSED" }'; }

echo
echo "Results (medians; targets in brackets)"
printf '  GET /api/ping, new TLS connection each: receiver %s req/s, nginx %s req/s\n' \
    "$receiver_rps" "$nginx_rps"
printf '  ratio receiver/nginx: %s  [>= 1.10: %s]\n' "$ratio" "$(verdict "$ratio" ">=" 1.10)"
printf '    TLS session resumption offered: receiver %s, nginx %s\n' \
    "$receiver_resumes" "$nginx_resumes"
printf '  scan POST latency over %s scans: p50 %s ms, p99 %s ms, max %s ms  [p99 <= 3 ms: %s]\n' \
    "$SCAN_COUNT" "$scan_p50" "$scan_p99" "$scan_max" "$(verdict "$scan_p99" "<=" 3)"
if [ -n "$isolated" ]; then
    printf '    with real-time priority (isolated from other load): p50 %s ms, p99 %s ms, max %s ms  [%s]\n' \
        "$iso_p50" "$iso_p99" "$iso_max" "$(verdict "$iso_p99" "<=" 3)"
fi
printf '    control, GET /api/ping: receiver p50 %s ms, p99 %s ms, max %s ms\n' \
    "$ping_p50" "$ping_p99" "$ping_max"
printf '                            nginx    p50 %s ms, p99 %s ms, max %s ms\n' \
    "$nginx_ping_p50" "$nginx_ping_p99" "$nginx_ping_max"
printf '  scan over a %s ms round-trip link, %s scans: new connection each p50 %s ms, p99 %s ms; kept connection p50 %s ms, p99 %s ms (%s connections opened)  [kept p50 <= 50 ms: %s]\n' \
    "$LINK_ROUND_TRIP_MS" "$LINK_COUNT" "$(link_value new_p50_ms)" "$(link_value new_p99_ms)" \
    "$(link_value kept_p50_ms)" "$(link_value kept_p99_ms)" "$(link_value kept_connections)" \
    "$(verdict "$(link_value kept_p50_ms)" "<=" 50)"
printf '  scan POST on kept connections: receiver %s scans/s, nginx (keep-alive, static echo) %s/s, ratio %s\n' \
    "$kept_receiver_sps" "$kept_nginx_sps" "$kept_ratio"
printf '  start to listening line over %s runs: median %s ms (min %s, max %s)  [<= 20 ms: %s]\n' \
    "$START_RUNS" "$start_median" "$start_min" "$start_max" "$(verdict "$start_median" "<=" 20)"
printf '    (stored identity); a new identity each run: median %s ms; --ephemeral-identity: median %s ms\n' \
    "$start_new" "$start_ephemeral"
printf '  scan POST latency typed and copied on Xvfb (13-digit EAN + Enter): p50 %s ms, p99 %s ms, max %s ms\n' \
    "$typed_p50" "$typed_p99" "$typed_max"
printf '    typing cost at p50: %s ms (ratio typed/untyped %s)\n' "$typing_ms" "$typing_ratio"
printf '  idle CPU over %s s with no clients: %s %% of a core (CPU time: %s x %s ms tick)  [< 0.05 %%: %s]\n' \
    "$IDLE_SECONDS" "$idle_percent" "$idle_ticks" "$tick_ms" "$(verdict "$idle_percent" "<" 0.05)"
hold_verdict=$(verdict "$hold_rss" "<" 64)
if [ "$held" != "$IDLE_CONNECTIONS" ] || [ "$(hold_value scan_status)" != 200 ]; then
    hold_verdict=MISSED
fi
printf '  RSS with %s idle connections held: %s MiB (peak %s MiB, %s MiB before); %s of %s held, %s  [< 64 MiB, all held, scan answered: %s]\n' \
    "$IDLE_CONNECTIONS" "$hold_rss" "$hold_hwm" "$hold_rss_idle" "$held" "$IDLE_CONNECTIONS" \
    "$hold_scan" "$hold_verdict"
printf '    opened in %s ms (connects that waited for a resent SYN, accept queue full: %s), counted %s ms after the first (idle time-out about 5 s)\n' \
    "$(hold_value open_ms)" "$(hold_value slow_connects)" "$(hold_value hold_ms)"
printf '  scan POST latency, %s alternating rounds of %s scans (medians of the rounds): journal on p50 %s ms, p99 %s ms; off (--no-journal) p50 %s ms, p99 %s ms\n' \
    "$JOURNAL_ROUNDS" "$round_scans" "$j_on_p50" "$j_on_p99" "$j_off_p50" "$j_off_p99"
printf '    ratio on/off: p50 %s, p99 %s; journal %s bytes per scan\n' \
    "$(awk -v a="$j_on_p50" -v b="$j_off_p50" 'BEGIN { printf "%.2f", a / b }')" \
    "$(awk -v a="$j_on_p99" -v b="$j_off_p99" 'BEGIN { printf "%.2f", a / b }')" "$journal_per_scan"
printf '  RSS with 8 live scan streams open, after 100 scans: %s MiB (%s MiB before they opened)\n' \
    "$(mib "$rss_streams")" "$(mib "$rss_before_streams")"
echo "  load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
