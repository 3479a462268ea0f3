#!/usr/bin/env bash
# The Debian package, built from the build folder with cpack into a temporary folder: its files, its
# dependencies, its menu entry and metainfo checked by their validators, and the desk it holds
# started as the menu starts it, which must keep its files in the per-user data folder.
#   package_test.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
app_id=$2
work=$(mktemp -d)
desk=
cleanup() {
    if [ -n "$desk" ]; then
        kill "$desk" 2>/dev/null || true
        wait "$desk" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Polls for a condition for up to 30 s.
within() {
    local i
    for i in $(seq 300); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/files"
for f in usr/bin/plimopager usr/bin/pagesend usr/bin/pagersim usr/bin/logreport usr/bin/plimopagerd \
         usr/bin/plimopager-mail usr/share/man/man1/plimopager-mail.1.gz \
         "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
         "usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
         "usr/share/icons/hicolor/48x48/apps/$app_id.png" "usr/share/icons/hicolor/256x256/apps/$app_id.png" \
         usr/share/man/man1/plimopager.1.gz usr/share/man/man1/pagesend.1.gz usr/share/man/man1/pagersim.1.gz \
         usr/share/man/man1/logreport.1.gz usr/share/man/man1/plimopagerd.1.gz \
         usr/lib/systemd/user/plimopagerd.service; do
    grep -qx "\./$f" "$work/files" || fail "the package lacks /$f"
done
# Nothing of the build or the tests: only the prefix's programs and shared files, and the service's
# systemd user unit with its folders.
if grep -vx -e '\./' -e '\./usr/' -e '\./usr/bin/.*' -e '\./usr/share/.*' \
        -e '\./usr/lib/' -e '\./usr/lib/systemd/' -e '\./usr/lib/systemd/user/' \
        -e '\./usr/lib/systemd/user/plimopagerd\.service' "$work/files"; then
    fail "files outside /usr/bin, /usr/share and the user unit"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for d in libqt6core6 libqt6widgets6 libc6 qt6-qpa-plugins fonts-liberation; do
    [[ ", $depends," == *", $d"[\ ,]* ]] || fail "Depends lacks $d"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
for page in plimopager pagesend pagersim logreport plimopagerd plimopager-mail; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -qx '\.SH NAME' || fail "manual page $page"
done
"$root/usr/bin/pagesend" --help | grep -q -- '--pager' || fail "pagesend --help"
"$root/usr/bin/plimopagerd" --help | grep -q -- '--once' || fail "plimopagerd --help"
"$root/usr/bin/plimopager-mail" --help | grep -q -- '--data' || fail "plimopager-mail --help"
grep -qx 'ExecStart=/usr/bin/plimopagerd' "$root/usr/lib/systemd/user/plimopagerd.service" || fail "the unit's ExecStart"

# The desk, started by the menu entry's Exec line in the home folder. Its tables, its pending file
# and its message file are in the per-user data folder; nothing is written beside the program or
# into the folder it was started in.
home=$work/home
data=$home/.local/share/PlimoPager32
mkdir -p "$home"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$app_id.desktop")
start_desk() {
    (cd "$home" && exec env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u PLIMOPAGER_DEMO_DATA HOME="$home" \
        QT_QPA_PLATFORM=offscreen PATH="$root/usr/bin:$PATH" $exec_line) >>"$work/desk.log" 2>&1 &
    desk=$!
}
stop_desk() {
    kill "$desk"
    wait "$desk" 2>/dev/null || true
    desk=
}
start_desk
# The last of the tables it creates (their names' case is the tables' own).
within 'ls "$data" 2>/dev/null | grep -qix pagecomp.cdx' || { cat "$work/desk.log"; fail "no tables in $data"; }
# The message file is taken in (and deleted) at the desk's next tick, from its current directory.
printf 'nobody\r\nno carrier\r\n' >"$data/plimomsgs.txt"
within '[ ! -e "$data/plimomsgs.txt" ]' || { cat "$work/desk.log"; fail "the desk did not take in $data/plimomsgs.txt"; }
stop_desk
[ "$(ls -A "$root/usr/bin" | LC_ALL=C sort | tr '\n' ' ')" = "logreport pagersim pagesend plimopager plimopager-mail plimopagerd " ] || fail "files beside the program"
if ls -A "$home" | grep -vx -e .local -e .config; then fail "files in the start folder"; fi
echo "installed desk's data folder: $(ls "$data" | tr '\n' ' ')"
