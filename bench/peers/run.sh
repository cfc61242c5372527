#!/usr/bin/env bash
# Runs the peer benchmark with our entries (quorin.tsv) next to the peers, from a release build.
#
#   bench/peers/run.sh [bench.py options...]     e.g. --files plain --runs 3 --md /tmp/peers.md
#
# Needs the peers built (bash $BENCH_PEERS/build.sh, into /tmp/csvpeers) and the data generated
# (python3 $BENCH_PEERS/gen_data.py --out /tmp/csvbench). BENCH_PEERS defaults to the shared
# folder beside the repository.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BENCH_PEERS=${BENCH_PEERS:-$ROOT/../shared/bench-peers}
cd "$ROOT"
cmake --preset release >/dev/null
cmake --build --preset release --target quorin-csv csv_count csv_write_doc -j2
exec python3 "$BENCH_PEERS/bench.py" --extra bench/peers/quorin.tsv "$@"
