#!/usr/bin/env bash
# The service under a real systemd (the systemd box): installed from the build as the
# account vellumora, printing through a print server inside the box, stopped with a backlog,
# restarted, and looked at from systemd's side (journal priorities, the account, the shared
# files, the unit's exposure). Exit 77 (skipped) where the box or root is missing.
#   tests/host/service-box.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

src=$(realpath "$1")
build=$(realpath "$2")
box=$(realpath -m "$src/../shared/tools/systemd-box/box")

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || skip "the systemd box needs root"
[ -x "$box" ] || skip "no systemd box at $box"

# A box of our own, beside any other the machine runs.
state=$(mktemp -d /var/tmp/vellumora-box.XXXXXX)
export SYSTEMD_BOX_DIR=$state/box SYSTEMD_BOX_CGROUP=vellumora-test-$$
binds=()
for d in "$src" "$build"; do
  case "$d" in /tmp/* | /run/*) binds+=(--bind-ro "$d") ;; esac
done
"$box" start "${binds[@]}" >/dev/null
cleanup() {
  "$box" stop >/dev/null 2>&1 || "$box" stop
  rm -rf "$state"
}
trap cleanup EXIT
b() { "$box" run "$@"; }
# Waits up to $1 seconds for the shell condition $2 inside the box.
wait_for() {
  local seconds=$1 condition=$2
  for _ in $(seq $((seconds * 10))); do
    b sh -c "$condition" && return 0
    sleep 0.1
  done
  return 1
}

# The program as an administrator installs it, and a print server whose printer "capture"
# keeps each job as a file.
b cmake --install "$build" --prefix /usr/local >/dev/null
b env TMPDIR=/srv "$src/scripts/cups-sandbox" start --dir /srv/vt-cups --lifetime 1200 \
  --env-file /srv/vt-cups.env >/dev/null
sock=/srv/vt-cups/cups.sock
out=/srv/vt-cups/out/capture
jobs() { b sh -c "ls $out | grep -c '^job-.*\.prn$'" || true; }

echo "=== install"
b /usr/local/bin/vellumora-setup service install
b sh -c 'mkdir -p /etc/systemd/system/vellumora.service.d &&
  printf "[Service]\nEnvironment=CUPS_SERVER='"$sock"'\n" > /etc/systemd/system/vellumora.service.d/cups.conf &&
  systemctl daemon-reload'
[ "$(b stat -c '%U:%G %a' /var/lib/Vellumora)" = "vellumora:lpadmin 2775" ] ||
  fail "data directory: $(b stat -c '%U:%G %a' /var/lib/Vellumora)"
b id vellumora

# A hot folder granted to the service, and a root-only folder with a secret in it that a print
# administrator (not root: nobody with the group lpadmin) points a channel at.
b sh -c 'mkdir -p /srv/vt-in /srv/vt-secret && chmod 700 /srv/vt-secret &&
  echo "root only" > /srv/vt-secret/secret.txt'
b /usr/local/bin/vellumora-setup grant /srv/vt-in
b env CUPS_SERVER=$sock /usr/local/bin/vellumora-setup add-channel --folder /srv/vt-in \
  --printer capture --freq 1 --allow-raw
lpadmin_gid=$(b getent group lpadmin | cut -d: -f3)
b setpriv --reuid=65534 --regid=65534 --groups="$lpadmin_gid" env CUPS_SERVER=$sock \
  /usr/local/bin/vellumora-setup add-channel --folder /srv/vt-secret --printer capture --freq 1 ||
  fail "a print administrator could not add a channel (the data directory is not shared)"

echo "=== start and print one file"
b /usr/local/bin/vellumora-setup service start
pid=$(b systemctl show -p MainPID --value vellumora)
[ "$(b ps -o user= -p "$pid")" = vellumora ] || fail "the service runs as $(b ps -o user= -p "$pid")"
b sh -c 'echo "one file" > /srv/vt-in/one.txt'
wait_for 30 "[ ! -e /srv/vt-in/one.txt ] && [ \$(ls $out | grep -c '^job-.*\.prn$') -ge 1 ]" ||
  fail "one.txt was not printed: $(b journalctl -u vellumora -o cat --no-pager | tail -20)"

echo "=== stop with 60 files waiting"
b sh -c 'for i in $(seq -w 1 60); do echo "file $i" > /srv/vt-in/f$i.txt; done'
wait_for 30 "[ \$(ls $out | grep -c '^job-.*\.prn$') -ge 3 ]" || fail "the backlog does not print"
started=$(date +%s%N)
b systemctl stop vellumora
stopped=$(date +%s%N)
result=$(b systemctl show -p Result --value vellumora)
ms=$(((stopped - started) / 1000000))
echo "stop took $ms ms, Result=$result, $(jobs) jobs printed, $(b sh -c 'ls /srv/vt-in | wc -l') files waiting"
[ "$result" = success ] || fail "Result=$result"
[ "$ms" -lt 25000 ] || fail "the stop took $ms ms"

echo "=== restart: every file prints exactly once"
b systemctl start vellumora
wait_for 120 '[ -z "$(ls /srv/vt-in)" ]' || fail "files left: $(b ls /srv/vt-in)"
b systemctl stop vellumora
# The print server's last jobs may still be on their way to the printer.
wait_for 60 "[ -z \"\$(CUPS_SERVER=$sock lpstat -o)\" ]" || fail "jobs stay queued"
titles=$(b sh -c "grep -h '^title' $out/*.info" | sort)
[ "$(echo "$titles" | wc -l)" -eq 61 ] || fail "$(echo "$titles" | wc -l) jobs for 61 files"
[ "$(echo "$titles" | uniq | wc -l)" -eq 61 ] || fail "a file printed twice: $(echo "$titles" | uniq -d)"

echo "=== what the service may not do"
b test -e /srv/vt-secret/secret.txt || fail "the secret was deleted"
if echo "$titles" | grep -q secret; then fail "the secret was printed"; fi
wait_for 20 "journalctl -u vellumora -p err -o cat --no-pager | grep -qF 'ERROR: Access privilege to folder /srv/vt-secret insufficient'" ||
  fail "no access ERROR for the root-only folder in the journal: $(b journalctl -u vellumora -o cat --no-pager | tail -40)"
if b journalctl -u vellumora -p err -o cat --no-pager | grep -q "scanning started"; then
  fail "info lines have the priority err"
fi
b journalctl -u vellumora -p info -o cat --no-pager | grep -q "Print channel scanning started" ||
  fail "no info line in the journal"

echo "=== shared files"
for f in Vellumora.log Vellumora.ledger Vellumora.vch; do
  mode=$(b stat -c '%G %A' /var/lib/Vellumora/$f)
  case "$mode" in "lpadmin -rw-rw-"*) echo "$f: $mode" ;; *) fail "$f: $mode" ;; esac
done

echo "=== exposure"
b systemd-analyze security vellumora --no-pager | tail -n 1
exposure=$(b systemd-analyze security vellumora --no-pager | tail -n 1 | sed -n 's/.*: \([0-9.]*\) .*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e > 0 && e <= 2.0) }' || fail "exposure $exposure"
echo "service box: all checks passed"
