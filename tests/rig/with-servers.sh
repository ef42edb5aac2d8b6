#!/usr/bin/env bash
# Runs one command with both loopback test servers up, and stops them afterwards:
#
#   tests/rig/with-servers.sh [--root DIR] [--lifetime SECONDS] [--] COMMAND [ARGS...]
#
# - nginx (tests/rig/nginx.sh) serves DIR, by default a fresh empty folder that is removed again;
# - the fault server (tests/rig/fault_server.py, its header lists the routes) misbehaves on request,
#   and its /mirror/ route serves DIR too;
# - a caching proxy (nginx.sh's LAN cache) in front of nginx.
#
# COMMAND sees (all addresses end with "/"):
#   ORVANTA_NGINX_URL   http://127.0.0.1:<port>/ serving ORVANTA_NGINX_ROOT
#   ORVANTA_NGINX_ROOT  the folder nginx serves
#   ORVANTA_FAULT_URL   http://127.0.0.1:<port>/ of the fault server
#   ORVANTA_CLOSED_URL  http://127.0.0.1:<port>/ where nothing listens (connections are refused)
#   ORVANTA_CACHE_URL   http://127.0.0.1:<port>/ of the caching proxy of ORVANTA_NGINX_URL
# Environment variables reach Windows programs run under Wine as they are, so a Windows test runs
# as   tests/rig/with-servers.sh scripts/wine-exec build/.../tests/win_net_tests.exe
#
# The exit status is COMMAND's. Both servers stop when COMMAND ends, when this script is
# interrupted, and in any case after the lifetime (default 600 s), even if this script is killed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=nginx.sh
source "$here/nginx.sh"

root=
lifetime=600
while [ $# -gt 0 ]; do
    case "$1" in
        --root) root=$2; shift 2 ;;
        --lifetime) lifetime=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--root DIR] [--lifetime SECONDS] [--] COMMAND [ARGS...]" >&2; exit 2; }

state=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-rig.XXXXXX")
fault_pid=
cleanup() {
    if [ -n "$fault_pid" ]; then
        kill -TERM "$fault_pid" 2>/dev/null
        for _ in $(seq 1 50); do
            kill -0 "$fault_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$fault_pid" 2>/dev/null
        wait "$fault_pid" 2>/dev/null
    fi
    nginx_rig_stop
    rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -z "$root" ]; then
    root=$state/www
    mkdir -p "$root"
fi
nginx_rig_start "$root" "$lifetime" || exit 1
nginx_rig_start_cache "$ORVANTA_NGINX_URL" "$lifetime" || exit 1

python3 "$here/fault_server.py" --lifetime "$lifetime" --ready-file "$state/fault.ready" --root "$root" \
    </dev/null >"$state/fault.log" 2>&1 &
fault_pid=$!
for _ in $(seq 1 200); do
    [ -s "$state/fault.ready" ] && break
    kill -0 "$fault_pid" 2>/dev/null || break
    sleep 0.05
done
if [ ! -s "$state/fault.ready" ]; then
    echo "with-servers: the fault server did not start:" >&2
    cat "$state/fault.log" >&2
    exit 1
fi
read -r ready <"$state/fault.ready"
fault_port=${ready#port=}
fault_port=${fault_port%% *}
closed_port=${ready##*closed_port=}
export ORVANTA_FAULT_URL="http://127.0.0.1:$fault_port/"
export ORVANTA_CLOSED_URL="http://127.0.0.1:$closed_port/"

"$@"
exit $?
