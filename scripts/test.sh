#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; exits with ctest's status.
# Extra arguments go to ctest (for example -R cli to run only the command's tests).
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

quorix_prepare

cd "$QUORIX_BUILD_DIR"
exec ctest --output-on-failure -j "$(nproc)" "$@"
