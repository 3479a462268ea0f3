#!/usr/bin/env bash
# Set-up, build, and start the desk.
#   ./run.sh          the desk on its own data folder and settings
#   ./run.sh --demo   the desk in a sandbox under build/demo/ with the carrier simulator as the
#                     paging terminal (see README.md)
set -euo pipefail
cd "$(dirname "$0")"
. ./deps.sh
plimo_need_packages "${PLIMO_BUILD_PACKAGES[@]}"

if [ "${1:-}" != "--demo" ]; then
    plimo_build
    exec build/app/plimopager "$@"
fi
shift

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target plimopager pagersim demoseed

# The sandbox: its own data folder (tables, pending queue, message file), its own settings file and
# the simulator's transcript. The operator's data folder and pager.ini are never touched.
demo="$PWD/build/demo"
mkdir -p "$demo/data" "$demo/config"
transcript="$demo/transcript.jsonl"
export XDG_CONFIG_HOME="$demo/config"

sim_out="$demo/pagersim.out"
: >"$sim_out"
build/tools/pagersim/pagersim --password demo --snpp 0 --wctp 0 --quiet --transcript "$transcript" >"$sim_out" 2>"$demo/pagersim.log" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    grep -q READY "$sim_out" && break
    sleep 0.1
done
device=$(sed -n 's/^DEVICE //p' "$sim_out")
if [ -z "$device" ]; then
    echo "The carrier simulator did not start (see $demo/pagersim.log)." >&2
    exit 1
fi
snpp=$(sed -n 's/^SNPP //p' "$sim_out")
wctp=$(sed -n 's/^WCTP //p' "$sim_out")
build/tools/demoseed/demoseed "$demo/data" "$device" "$snpp" "$wctp" >/dev/null

cat <<INFO
PlimoPager32 demo
  data folder:   $demo/data
  settings:      $XDG_CONFIG_HOME/PlimoPager32/pager.ini (Communications Port = $device)
  carriers:      "Demo Paging" (modem) on the carrier simulator: users Alice Demo, Bob Demo, Carol Demo;
                 "Demo SNPP" (SNPP $snpp): Dave Demo; "Demo WCTP" (WCTP $wctp): Erin Demo
  transcript:    $transcript   (what the paging terminal received: tail -f it)
  message file:  drop a file "plimomsgs.txt" into $demo/data to page from another program
Type a message, tick a user, press "Send Mesg".
INFO

cd "$demo/data"
PLIMOPAGER_DEMO_DATA="$demo/data" "$OLDPWD/build/app/plimopager" "$@"
