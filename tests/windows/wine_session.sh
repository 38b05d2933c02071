#!/usr/bin/env bash
# wine_session.sh BUILD_FOLDER COMMAND...
# Runs COMMAND (the Windows test suite) in one Wine session on the build
# folder's Wine prefix, the one its test programs run in. Started here, apart
# from the tests, Wine's own service processes do not hold a test's output
# open after it ends, and each test program starts in a fraction of a second.
# The session ends with the command.
set -euo pipefail
build=$1
shift
WINEPREFIX="$(cd "$build" && pwd)/wine"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p 2> /dev/null || echo "a Wine server already serves $WINEPREFIX: the session goes on with it"
trap 'wineserver -k || true' EXIT
wine wineboot > /dev/null 2>&1 < /dev/null  # makes the prefix on the first run
"$@"
