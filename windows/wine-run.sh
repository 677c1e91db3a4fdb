#!/bin/sh
# Runs a Windows program under Wine, without a window and without Wine's own diagnostics.
# CMake uses it for every cross-built program it runs (build-time tools, test discovery,
# ctest). windows/with-wine.sh sets up the Wine prefix and server it uses.
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine would offer to install its .NET and HTML engines on a new prefix; neither is needed.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
