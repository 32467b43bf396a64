#!/usr/bin/env bash
# wine-run.sh <prefix> <program.exe> [args...]
# Runs one Windows program under Wine in the given prefix and returns its exit
# status: a PE32+ program with 64-bit Wine, a PE32 with 32-bit Wine. A PE32 on
# a host that cannot run i386 code is not run: the status is 77 (skipped)
# and the output says why. The prefix is the one the test run's setup
# created; a missing prefix is an error (this never falls back to ~/.wine).
# SKELVIN_WINE_TIMEOUT (seconds, default 600) bounds the run.
set -u
prefix=$1
shift
source "$(dirname "$0")/../wine_host.sh"
require_runnable "" "$1"
if [ ! -f "$prefix/.update-timestamp" ]; then
  echo "wine-run: no Wine prefix at $prefix (run the wine_prefix setup fixture first)" >&2
  exit 125
fi
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A unit test must never wait on a window: without a display a box fails at once.
unset DISPLAY
exec timeout --kill-after=10 "${SKELVIN_WINE_TIMEOUT:-600}" "$(wine_loader "" "$1")" "$@"
