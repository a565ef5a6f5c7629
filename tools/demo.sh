#!/usr/bin/env bash
# The demo: lays out a sample client folder with the updater in it, opens a stand-in for
# the client's waiting window, runs the updater in automatic mode and shows the result the
# window receives. Builds the programs first if needed: tools/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target Update waitwnd >/dev/null

client=$(mktemp -d /tmp/korvane-demo-XXXXXX)
waiter=
cleanup() {
    [ -z "$waiter" ] || kill "$waiter" 2>/dev/null || true
    rm -rf "$client"
}
trap cleanup EXIT

# The client folder: the updater, the download folder and the sub-folder to update. The
# window and the updater meet in a runtime folder of their own.
mkdir -p "$client/DownTemp" "$client/Sub" "$client/run"
cp "$build/bin/Update" "$client/"
echo "sample client data" > "$client/Sub/data.txt"
export XDG_RUNTIME_DIR="$client/run"

echo "Client folder $client:"
(cd "$client" && find . -path ./run -prune -o -print | sort | sed 's/^/  /')

"$build/bin/waitwnd" -t 30 3 > "$client/received.txt" &
waiter=$!
for _ in $(seq 100); do
    ls "$client/run/korvane" 2>/dev/null | grep -q 'WaitForUpdateResultWnd3$' && break
    sleep 0.05
done

echo
echo "The client waits in window WaitForUpdateResultWnd3 and starts:"
echo "  $client/Update '^3^Game^Patch_7.cab^Sub^'"
"$client/Update" '^3^Game^Patch_7.cab^Sub^'
status=0
wait "$waiter" || status=$?
waiter=

echo
echo "The waiting window received:"
sed 's/^/  /' "$client/received.txt"
case $status in
    0) echo "Result 0: the update succeeded." ;;
    1) echo "The update failed (see the message above)." ;;
    *) echo "No result arrived." ;;
esac
