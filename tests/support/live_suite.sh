#!/usr/bin/env bash
# Runs a native test binary against a prefix in use: a new 64-bit prefix,
# set up by Wine, whose wineserver runs (persistent) while the binary runs
# with SKELVIN_TEST_REGISTRY=live, so that its registry calls go through the
# prefix's running Wine. The server is stopped afterwards, and must have
# exited.
# Usage: live_suite.sh <test binary> [arguments...]
set -u
source "$(dirname "$0")/wine_host.sh"
source "$(dirname "$0")/wineserver.sh"
export WINEDEBUG=-all WINEARCH=win64
unset DISPLAY
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-live-XXXXXX")
prefix=$work/prefix
cleanup() {
  ws_stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

echo "$host_kind; $(timeout 30 "$wine64" --version 2>&1): the calls go through its running wineserver"
# Set up by Wine and saved (its server exits), then in use again.
WINEPREFIX=$prefix timeout 300 "$wine64" wineboot --init >"$work/wineboot.out" 2>&1 && ws_wait "$prefix" ||
  { echo "FAIL: the prefix was not set up: $(tail -n 3 "$work/wineboot.out")"; exit 1; }
ws_start "$prefix" || { echo "FAIL: wineserver did not start"; exit 1; }
WINEPREFIX=$prefix SKELVIN_TEST_REGISTRY=live timeout 1200 "$@"
status=$?
ws_stop "$prefix" || { echo "FAIL: wineserver did not exit"; status=1; }
exit "$status"
