#!/usr/bin/env bash
# A private nginx on the loopback address, serving one folder: the "real" update server of the
# end-to-end tests and the download benchmark. It uses Debian's nginx binary with a configuration,
# prefix, pid file and error log of its own in a temporary folder (nothing under /etc or /var, no
# system service), listens on 127.0.0.1 only, and never outlives its lifetime.
#
# As a command:
#   tests/rig/nginx.sh [--lifetime SECONDS] [--port PORT] ROOT [COMMAND [ARGS...]]
#     Serves ROOT at http://127.0.0.1:<free port, or PORT>/, exports ORVANTA_NGINX_URL (that address, ending
#     with "/"), ORVANTA_NGINX_PORT and ORVANTA_NGINX_ROOT, runs COMMAND and stops nginx; the exit
#     status is COMMAND's. Without COMMAND it prints the address and serves until interrupted or
#     until the lifetime ends.
#
# As a library (bash):
#   source tests/rig/nginx.sh
#   nginx_rig_start ROOT [LIFETIME_SECONDS [PORT]]  # sets and exports the same three variables
#   ...                                       # requests to $ORVANTA_NGINX_URL
#   nginx_rig_stop                            # also safe when nothing was started
#   The caller should run nginx_rig_stop from its EXIT trap. Should the caller die without it,
#   nginx still stops when the lifetime (default 600 s) is over.
#
# With NGINX_RIG_ACCESS_LOG=1 every request is logged to $ORVANTA_NGINX_ACCESS_LOG as the client's
# user agent, " | " and the request line (the launchers name their version there), then " | ", the
# status, " | ", the Range header ("-" without one), " | " and the body bytes sent (what a test sums
# to tell how much a run fetched).
#
# A caching proxy in front of an origin, configured as a LAN cache is: it keeps every answer for a
# day whatever the origin's Cache-Control or Expires say, so a file once fetched through it is what
# it serves afterwards, even after the origin changed it:
#   nginx_rig_start_cache ORIGIN_URL [LIFETIME_SECONDS]  # exports ORVANTA_CACHE_URL, ORVANTA_CACHE_PORT
#   nginx_rig_stop_cache                                  # and its cache is gone; nginx_rig_stop too
# Its answers carry "X-Cache-Status: HIT" (or MISS) for tests that show where a file came from.
#
# The club's LAN cache as an operator sets it up: tools/nginx/lan-cache-site.conf itself, with only
# its port, folders and origin (and, with NGINX_RIG_LAN_CACHE_VALID such as "3s", the game files'
# validity) put in:
#   nginx_rig_start_lan_cache ORIGIN_URL [LIFETIME_SECONDS [PORT]]
#       # exports ORVANTA_LAN_CACHE_URL, ORVANTA_LAN_CACHE_PORT, ORVANTA_LAN_CACHE_LOG (its own log)
#   nginx_rig_stop_lan_cache                              # and its cache is gone; nginx_rig_stop too
#
# Files are served as application/octet-stream (".txt", ".ini", ".json" as text/plain), with
# sendfile, so the transfer speed is that of the loopback and not of the server.

NGINX_RIG_BIN=${NGINX_RIG_BIN:-/usr/sbin/nginx}
NGINX_RIG_STATE=
NGINX_RIG_PID=
NGINX_RIG_CACHE_STATE=
NGINX_RIG_CACHE_PID=
NGINX_RIG_LAN_STATE=
NGINX_RIG_LAN_PID=

_nginx_rig_free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

_nginx_rig_write_conf() {  # state root port [origin [site file]]
    # With an origin: a caching proxy of it instead of serving root; with a site file too, that
    # site in front of it.
    local user_line=
    # A master started as root would hand the requests to "nobody", who may not read ROOT.
    [ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
    local access="access_log off;"
    [ "${NGINX_RIG_ACCESS_LOG:-}" = 1 ] &&
        access="log_format agents '\$http_user_agent | \$request | \$status | \$http_range | \$body_bytes_sent'; access_log $1/access.log agents;"
    cat >"$1/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $1/nginx.pid;
error_log $1/error.log warn;
$user_line
events { worker_connections 256; }
http {
    $access
    client_body_temp_path $1/tmp/client_body;
    proxy_temp_path $1/tmp/proxy;
    fastcgi_temp_path $1/tmp/fastcgi;
    uwsgi_temp_path $1/tmp/uwsgi;
    scgi_temp_path $1/tmp/scgi;
    types { text/plain txt ini json; }
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 5;
    $(_nginx_rig_server "$@")
}
EOF
}

_nginx_rig_server() {  # state root port [origin [site file]]
    if [ -n "${5:-}" ]; then
        echo "include $1/site.conf;"
        return
    fi
    _nginx_rig_cache_zone "$1" "${4:-}"
    echo "server {
        listen 127.0.0.1:$3;
        server_name localhost;
        $(_nginx_rig_location "$2" "${4:-}")
    }"
}

# The operator's site file with this rig's port, folders and origin. Each placeholder must be
# found once: a site file that changed shape fails here rather than testing something else.
_nginx_rig_site() {  # state port origin-url site-file
    local origin=${3#http://}
    origin=${origin%%/*}
    python3 - "$4" "$1/site.conf" "$1" "$2" "$origin" "${NGINX_RIG_LAN_CACHE_VALID:-}" <<'PY'
import re, sys
source, target, state, port, origin, valid = sys.argv[1:7]
text = open(source).read()
rules = [(r"listen 80;", f"listen 127.0.0.1:{port};"),
         (r"server 203\.0\.113\.10:80;", f"server {origin};"),
         (r"/var/cache/nginx/orvanta", f"{state}/cache"),
         (r"/var/log/nginx/orvanta-cache\.log", f"{state}/access.log")]
if valid:
    rules.append((r"proxy_cache_valid 200 206 \S+;", f"proxy_cache_valid 200 206 {valid};"))
for pattern, value in rules:
    text, count = re.subn(pattern, value, text)
    if count != 1:
        sys.exit(f"nginx rig: {source}: {pattern} found {count} times, expected once")
open(target, "w").write(text)
PY
}

_nginx_rig_cache_zone() {  # state origin
    [ -n "$2" ] && echo "proxy_cache_path $1/cache levels=1:2 keys_zone=lan:8m max_size=2g inactive=1d use_temp_path=off;"
}

_nginx_rig_location() {  # root origin
    if [ -z "$2" ]; then
        echo "root $1;"
        return
    fi
    echo "location / {
            proxy_pass $2;
            proxy_http_version 1.1;
            proxy_set_header Connection \"\";
            proxy_cache lan;
            proxy_cache_valid any 1d;
            proxy_ignore_headers Cache-Control Expires Set-Cookie Vary X-Accel-Expires;
            proxy_cache_lock on;
            add_header X-Cache-Status \$upstream_cache_status always;
        }"
}

_nginx_rig_answers() {  # port
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Starts one nginx: serving ROOT, or caching ORIGIN when that is given (through SITE, a site file,
# when that is given too). Sets _nginx_rig_state, _nginx_rig_pid and _nginx_rig_port.
_nginx_rig_launch() {  # root lifetime fixed-port origin [site]
    local root=$1 lifetime=$2 fixed=$3 origin=$4 site=${5:-} port state pid
    [ -x "$NGINX_RIG_BIN" ] || { echo "nginx rig: $NGINX_RIG_BIN missing (scripts/install-deps)" >&2; return 1; }
    state=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-nginx.XXXXXX")
    mkdir -p "$state/tmp"
    # The free port may be taken between the look and the bind: try a few.
    for _ in 1 2 3 4 5; do
        if [ -n "$fixed" ]; then
            if _nginx_rig_answers "$fixed"; then
                echo "nginx rig: port $fixed is already in use" >&2
                break
            fi
            port=$fixed
        else
            port=$(_nginx_rig_free_port)
        fi
        if [ -n "$site" ]; then
            _nginx_rig_site "$state" "$port" "$origin" "$site" || break
        fi
        _nginx_rig_write_conf "$state" "$root" "$port" "$origin" "$site"
        # timeout bounds the lifetime even when the caller dies without stopping nginx, and passes a
        # TERM it receives on to nginx.
        timeout -k 5 "$lifetime" "$NGINX_RIG_BIN" -p "$state" -c "$state/nginx.conf" \
            -e "$state/error.log" </dev/null >>"$state/stdout.log" 2>&1 &
        pid=$!
        for _ in $(seq 1 100); do
            _nginx_rig_answers "$port" && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$pid" 2>/dev/null && _nginx_rig_answers "$port"; then
            _nginx_rig_state=$state _nginx_rig_pid=$pid _nginx_rig_port=$port
            return 0
        fi
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        [ -n "$fixed" ] && break
    done
    echo "nginx rig: nginx did not start:" >&2
    cat "$state/error.log" "$state/stdout.log" >&2 2>/dev/null
    rm -rf "$state"
    return 1
}

nginx_rig_start() {
    local root
    root=$(cd "$1" && pwd) || { echo "nginx rig: no folder $1" >&2; return 1; }
    # A fixed port serves the launcher's built-in update server address (the demo, the end-to-end
    # tests); it is tried once, and a port already taken is reported.
    _nginx_rig_launch "$root" "${2:-600}" "${3:-}" "" || return 1
    NGINX_RIG_STATE=$_nginx_rig_state NGINX_RIG_PID=$_nginx_rig_pid
    export ORVANTA_NGINX_PORT=$_nginx_rig_port
    export ORVANTA_NGINX_URL="http://127.0.0.1:$_nginx_rig_port/"
    export ORVANTA_NGINX_ROOT=$root
    export ORVANTA_NGINX_ACCESS_LOG=$NGINX_RIG_STATE/access.log
}

nginx_rig_start_cache() {  # origin [lifetime]
    nginx_rig_stop_cache
    _nginx_rig_launch / "${2:-600}" "" "$1" || return 1
    NGINX_RIG_CACHE_STATE=$_nginx_rig_state NGINX_RIG_CACHE_PID=$_nginx_rig_pid
    export ORVANTA_CACHE_PORT=$_nginx_rig_port
    export ORVANTA_CACHE_URL="http://127.0.0.1:$_nginx_rig_port/"
}

nginx_rig_start_lan_cache() {  # origin [lifetime [port]]
    nginx_rig_stop_lan_cache
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    _nginx_rig_launch / "${2:-600}" "${3:-}" "$1" "$here/../../tools/nginx/lan-cache-site.conf" || return 1
    NGINX_RIG_LAN_STATE=$_nginx_rig_state NGINX_RIG_LAN_PID=$_nginx_rig_pid
    export ORVANTA_LAN_CACHE_PORT=$_nginx_rig_port
    export ORVANTA_LAN_CACHE_URL="http://127.0.0.1:$_nginx_rig_port/"
    export ORVANTA_LAN_CACHE_LOG=$NGINX_RIG_LAN_STATE/access.log
}

_nginx_rig_end() {  # pid state
    if [ -n "$1" ]; then
        kill -TERM "$1" 2>/dev/null
        for _ in $(seq 1 50); do
            kill -0 "$1" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$1" 2>/dev/null
        wait "$1" 2>/dev/null
    fi
    [ -n "$2" ] && rm -rf "$2"
    return 0
}

nginx_rig_stop_cache() {
    _nginx_rig_end "$NGINX_RIG_CACHE_PID" "$NGINX_RIG_CACHE_STATE"
    NGINX_RIG_CACHE_PID= NGINX_RIG_CACHE_STATE=
}

nginx_rig_stop_lan_cache() {
    _nginx_rig_end "$NGINX_RIG_LAN_PID" "$NGINX_RIG_LAN_STATE"
    NGINX_RIG_LAN_PID= NGINX_RIG_LAN_STATE=
}

nginx_rig_stop() {
    nginx_rig_stop_cache
    nginx_rig_stop_lan_cache
    _nginx_rig_end "$NGINX_RIG_PID" "$NGINX_RIG_STATE"
    NGINX_RIG_PID= NGINX_RIG_STATE=
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    lifetime=600
    port=
    while [ $# -gt 0 ]; do
        case "$1" in
            --lifetime) lifetime=$2; shift 2 ;;
            --port) port=$2; shift 2 ;;
            *) break ;;
        esac
    done
    [ $# -ge 1 ] || { echo "usage: $0 [--lifetime SECONDS] [--port PORT] ROOT [COMMAND [ARGS...]]" >&2; exit 2; }
    root=$1
    shift
    trap nginx_rig_stop EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    nginx_rig_start "$root" "$lifetime" "$port" || exit 1
    if [ $# -eq 0 ]; then
        echo "$ORVANTA_NGINX_URL"
        wait "$NGINX_RIG_PID"
        exit 0
    fi
    "$@"
    exit $?
fi
