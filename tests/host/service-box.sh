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
# Programs the unit could not run are refused before anything is written.
b sh -c 'cp /usr/local/bin/vellumora /tmp/vellumora && cp /usr/local/bin/vellumora /root/vellumora && chmod 700 /root'
for exe in /tmp/vellumora /root/vellumora; do
  if b /usr/local/bin/vellumora-setup service install --executable $exe; then
    fail "install took $exe"
  fi
done
b test ! -e /etc/systemd/system/vellumora.service || fail "a refused install wrote the unit"
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

# The phone server, on the box's own loopback (the box has no other network).
b /usr/local/bin/vellumora-setup server on --port 51042 >/dev/null

echo "=== start and print one file"
b /usr/local/bin/vellumora-setup service start
pid=$(b systemctl show -p MainPID --value vellumora)
[ "$(b ps -o user= -p "$pid")" = vellumora ] || fail "the service runs as $(b ps -o user= -p "$pid")"
b sh -c 'echo "one file" > /srv/vt-in/one.txt'
wait_for 30 "[ ! -e /srv/vt-in/one.txt ] && [ \$(ls $out | grep -c '^job-.*\.prn$') -ge 1 ]" ||
  fail "one.txt was not printed: $(b journalctl -u vellumora -o cat --no-pager | tail -20)"

echo "=== a phone upload reaches only what the account may write"
# A phone as the protocol sees it: hello (with a PIN) on port A, an upload on port B.
b sh -c 'cat > /usr/local/bin/vt-phone && chmod 755 /usr/local/bin/vt-phone' <<'PHONE'
#!/bin/bash
# vt-phone hello PIN | vt-phone upload CHANNEL NAME: prints the server's last answer.
case "$1" in
  hello)
    exec 3<>/dev/tcp/127.0.0.1/51042
    printf 'HelloVellumora phone#%s\r\n' "$2" >&3
    read -t 5 -r line <&3 && echo "${line%$'\r'}" ;;
  upload)
    exec 4<>/dev/tcp/127.0.0.1/51043
    printf 'FileIsNext CH[%s] %s\r\nFileSize 5\r\n' "$2" "$3" >&4
    read -t 5 -r line <&4 || { echo "(closed)"; exit 0; }
    [ "${line%$'\r'}" = "200 OK Waiting for file transfer ..." ] || { echo "${line%$'\r'}"; exit 0; }
    printf 'keys\n' >&4
    read -t 5 -r line <&4 && echo "${line%$'\r'}" ;;
esac
PHONE
b vt-phone hello 000000
# Accepted from the command line; the service reads the lists again within ten seconds.
b /usr/local/bin/vellumora-setup clients accept phone --channels 1,2 >/dev/null
pin=$(b /usr/local/bin/vellumora-setup clients list | awk '$1 == "phone" { print $3 }')
wait_for 30 "vt-phone hello $pin | grep -q '^201 Welcome back'" ||
  fail "the accepted phone cannot log in with PIN $pin"
reply=$(b vt-phone upload vt-secret authorized_keys)
b test ! -e /srv/vt-secret/authorized_keys || fail "the upload landed in the root-only folder"
wait_for 10 "journalctl -u vellumora -p err -o cat --no-pager | grep -q 'ERROR Mobile upload from 127.0.0.1 refused: '" ||
  fail "no refusal of the upload into the root-only folder (the phone read: $reply)"
b journalctl -u vellumora -p err -o cat --no-pager | grep 'ERROR Mobile upload from 127.0.0.1 refused: ' | head -n 1
reply=$(b vt-phone upload vt-in photo.txt)
[ "$reply" = "200 File photo.txt completed" ] || fail "an upload into the granted folder: $reply"
wait_for 30 '[ ! -e /srv/vt-in/photo.txt ]' || fail "the upload into the granted folder was not printed"

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
[ "$(echo "$titles" | wc -l)" -eq 62 ] || fail "$(echo "$titles" | wc -l) jobs for 62 files"
[ "$(echo "$titles" | uniq | wc -l)" -eq 62 ] || fail "a file printed twice: $(echo "$titles" | uniq -d)"

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
