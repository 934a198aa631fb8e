#!/usr/bin/env bash
# Builds qavtool, creates the embedded demo suite once, and opens the SQL console on its DEMO company.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
qav_install_deps
qav_build build

demo=build/demo
if [ ! -d "$demo/suite" ]; then
  mkdir -p "$demo"
  build/make-demo-suite "$demo/suite"
fi
echo "embedded:suite" > "$demo/Server.Dat"
cd "$demo"
# menu 12 = SQL Export, user 1 = ADMIN, company DEMO; argument 4 is not read.
exec ../qavtool 12 1 DEMO - EXPORT-TO "$(date +%d/%m/%Y)"
