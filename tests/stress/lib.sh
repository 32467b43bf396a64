# shellcheck shell=bash
# Shared by the stress scripts (sourced): result lines, leftovers, clocks,
# and commands run where /run/user/<uid> is present or absent.

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
# A case that could not run here, and why: said, never silent.
not_run() { echo "not run: $*"; }
# Ends the script: a summary line, and the status.
finish() {
  echo "$1: $failures failure(s)"
  [ "$failures" = 0 ]
}

# What a store leaves in a prefix only while it is at work, on one line.
leftovers() { ls -A "$1" 2>/dev/null | grep -E 'skelvin-|^\.wineserver-' | paste -sd ' '; }

now_ms() { date +%s%3N; }

# The environment the runs would share if /run/user/<uid> existed.
# shellcheck disable=SC2034  # read by the scripts that source this
run_user_dir=/run/user/$(id -u)

# ns_run <present|absent> COMMAND...: runs COMMAND in a private mount
# namespace where /run/user/<uid> exists (an empty tmpfs) or does not. Root
# only; can_ns tells whether it works here.
ns_run() {
  local want=$1
  shift
  unshare --mount --propagation private sh -c '
    if [ -d /run/user ]; then mount -t tmpfs -o mode=755 tmpfs /run/user; else mount -t tmpfs -o mode=755 tmpfs /run && mkdir /run/user; fi || exit 125
    if [ "$0" = present ]; then mkdir -m 700 "/run/user/$(id -u)" || exit 125; fi
    exec "$@"' "$want" "$@"
}
can_ns() {
  [ "$(id -u)" = 0 ] && ns_run present sh -c '[ -d "/run/user/$(id -u)" ]' 2>/dev/null &&
    ns_run absent sh -c '[ ! -e "/run/user/$(id -u)" ]' 2>/dev/null
}
