#!/usr/bin/env bash
# The package as an admin installs it and a user meets it: made with CPack from this build,
# unpacked into a scratch root, its menu entry validated, its launcher started under a private X
# server with a fresh HOME until the main menu shows, the installed tool run on the bank the
# launcher made, and the RPM made from the same install checked to hold the same files. The
# teacher's journal window comes in a package of its own, checked the same way.
# (scripts/package lints the release package; lintian alone would double this test's time.)
# Usage: tst_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

if ! command -v dpkg-deb >/dev/null; then
  echo "SKIP: dpkg-deb is missing; the package test needs a Debian-based system"
  exit 77
fi

scratch=$(mktemp -d)
background=()
cleanup() {
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Waits up to $1 seconds for a visible window whose whole title is $2; prints its id.
wait_for_window() {
  local deadline=$((SECONDS + $1)) ids
  while [ $SECONDS -lt $deadline ]; do
    if ids=$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null); then
      head -n1 <<<"$ids"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Everything else it uses comes with scripts/packages.txt, so a missing tool is a failure.
for tool in rpmbuild desktop-file-validate Xvfb xdotool identify; do
  command -v $tool >/dev/null || fail "$tool is missing (scripts/deps installs it)"
done

if ! (cd "$build" && cpack -G "DEB;RPM" -B "$scratch/packages" >"$scratch/cpack.log" 2>&1); then
  cat "$scratch/cpack.log"
  fail "cpack could not make the packages"
fi
deb=$scratch/packages/infotest_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$scratch/packages")"

# Runtime dependencies: the libraries found in the binaries, and what they load at run time.
depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libsqlite3-0 libpq5 libxlsxwriter4 qt6-qpa-plugins fonts-wine zenity; do
  grep -Eq "(^|[ ,|])$package([ ,(]|\$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
grep -Fq 'libsqlite3-0 (>= 3.35)' <<<"$depends" || fail "Depends allows an SQLite before 3.35: $depends"
[ "$(dpkg-deb --field "$deb" Suggests)" = postgresql ] || fail "the package does not suggest postgresql"

root=$scratch/root
dpkg-deb --extract "$deb" "$root"
for file in usr/bin/infotest usr/bin/infotest-bank usr/bin/infotest-launcher \
  usr/share/applications/infotest.desktop usr/share/icons/hicolor/scalable/apps/infotest.svg \
  usr/share/man/man1/infotest-bank.1.gz usr/share/infotest/informatics.csv etc/default/infotest; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
for size in 48 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/infotest.png
  [ "$(identify -format %wx%h "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
desktop-file-validate "$root/usr/share/applications/infotest.desktop" ||
  fail "the desktop entry does not validate"
launcher=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/infotest.desktop")
[ -x "$root/usr/bin/$launcher" ] || fail "the desktop entry starts $launcher, which the package lacks"

# A private X server on a free display, so that no other test's windows get in the way.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
background+=("$!")
for _ in $(seq 50); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
[ -s "$scratch/display" ] || fail "Xvfb did not start"
DISPLAY=:$(head -n1 "$scratch/display")
export DISPLAY
# Run in the background, its pid is the launcher's, and then the program's it execs.
# It reads the settings file the package ships, which must start nothing and hold no mistake.
run_launcher() { # HOME, then further VAR=value settings
  local home=$1
  shift
  exec env -u INFOTEST_BANK_DIR -u XDG_DATA_HOME -u QT_QPA_PLATFORM -u DBUS_SESSION_BUS_ADDRESS \
    HOME="$home" LANG=C.UTF-8 NO_AT_BRIDGE=1 INFOTEST_CONFIG_FILE="$root/etc/default/infotest" "$@" \
    "$root/usr/bin/infotest-launcher"
}

# First start of a new user: the sample bank is made in ~/.local/share/infotest and opened.
home=$scratch/home
mkdir "$home"
run_launcher "$home" >"$scratch/launcher.log" 2>&1 &
program=$!
background+=("$program")
if ! wait_for_window 30 "Тесты по информатике" >/dev/null; then
  cat "$scratch/launcher.log"
  fail "the installed launcher showed no main menu"
fi
kill -0 $program 2>/dev/null || fail "the program ended with the main menu open"
kill $program
wait $program || true
bank=$home/.local/share/infotest/db.mdb
[ -f "$bank" ] || fail "the launcher made no bank in ~/.local/share/infotest"
[ ! -e "$bank.new" ] || fail "the launcher left a half-made bank behind"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/infotest-bank" check "$bank" ||
  fail "the installed infotest-bank check finds fault with the installed sample bank"

# A shared folder that is not there: said on the desktop, not only on a terminal nobody sees.
set +e
run_launcher "$home" INFOTEST_BANK_DIR="$scratch/nowhere" >"$scratch/missing.log" 2>&1 &
launcher_pid=$!
background+=("$launcher_pid")
box=$(wait_for_window 60 "Тесты по информатике")
shown=$?
[ $shown -eq 0 ] && xdotool windowkill "$box"
wait $launcher_pid
status=$?
set -e
[ $shown -eq 0 ] || fail "a missing bank folder showed no message on the desktop"
[ $status -ne 0 ] || fail "the launcher reported success without a bank folder"
grep -q "$scratch/nowhere" "$scratch/missing.log" || fail "the message names no folder: $(cat "$scratch/missing.log")"

# The RPM holds the same files (directories aside) and asks for its libraries by capability.
rpm=$scratch/packages/infotest-${version}-1.x86_64.rpm
[ -f "$rpm" ] || fail "no $(basename "$rpm") among: $(ls "$scratch/packages")"
(cd "$root" && find . ! -type d | sed 's/^\.//' | sort) >"$scratch/deb.files"
rpm -qlp "$rpm" 2>/dev/null | while read -r path; do [ -d "$root$path" ] || echo "$path"; done |
  sort >"$scratch/rpm.files"
diff -u "$scratch/deb.files" "$scratch/rpm.files" || fail "the RPM and the Debian package hold different files"
requires=$(rpm -qp --requires "$rpm" 2>/dev/null)
for capability in 'font(tahoma)' 'libpq.so.5()(64bit)' '(sqlite-libs >= 3.35 or libsqlite3-0 >= 3.35)'; do
  grep -qxF "$capability" <<<"$requires" || fail "the RPM does not require $capability"
done

# The teacher's journal window: its own package, which the pupils' package does not carry.
jdeb=$scratch/packages/infotest-journal_${version}_amd64.deb
[ -f "$jdeb" ] || fail "no $(basename "$jdeb") among: $(ls "$scratch/packages")"
[ ! -e "$root/usr/bin/infotest-journal" ] || fail "the pupils' package carries the journal window"
depends=$(dpkg-deb --field "$jdeb" Depends)
for package in libqt6widgets6 libsqlite3-0 qt6-qpa-plugins; do
  grep -Eq "(^|[ ,|])$package([ ,(]|\$)" <<<"$depends" || fail "the journal's Depends lacks $package: $depends"
done
! grep -q fonts-wine <<<"$depends" || fail "the journal window asks for Tahoma it never uses"
dpkg-deb --ctrl-tarfile "$jdeb" | tar -t | grep -q conffiles &&
  fail "the journal's package claims the quiz's settings file"
jroot=$scratch/journal-root
dpkg-deb --extract "$jdeb" "$jroot"
for file in usr/bin/infotest-journal usr/share/applications/infotest-journal.desktop \
  usr/share/icons/hicolor/scalable/apps/infotest-journal.svg usr/share/man/man1/infotest-journal.1.gz; do
  [ -f "$jroot/$file" ] || fail "the journal's package lacks /$file"
done
for size in 48 256; do
  png=$jroot/usr/share/icons/hicolor/${size}x${size}/apps/infotest-journal.png
  [ "$(identify -format %wx%h "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
entry=$jroot/usr/share/applications/infotest-journal.desktop
desktop-file-validate "$entry" || fail "the journal's desktop entry does not validate"
grep -q '^Name\[ru\]=Журнал результатов$' "$entry" || fail "the journal's entry is not named «Журнал результатов»"
grep -q '^Categories=Education;' "$entry" || fail "the journal's entry is not in Education"
# Started as the menu starts it, on the bank the launcher made above: no run is recorded yet, so
# the window opens and says so in its status line rather than ending.
env -u INFOTEST_BANK_DIR -u XDG_DATA_HOME -u QT_QPA_PLATFORM HOME="$home" LANG=C.UTF-8 \
  NO_AT_BRIDGE=1 "$jroot/usr/bin/infotest-journal" >"$scratch/journal.log" 2>&1 &
program=$!
background+=("$program")
if ! wait_for_window 30 "Журнал результатов — $home/.local/share/infotest/journal.db" >/dev/null; then
  cat "$scratch/journal.log"
  fail "the installed journal window did not open on the launcher's bank"
fi
kill $program
wait $program || true
jrpm=$scratch/packages/infotest-journal-${version}-1.x86_64.rpm
[ -f "$jrpm" ] || fail "no $(basename "$jrpm") among: $(ls "$scratch/packages")"
(cd "$jroot" && find . ! -type d | sed 's/^\.//' | sort) >"$scratch/jdeb.files"
rpm -qlp "$jrpm" 2>/dev/null | while read -r path; do [ -d "$jroot$path" ] || echo "$path"; done |
  sort >"$scratch/jrpm.files"
diff -u "$scratch/jdeb.files" "$scratch/jrpm.files" || fail "the journal's RPM and Debian package hold different files"
echo "PASS"
