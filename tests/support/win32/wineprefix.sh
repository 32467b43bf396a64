#!/usr/bin/env bash
# wineprefix.sh setup|cleanup|template <prefix> [win32|win64]
# The Wine prefix of one test run. setup: a new prefix (any old one is shut
# down and removed first) with a persistent wineserver, so that the test
# binaries of the run share one server; a copy of the template of its arch
# when SKELVIN_WINE_TEMPLATES holds one (wine_template), else set up by
# wineboot. cleanup: stops that server and removes the prefix.
# template: <prefix> becomes a template, a prefix set up by wineboot --init
# whose server has saved and exited; one made by the same Wine is kept, so
# that the runs with each Windows version copy the same one.
# Every wine command runs under timeout; wine's own output goes to
# <prefix>.log, so that no daemon keeps the caller's pipes.
# A 32-bit prefix on a host that cannot run i386 code is not made: the status
# is 77 (skipped) and the output says why.
set -euo pipefail
action=$1
prefix=$2
arch=${3:-win32}
source "$(dirname "$0")/../wine_host.sh"
source "$(dirname "$0")/../wineserver.sh"
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
log=$prefix.log

stop_server() { ws_stop "$prefix" >>"$log" 2>&1 || true; }

case $action in
  setup)
    echo "$host_kind"
    require_runnable "$arch"
    stop_server
    rm -rf "$prefix"
    : >"$log"
    export WINEARCH=$arch
    if template=$(wine_template "$arch"); then
      cp -a "$template" "$prefix"
      echo "wineprefix: a copy of $template"
      ws_start "$prefix" >>"$log" 2>&1
    else
      mkdir -p "$prefix"
      ws_start "$prefix" >>"$log" 2>&1
      if ! timeout 600 "$(wine_loader "$arch")" wineboot --init </dev/null >>"$log" 2>&1; then
        echo "wineprefix: wineboot --init failed for $prefix (see $log)" >&2
        exit 1
      fi
    fi
    # The registry files appear only when the server saves; the timestamp
    # is wineboot's mark of a finished set-up.
    if [ ! -f "$prefix/.update-timestamp" ]; then
      echo "wineprefix: wineboot did not finish setting up $prefix (see $log)" >&2
      exit 1
    fi
    if ! wine_set_windows "$arch"; then
      echo "wineprefix: the Windows version could not be set for $prefix" >&2
      exit 1
    fi
    # Windows always has C:\Windows\system; wineboot makes it with the 32-bit
    # half of a prefix, which 64-bit Wine alone (no i386 code) cannot set up.
    if [ ! -d "$prefix/drive_c/windows/system" ]; then
      mkdir "$prefix/drive_c/windows/system"
      echo "wineprefix: made C:\\Windows\\system (the prefix's 32-bit half is not set up)"
    fi
    echo "wineprefix: $prefix ready ($arch)"
    ;;
  cleanup)
    stop_server
    rm -rf "$prefix"
    echo "wineprefix: $prefix removed"
    ;;
  template)
    echo "$host_kind"
    require_runnable "$arch"
    stamp="$(timeout 60 "$wine64" --version) $arch"
    if [ -f "$prefix/.update-timestamp" ] && [ "$(cat "$prefix.stamp" 2>/dev/null)" = "$stamp" ]; then
      echo "wineprefix: template $prefix kept ($stamp)"
      exit 0
    fi
    stop_server
    rm -rf "$prefix" "$prefix.stamp" "$prefix.new"
    mkdir -p "$prefix.new"
    : >"$log"
    if ! WINEPREFIX=$prefix.new WINEARCH=$arch timeout 600 "$(wine_loader "$arch")" wineboot --init \
      </dev/null >>"$log" 2>&1 || ! ws_wait "$prefix.new" >>"$log" 2>&1 ||
      [ ! -f "$prefix.new/.update-timestamp" ]; then
      echo "wineprefix: wineboot --init failed for the template $prefix (see $log)" >&2
      exit 1
    fi
    mv "$prefix.new" "$prefix"
    echo "$stamp" >"$prefix.stamp"
    echo "wineprefix: template $prefix made ($stamp)"
    ;;
  *)
    echo "usage: $0 setup|cleanup|template <prefix> [win32|win64]" >&2
    exit 2
    ;;
esac
