# Sourced by the benchmark scripts: a scratch folder $work (removed on exit, with the headless
# Vellumora $vpid if one runs) holding a private print server whose queue "capture" is paused,
# so that jobs are accepted and kept but never printed. Needs $work_name set by the caller.
work=$(mktemp -d "/tmp/vellumora-${work_name}.XXXXXX")
chmod 755 "$work"
cleanup() {
  [ -n "${vpid:-}" ] && kill "$vpid" 2>/dev/null && wait "$vpid" 2>/dev/null
  scripts/cups-sandbox stop "$work/cups" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/cups"
scripts/cups-sandbox start --dir "$work/cups" --owner $$ >/dev/null
# shellcheck disable=SC1091
source "$work/cups/env"
cupsdisable capture
