#!/usr/bin/env bash
# Latency from a complete file to its accepted job, 100 channels; see bench/README.md.
#   usage: bench/latency/run.sh [BUILD_DIR] [FILES]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
files=${2:-200}
work_name=latency
# shellcheck source=bench/sandbox.sh
source bench/sandbox.sh
"$build/bench/latency_bench" capture "$files" 100
