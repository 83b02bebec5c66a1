#!/usr/bin/env bash
# The real vellumora program under a virtual X display: it starts with one channel to the
# private print server's "capture" queue, a picture is dropped into the channel's folder, the
# operator's Print is pressed by object name in the preview, and the job arrives at the queue.
#   desktop-e2e.sh VELLUMORA VELLUMORA_SETUP CUPS_ENV_FILE PICTURE
# Then scanning is stopped, Setup opens the setup dialog on its general page, and on the channel
# page the driver settings dialog of the PostScript queue opens and is cancelled; the page
# layout page then reads that queue's page. With VELLUMORA_SCREENSHOT set to a folder, the
# windows are pictured there.
set -euo pipefail
program=$1 setup=$2 cups_env=$3 picture=$4
# shellcheck disable=SC1090
source "$cups_env"
work=$(mktemp -d /tmp/vellumora-e2e.XXXXXX)
display_pid=""
copier=""
cleanup() {
  [ -n "$copier" ] && wait "$copier" 2>/dev/null || true
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null || true
  if [ "${status:-1}" -eq 0 ]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT
status=1

# A display of our own: Xvfb picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
display_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
display=:$(head -n 1 "$work/display")

# A data directory and a private runtime folder of its own: the program never meets another
# Vellumora running on this machine.
export VELLUMORA_COMMON_APPDATA=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$VELLUMORA_COMMON_APPDATA" "$work/in"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
"$setup" add-channel --folder "$work/in" --printer capture --freq 1 >/dev/null
before=$(find "$VELLUMORA_CAPTURE_DIR" -name 'job-*' 2>/dev/null | wc -l)

cat >"$work/script" <<STEPS
wait-enabled BNstartStop
wait-enabled BNprint
screenshot TForm0 $work/waiting.png
click BNprint
wait-file-gone $work/in/photo.jpg
click BNstartStop
click BNsetup
tab PageControl1 0
sleep 300
screenshot Form1 $work/setup-general.png
tab PageControl1 1
sleep 900
screenshot Form1 $work/setup-channels.png
type CBprinters capture-ps
click BNdriverSetup
wait-enabled CBmedia
sleep 300
screenshot DriverSettingsDialog $work/driver-settings.png
close DriverSettingsDialog
wait-disabled CBmedia
sleep 900
tab PageControl1 2
click BNgetCurrentPaperSettings
click CBcenter
sleep 1500
screenshot Form1 $work/setup-layout.png
click BNquit
STEPS
export VELLUMORA_UI_SCRIPT=$work/script
# In the sanitizer build: the desktop libraries' process-long caches are no leaks of ours.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/program-lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export DISPLAY=$display
# The picture arrives once the program scans.
(sleep 3; cp "$picture" "$work/in/photo.jpg") &
copier=$!
timeout -k 10 150 "$program" >"$work/program.log" 2>&1 || { echo "vellumora did not end by itself" >&2; cat "$work/program.log" >&2; exit 1; }

log=$(iconv -f UTF-16LE -t UTF-8 "$VELLUMORA_COMMON_APPDATA/Vellumora/Vellumora.log" | tr -d '\r')
echo "$log" | tail -n 20
grep -q "File was successfully sent to printer" <<<"$log" || { echo "no print reported" >&2; exit 1; }
grep -q "ERROR UI script" <<<"$log" && { echo "the UI script failed" >&2; exit 1; }
for _ in $(seq 100); do
  after=$(find "$VELLUMORA_CAPTURE_DIR" -name 'job-*' 2>/dev/null | wc -l)
  [ "$after" -gt "$before" ] && break
  sleep 0.1
done
[ "$after" -gt "$before" ] || { echo "no job reached the capture queue" >&2; exit 1; }
# The preview waited for the operator: the window was pictured with Print enabled.
[ -s "$work/waiting.png" ] || { echo "the preview never waited for Print" >&2; exit 1; }
# Once scanning stopped, Setup opened the setup dialog.
[ -s "$work/setup-general.png" ] || { echo "the setup dialog did not open" >&2; exit 1; }
[ -s "$work/setup-channels.png" ] || { echo "the channel page did not show" >&2; exit 1; }
# The channel's printer offered its driver settings in a dialog of ours.
[ -s "$work/driver-settings.png" ] || { echo "the driver settings dialog did not open" >&2; exit 1; }
# The page layout page showed the PostScript queue's page.
[ -s "$work/setup-layout.png" ] || { echo "the page layout page did not show" >&2; exit 1; }
if [ -n "${VELLUMORA_SCREENSHOT:-}" ]; then
  cp "$work/waiting.png" "$VELLUMORA_SCREENSHOT/main-window.png"
  cp "$work/setup-general.png" "$VELLUMORA_SCREENSHOT/setup-general.png"
  cp "$work/setup-channels.png" "$VELLUMORA_SCREENSHOT/setup-channels.png"
  cp "$work/driver-settings.png" "$VELLUMORA_SCREENSHOT/driver-settings.png"
  cp "$work/setup-layout.png" "$VELLUMORA_SCREENSHOT/setup-layout.png"
fi
status=0
echo "desktop end-to-end: the picture was previewed, printed on Print, and captured; Setup opened the setup dialog"
