#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it as a user gets it: its Depends and
# Recommends, lintian (errors and hardening tags fail), then installed with apt: hardening-check
# and Debian's stripping on the installed binaries, the installed programs run with the build tree
# moved out of the way (they must find their guide, icon and library on their own), the desktop
# entry and AppStream metadata validated, and after removal nothing of the package left. Installs
# and removes the package on this machine: run it where that is wanted (CI, a test machine).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${DRAVIX_BUILD_DIR:-build}
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
started=$SECONDS

fail() {
  echo "package check: $*" >&2
  exit 1
}

hidden="${build_dir%/}.moved-away"
if [ -e "$hidden" ]; then
  # An earlier check was stopped while the build tree was out of the way.
  [ ! -e "$build_dir" ] || fail "both $build_dir and $hidden exist; remove the one that is stale"
  mv "$hidden" "$build_dir"
fi
state=$(mktemp -d)
installed=0
restore() {
  if [ -d "$hidden" ] && [ ! -e "$build_dir" ]; then mv "$hidden" "$build_dir"; fi
  rm -rf "$state"
  # A failed check does not leave the package behind either.
  if [ $installed -eq 1 ]; then $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq dravix >/dev/null || true; fi
}
trap restore EXIT

rm -rf "$build_dir/package"
cpack --config "$build_dir/CPackConfig.cmake" >"$state/cpack" 2>&1 || { cat "$state/cpack"; fail "cpack failed"; }
debs=("$build_dir"/package/dravix_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then fail "cpack wrote no single package"; fi
deb=$(realpath "${debs[0]}")
version=$(dpkg-deb -f "$deb" Version)
upstream_version=${version%-*}  # the programs' version: the package's without the Debian revision
echo "package check: $(basename "$deb")"

# What it pulls in: the linked libraries (libudev1 among them, once), the font the dialogs ask
# for; Qt's separate platform plug-ins are not needed (xcb and offscreen are in libqt6gui6).
depends=$(dpkg-deb -f "$deb" Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//')
recommends=$(dpkg-deb -f "$deb" Recommends | tr -d ' ' | tr ',' '\n')
echo "package check: Depends: $(dpkg-deb -f "$deb" Depends)"
[ "$(grep -cx 'libudev1' <<<"$depends")" -eq 1 ] || fail "Depends must name libudev1 once"
for wanted in fonts-liberation2 libqt6gui6; do
  grep -qx "$wanted" <<<"$depends" || fail "Depends lacks $wanted"
done
for unwanted in qt6-qpa-plugins fonts-wqy-microhei; do
  if grep -qx "$unwanted" <<<"$depends"; then fail "Depends names $unwanted"; fi
done
[ "$(sort <<<"$recommends" | tr '\n' ' ')" = "fonts-wqy-microhei qt6-wayland xdg-utils " ] ||
  fail "Recommends is not fonts-wqy-microhei, qt6-wayland, xdg-utils: $(dpkg-deb -f "$deb" Recommends)"

lint=0
lintian -I --fail-on error "$deb" >"$state/lintian" 2>&1 || lint=$?
grep -v 'running with root privileges' "$state/lintian" || true
[ $lint -eq 0 ] || fail "lintian reports errors"
if grep -E '^[EWI]: dravix: (hardening-|binary-has-unneeded-section)' "$state/lintian" >/dev/null; then
  fail "lintian finds programs built or stripped without Debian's hardening"
fi

if dpkg-query -W -f='${Status}' dravix 2>/dev/null | grep -q 'install ok installed'; then
  echo "package check: dravix was installed already; it is replaced and removed at the end"
fi
installed=1
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null 2>"$state/apt" ||
  { cat "$state/apt"; fail "apt-get could not install the package"; }
mapfile -t files < <(dpkg -L dravix)
library=$(printf '%s\n' "${files[@]}" | grep '/dravix/libdravix-vdrive\.so$') || fail "no virtual drive library"

# From here on the installed programs run on their own: the build tree is out of the way and the
# virtual drive's state goes to a folder of this check.
mv "$build_dir" "$hidden"
export XDG_STATE_HOME=$state
unset DRAVIX_VDRIVE_STATE DRAVIX_ASPI_LIBRARY

for program in dravix dravix-cli dravix-vdrive; do
  [ "$(cd / && "/usr/bin/$program" --version)" = "$program $upstream_version" ] || fail "$program --version"
  [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
  # groff reads the page without a warning.
  warnings=$(MANWIDTH=80 man --warnings -l "/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page of $program has warnings: $warnings"
done
# The command-line programs' pages hold every command with its options.
MANWIDTH=80 man -l /usr/share/man/man1/dravix-cli.1.gz 2>/dev/null | grep -q -- '--speed S' ||
  fail "man dravix-cli does not list scan's options"
MANWIDTH=80 man -l /usr/share/man/man1/dravix-vdrive.1.gz 2>/dev/null | grep -q -- '--byte I=V' ||
  fail "man dravix-vdrive does not list fault's options"
# Bash completion of both programs, as bash-completion loads it.
for program in dravix-cli dravix-vdrive; do
  [ -f "/usr/share/bash-completion/completions/$program" ] || fail "no bash completion for $program"
done
# shellcheck disable=SC2016
completed=$(bash -c 'source /usr/share/bash-completion/bash_completion
  source /usr/share/bash-completion/completions/dravix-cli
  COMP_WORDS=(dravix-cli --json scan --mode ""); COMP_CWORD=4; COMP_LINE="dravix-cli --json scan --mode "
  COMP_POINT=${#COMP_LINE}; _dravix_cli dravix-cli "" --mode; echo "${COMPREPLY[*]}"')
[ "$completed" = "normal full quick custom" ] || fail "bash completes scan --mode with: $completed"
# Every hardening feature on every installed binary: stack protector, fortified functions (or none
# used), read-only relocations, immediate binding, position independence. Control-flow protection
# comes with the build flags' "branch" feature (dpkg 1.22 on); Debian 12's dpkg-buildflags has none,
# so it is asked for only where the flags bring it.
hardening_options=()
if ! DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --query-features hardening |
  grep -qx 'Feature: branch'; then
  hardening_options+=(--nocfprotection)
fi
hardening-check "${hardening_options[@]}" /usr/bin/dravix /usr/bin/dravix-cli /usr/bin/dravix-vdrive \
  "$library" || fail "hardening-check finds a feature missing"
# Stripped as Debian strips: no symbol table, no compiler comment.
for binary in /usr/bin/dravix /usr/bin/dravix-cli /usr/bin/dravix-vdrive "$library"; do
  if readelf -S -W "$binary" | grep -qE ' \.(comment|note|symtab) '; then
    fail "$binary is not stripped as Debian strips (.comment, .note or .symtab left)"
  fi
done
info=$(cd / && /usr/bin/dravix-cli --virtual info) || fail "dravix-cli --virtual info failed"
grep -q '^Firmware Version: ' <<<"$info" || fail "dravix-cli --virtual info printed no drive information"

for path in /usr/share/icons/hicolor/scalable/apps/org.dravix.Dravix.svg \
  /usr/share/icons/hicolor/48x48/apps/org.dravix.Dravix.png \
  "/usr/share/dravix/help/Dravix V1.0.CHM" /usr/share/dravix/help/index.html \
  /usr/lib/udev/rules.d/70-dravix.rules /usr/share/doc/dravix/changelog.Debian.gz "$library"; do
  [ -f "$path" ] || fail "$path is not installed"
done
if grep -rlF "$(pwd)" /usr/bin/dravix /usr/bin/dravix-cli /usr/bin/dravix-vdrive "$library"; then
  fail "an installed program holds a path of this source tree"
fi
desktop-file-validate /usr/share/applications/org.dravix.Dravix.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/org.dravix.Dravix.metainfo.xml >/dev/null ||
  fail "AppStream metadata"

# The help window on the virtual drive: offscreen it must still be up after a while (a missing
# guide or library ends it at once); on a display it must show the guide's first page.
status=0
(cd / && QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/dravix --virtual --help-window 2>"$state/gui.log") || status=$?
[ $status -eq 124 ] || fail "dravix --virtual --help-window ended with $status: $(cat "$state/gui.log")"
# shellcheck disable=SC2016
env -u QT_QPA_PLATFORM xvfb-run -a sh -c '
  /usr/bin/dravix --virtual --help-window 2>/dev/null &
  program=$!
  shown=1
  for _ in $(seq 1 60); do
    if xwininfo -root -tree | grep -q "\"Dravix Help - Dravix User.s Guide\""; then shown=0; break; fi
    sleep 0.5
  done
  kill $program
  exit $shown' || fail "the help window did not show the guide's first page"

$sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq dravix >/dev/null
installed=0
for path in "${files[@]}"; do
  if [ -d "$path" ]; then
    # A folder stays only while another package owns it too.
    if [ -e "$path" ] && ! dpkg-query -S "$path" >/dev/null 2>&1; then fail "$path is left after removal"; fi
  elif [ -e "$path" ]; then
    fail "$path is left after removal"
  fi
done
echo "package check: passed in $((SECONDS - started)) s"
