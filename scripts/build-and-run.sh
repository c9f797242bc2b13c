#!/usr/bin/env bash
# Installs what is missing, builds, and shows the document of one query: the SQL given as
# arguments, or an example.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

quorix_prepare

if (($# == 0)); then
  set -- "SELECT id, title FROM docs WHERE lang = 'en' ORDER BY id LIMIT 10"
fi
echo "quorix-sql --pretty $*"
"$QUORIX_BUILD_DIR/tools/quorix-sql" --pretty "$@"
