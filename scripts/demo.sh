#!/usr/bin/env bash
# The demo: installs what is missing, builds the headless program, creates the demo database,
# runs the demo document against the built-in OPC simulation server for a while and prints what
# landed in the tables. DURATION (seconds, default 30) sets how long it runs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
build="$root/build/release"
echo "=== build tidewell-cli in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target tidewell-cli

demo="$root/build/demo"
mkdir -p "$demo"
rm -f "$demo/demo.sqlite"
sqlite3 "$demo/demo.sqlite" < "$root/examples/demo-schema.sql"
cp "$root/examples/demo.tdw" "$demo/demo.tdw"

duration=${DURATION:-30}
echo "=== run examples/demo.tdw for ${duration} s (events below)"
(cd "$demo" && "$build/src/cli/tidewell-cli" run demo.tdw --duration "$duration")

echo "=== what landed in $demo/demo.sqlite"
sqlite3 -header -column "$demo/demo.sqlite" <<'SQL'
SELECT 'Messwerte' AS Tabelle, COUNT(*) AS Zeilen FROM Messwerte
UNION ALL SELECT 'MesswerteStatus', COUNT(*) FROM MesswerteStatus
UNION ALL SELECT 'Aktuell', COUNT(*) FROM Aktuell;
SELECT * FROM Messwerte ORDER BY rowid DESC LIMIT 5;
SELECT * FROM MesswerteStatus ORDER BY rowid DESC LIMIT 5;
SELECT * FROM Aktuell;
SQL
