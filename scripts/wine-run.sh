#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix (the CTest emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
qelt_wine_prefix
exec "$QELT_WINE" "$@"
