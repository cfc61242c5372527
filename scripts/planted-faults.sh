#!/usr/bin/env bash
# Planted faults: shows which unit tests catch which small mutation of the code (a flipped
# comparison, a dropped condition or call, an off-by-one, two steps swapped).
#   scripts/planted-faults.sh [--only ID,...] [--tests REGEX] [--list]
# Works on a copy in /tmp/quorin-mutants (QUORIN_MUTANTS_DIR), never on this tree; the slow
# torture and acceptance suites are left out. The mutations are listed in planted_faults.py.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/ensure-deps.sh"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec python3 "$here/planted_faults.py" --scratch "${QUORIN_MUTANTS_DIR:-/tmp/quorin-mutants}" "$@"
