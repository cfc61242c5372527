#!/usr/bin/env bash
# Planted faults: shows which unit tests catch which small mutation of the code (a flipped
# comparison, a dropped condition or call, an off-by-one, two steps swapped).
#   scripts/planted-faults.sh [--only ID,...] [--tests REGEX] [--end-to-end [missed|all]] [--list]
# Works on a copy in /tmp/quorin-mutants (QUORIN_MUTANTS_DIR), never on this tree; the slow
# torture suite is left out, and so is the acceptance suite unless --end-to-end asks for it: then
# each mutant also builds the kiosk, and a fault in app/ or session/ that the unit tests miss (or,
# with "all", every such fault) is run against the acceptance test too, about 4 minutes each. The
# mutations are listed in planted_faults.py.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/ensure-deps.sh"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec python3 "$here/planted_faults.py" --scratch "${QUORIN_MUTANTS_DIR:-/tmp/quorin-mutants}" "$@"
