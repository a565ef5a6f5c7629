#!/usr/bin/env bash
# The demo: a real update of a sample client folder. Makes an update package with the
# project's cabinet writer, lays out a client folder with the updater in it and a system
# folder with a stand-in for regsvr32.exe, opens a stand-in for the client's waiting window,
# runs the updater in automatic mode and shows the result the window receives, the client
# folder before and after, and the registrations started. Builds the programs first if
# needed: tools/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target Update waitwnd cabtool >/dev/null

demo=$(mktemp -d /tmp/korvane-demo-XXXXXX)
client=$demo/Client
waiter=
cleanup() {
    [ -z "$waiter" ] || kill "$waiter" 2>/dev/null || true
    rm -rf "$demo"
}
trap cleanup EXIT

# Every file below a folder with its first line (its size if it is not text), marked when
# its owner may not write it (the platform's read-only attribute).
show() {
    (cd "$1" && find . -type f | sort | while read -r f; do
        if grep -Iq . "$f"; then what=$(head -n 1 "$f" | tr -d '\r'); else what="$(stat -c %s "$f") bytes"; fi
        [ "$(stat -c %A "$f" | cut -c3)" = w ] || what="$what (read-only)"
        printf '  %-20s %s\n' "${f#./}" "$what"
    done)
}

# A program that writes how it was started into the demo's registration log.
recorder() {
    printf '#!/bin/sh\necho "%s $*  (current folder: $PWD)" >> "%s"\n' "$1" "$demo/registrations.log"
}

# The package: the top folder Files with the manifest Patch_7.update, a replacement for a
# read-only file, a new file in a new sub-folder, and a library and an executable that are
# registered after installation.
package=$demo/package/Files
mkdir -p "$package/skins" "$package/bin"
printf '%s\r\n' '[VerInfo]' 'UpdateFileNum=4' \
    '[File1]' 'FileName=Main.exe' 'FilePath=\' 'RegFlag=0' \
    '[File2]' 'FileName=blue.skin' 'FilePath=\skins\' 'RegFlag=0' \
    '[File3]' 'FileName=Plugin.dll' 'FilePath=\bin\' 'RegFlag=1' \
    '[File4]' 'FileName=Server.exe' 'FilePath=\' 'RegFlag=1' > "$package/Patch_7.update"
echo "Main program, version 2.0" > "$package/Main.exe"
echo "A new blue skin" > "$package/skins/blue.skin"
echo "Plugin library, version 2.0" > "$package/bin/Plugin.dll"
recorder "Server.exe" > "$package/Server.exe"

# The client folder: the updater, the download folder with the package, and the sub-folder
# to update, whose Main.exe is read-only. The system folder holds the regsvr32.exe
# stand-in. The window and the updater meet in a runtime folder of their own.
mkdir -p "$client/DownTemp" "$client/Sub" "$demo/System" "$demo/run"
cp "$build/bin/Update" "$client/"
"$build/bin/cabtool" create "$client/DownTemp/Patch_7.cab" "$package"
echo "Main program, version 1.0" > "$client/Sub/Main.exe"
chmod a-w "$client/Sub/Main.exe"
echo "Settings the update leaves alone" > "$client/Sub/settings.txt"
recorder "regsvr32.exe" > "$demo/System/regsvr32.exe"
chmod +x "$demo/System/regsvr32.exe"
export XDG_RUNTIME_DIR=$demo/run KORVANE_SYSTEM_DIR=$demo/System

echo "Package Patch_7.cab, made by the project's cabinet writer:"
"$build/bin/cabtool" list "$client/DownTemp/Patch_7.cab" | sed 's/^/  /'
echo
echo "Manifest Files\\Patch_7.update:"
tr -d '\r' < "$package/Patch_7.update" | sed 's/^/  /'
echo
echo "Client folder $client before the update:"
show "$client"

"$build/bin/waitwnd" -t 30 3 > "$demo/received.txt" &
waiter=$!
for _ in $(seq 100); do
    ls "$demo/run/korvane" 2>/dev/null | grep -q 'WaitForUpdateResultWnd3$' && break
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
sed 's/^/  /' "$demo/received.txt"
case $status in
    0) echo "Result 0: the update succeeded." ;;
    1) echo "The update failed (see the message above)." ;;
    *) echo "No result arrived." ;;
esac

# The registrations run on their own; give them a moment to write their lines.
for _ in $(seq 50); do
    [ "$(cat "$demo/registrations.log" 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.05
done
echo
echo "Client folder after the update (package and unpack folder removed, no backups left):"
show "$client"
echo
echo "Registrations started:"
if [ -f "$demo/registrations.log" ]; then sed 's/^/  /' "$demo/registrations.log"; else echo "  none"; fi
exit "$status"
