#!/usr/bin/env bash
# The Debian package as the README's "Deploying on a Linux tablet" uses it: install; check the
# programs, the unit, the user kiosk and its data folder; build against the installed CSV
# library; run the kiosk as its service does (cage, headless portrait output, user kiosk) and
# press its start button over AT-SPI; upgrade, remove, purge, and see what goes and what stays.
#   tests/deploy/deb_test.sh [PACKAGE.deb]     as root; without a package, scripts/package.sh
# Exits 77 (skipped) when not root, not on Debian, or when a Quorin installation or its data is
# already here: the test never touches those. What it installed or created, it takes away.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
width=720 height=1280 # the headless output (1280 x 720) turned to portrait by cage -r

skip() { echo "deb_test: skipped: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "it installs a package, so it needs root"
[[ -f /etc/debian_version ]] || skip "it needs Debian"
package_status() { dpkg-query -W -f='${db:Status-Abbrev}' quorin 2>/dev/null || true; }
[[ $(package_status) == "" || $(package_status) == "un "* ]] ||
  skip "the package quorin is installed here; remove it first"
[[ ! -e /var/lib/quorin ]] || skip "/var/lib/quorin holds a kiosk's data; move it away first"
created_user=1
getent passwd kiosk >/dev/null && created_user=0

step() { echo "== $*"; }
fail() { echo "deb_test: FAILED: $*" >&2; exit 1; }
expect_eq() { [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"; }
expect_match() { [[ $1 =~ $2 ]] || fail "$3: '$1' does not match '$2'"; }
run_apt() { DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"; }
apt_get() { run_apt "${@:2}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "$1"; }; }

work=$(mktemp -d /tmp/quorin-deb-test.XXXXXX)
chmod 755 "$work"
session="" cage="" kiosk=""
x_files_before=$(ls -d /tmp/.X*-lock /tmp/.X11-unix/X* 2>/dev/null || true)
cleanup() {
  set +e
  if [[ -n $session ]] && kill -0 "$session" 2>/dev/null; then
    kill "$cage" 2>/dev/null && sleep 2
    kill -KILL "$session" 2>/dev/null
  fi
  wait 2>/dev/null
  [[ $(package_status) == "" || $(package_status) == "un "* ]] || run_apt purge quorin >/dev/null
  # Links from enabling the unit, should removal have left any: only the test can have made them.
  find /etc/systemd/system -name quorin.service -type l -delete
  rm -rf /var/lib/quorin /var/cache/quorin # none was there before the test
  if ((created_user)) && getent passwd kiosk >/dev/null; then
    for pid in $(pgrep -u kiosk); do kill "$pid"; done # the test's own user: its processes only
    sleep 1 && userdel kiosk
    getent group kiosk >/dev/null && groupdel kiosk
  fi
  # Xwayland can leave its lock file and socket behind when the compositor stops.
  for f in /tmp/.X*-lock /tmp/.X11-unix/X*; do
    [[ -e $f ]] && ! grep -qxF "$f" <<<"$x_files_before" && rm -f "$f"
  done
  rm -rf "$work"
}
trap cleanup EXIT

step "package"
"$root/scripts/ensure-deps.sh" deploy
if [[ -z ${1:-} ]]; then
  "$root/scripts/package.sh" | tee "$work/package.log"
  set -- "$(tail -n 1 "$work/package.log")"
fi
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
echo "$deb: version $version"
# Library dependencies come from the binaries (shlibs); the compositor is recommended.
for dependency in libqt6widgets6 libsqlite3-0 libutf8proc2 systemd-sysusers; do
  expect_match "$(dpkg-deb -f "$deb" Depends)" "(^|, )$dependency( |,|$)" "Depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
expect_match "$recommends" '(^|, )cage, qt6-wayland(,|$)' "Recommends"
expect_match "$recommends" '(^|, )qt6-speech-speechd-plugin, speech-dispatcher(,|$)' "Recommends"
expect_eq "$(dpkg-deb -I "$deb" conffiles)" /etc/default/quorin "conffiles"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's/^\.//' >"$work/files"
for f in /usr/share/man/man1/quorin.1.gz /usr/share/man/man1/quorin-csv.1.gz; do
  grep -qxF "$f" "$work/files" || fail "the package lacks $f"
done

step "install"
apt_get "apt-get install" install "$deb"
unit=/usr/lib/systemd/system/quorin.service
expect_eq "$(systemctl is-enabled quorin.service || true)" disabled "the unit after installation"
expect_eq "$(systemd-analyze verify --man=no "$unit" 2>&1)" "" "systemd-analyze verify"
IFS=: read -r _ _ uid _ _ home shell < <(getent passwd kiosk) || fail "no user kiosk"
((uid < 1000)) || fail "kiosk is not a system user (uid $uid)"
expect_eq "$home $shell" "/var/lib/quorin /usr/sbin/nologin" "kiosk's home and shell"
expect_eq "$(stat -c '%U:%G %a' /var/lib/quorin)" "kiosk:kiosk 750" "/var/lib/quorin"
# Installed programs find the library by the system's search path, not by a path from the build.
for program in /usr/bin/quorin /usr/bin/quorin-csv; do
  expect_eq "$("$program" --version)" "${program##*/} $version" "$program --version"
  ! readelf -d "$program" | grep -qE 'RPATH|RUNPATH' || fail "$program has a run path"
  expect_match "$(ldd "$program" | grep libquorin_csv)" 'libquorin_csv\.so\.0 => (/usr)?/lib/' \
    "$program's library"
done

step "a program built against the installed library"
cmake -S "$here/consumer" -B "$work/consumer" -G Ninja >"$work/consumer.log"
grep -q "QuorinCSV $version" "$work/consumer.log" || fail "find_package(QuorinCSV) version"
cmake --build "$work/consumer" >>"$work/consumer.log"
expect_eq "$("$work/consumer/consumer")" 'said "hi"' "consumer built with find_package"
expect_eq "$(pkg-config --modversion quorin-csv)" "$version" "pkg-config --modversion"
# shellcheck disable=SC2046 # the flags are words
g++ -std=c++20 -o "$work/consumer-pc" "$here/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs quorin-csv)
expect_eq "$("$work/consumer-pc")" 'said "hi"' "consumer built with pkg-config"

step "the kiosk as its service runs it: cage, headless, portrait, as the user kiosk"
# The README's step for a landscape screen held upright.
sed -i 's/^QUORIN_CAGE_OPTIONS=.*/QUORIN_CAGE_OPTIONS=-r/' /etc/default/quorin
unit_values() { sed -n "s/^$1=//p" "$unit"; }
user=$(unit_values User)
environment_file=$(unit_values EnvironmentFile)
mapfile -t environment < <(unit_values Environment &&
  grep -E '^[A-Za-z_][A-Za-z0-9_]*=' "${environment_file#-}")
# ExecStart as systemd splits it: an unquoted $NAME becomes the words of its value.
read -ra command < <(env -i "${environment[@]}" /bin/bash -c "echo $(unit_values ExecStart)")
expect_eq "${command[*]}" "/usr/bin/cage -r -- /usr/bin/quorin --kiosk" "the service's command"
# What systemd prepares: the state and cache folders (StateDirectory=, CacheDirectory=) and,
# through the login session, a runtime folder of the user's own.
install -d -o "$user" -g "$user" -m "$(unit_values StateDirectoryMode)" \
  "/var/lib/$(unit_values StateDirectory)"
install -d -o "$user" -g "$user" -m "$(unit_values CacheDirectoryMode)" \
  "/var/cache/$(unit_values CacheDirectory)"
runtime=$work/runtime
install -d -o "$user" -g "$user" -m 0700 "$runtime"
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups "$@"; }
# The headless output and no input devices; accessibility on for the probe.
(cd / && exec setpriv --reuid="$user" --regid="$user" --init-groups env -i \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin HOME="$home" USER="$user" \
  LOGNAME="$user" XDG_RUNTIME_DIR="$runtime" \
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "${environment[@]}" dbus-run-session -- "${command[@]}") >"$work/cage.log" 2>&1 &
session=$!
end=$((SECONDS + 20))
until cage=$(pgrep -P "$session" -x cage) && kiosk=$(pgrep -P "$cage" -x quorin); do
  ((SECONDS < end)) || { cat "$work/cage.log" >&2; fail "waited 20 s for cage and the kiosk"; }
  kill -0 "$session" 2>/dev/null || { cat "$work/cage.log" >&2; fail "cage exited"; }
  sleep 0.2
done
bus=$(tr '\0' '\n' <"/proc/$cage/environ" | sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p')
# The probe drives the kiosk with the acceptance suite's harness, from where its user reads it.
install -m 644 "$here/kiosk_probe.py" "$root/tests/acceptance/kiosk.py" "$work"
as_user env -i HOME="$runtime" DBUS_SESSION_BUS_ADDRESS="$bus" XDG_RUNTIME_DIR="$runtime" \
  WAYLAND_DISPLAY=wayland-0 /usr/bin/python3 "$work/kiosk_probe.py" "$kiosk" "$width" "$height"
grep -qF "results in /var/lib/quorin/Documents" "$work/cage.log" ||
  fail "the kiosk does not keep its results in /var/lib/quorin: $(cat "$work/cage.log")"
expect_eq "$(stat -c %U /var/lib/quorin/settings.sqlite3)" kiosk "the kiosk's settings"
# The voice: speech-dispatcher starts for the kiosk's user, so "Read aloud" is offered, and the
# user may play sound straight on the sound card, with no sound server of its own. The voice
# starts beside the screens, so its verdict may come after the first frame.
end=$((SECONDS + 20))
until grep -qF "Read aloud is" "$work/cage.log"; do
  ((SECONDS < end)) || fail "waited 20 s for the voice: $(cat "$work/cage.log")"
  sleep 0.2
done
grep -qF "Read aloud is offered" "$work/cage.log" ||
  fail "the kiosk has no voice: $(cat "$work/cage.log")"
expect_match " $(id -nG kiosk) " " audio " "the kiosk user's groups"
kill "$cage"
wait "$session" || true
session=""
# The kiosk leaves with its compositor; it must be gone before its folder is looked at again.
timeout 10 tail --pid="$kiosk" -f /dev/null || kill -KILL "$kiosk" 2>/dev/null || true

step "passcode"
# As the README sets it: a hash owned by the kiosk's user, never the code itself.
echo 482916 | runuser -u kiosk -- env QUORIN_HOME=/var/lib/quorin quorin --set-passcode \
  2>"$work/passcode.log" || fail "setting the passcode: $(cat "$work/passcode.log")"
expect_eq "$(stat -c '%U %a' /var/lib/quorin/passcode)" "kiosk 600" "the passcode file"
! grep -q 482916 /var/lib/quorin/passcode || fail "the passcode file holds the code itself"

step "upgrade"
# A results file as the kiosk writes it, and the service enabled: an upgrade keeps both.
install -d -o kiosk -g kiosk -m 0700 /var/lib/quorin/Documents
printf '#,Start Date,Score\n1,2026-01-05 09:12:40 +0000,4\n' >/var/lib/quorin/Documents/results.csv
chown kiosk:kiosk /var/lib/quorin/Documents/results.csv
systemctl enable quorin.service 2>/dev/null
data() { # every path's owner and group by name, mode, size and times; every file's hash
  find /var/lib/quorin -printf '%p %u:%g %m %s %T@ %C@\n' -type f -exec sha256sum {} + | sort
}
data_before=$(data)
dpkg-deb -R "$deb" "$work/newer"
sed -i "s/^Version: .*/Version: $version+1/" "$work/newer/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/newer" "$work/quorin-newer.deb" >/dev/null
apt_get "the upgrade" install "$work/quorin-newer.deb"
expect_eq "$(dpkg-query -W -f='${Version}' quorin)" "$version+1" "the version after the upgrade"
expect_eq "$(data)" "$data_before" "/var/lib/quorin after the upgrade"
expect_eq "$(systemctl is-enabled quorin.service || true)" enabled "the unit after the upgrade"
expect_eq "$(grep '^QUORIN_CAGE_OPTIONS=' /etc/default/quorin)" "QUORIN_CAGE_OPTIONS=-r" \
  "the edited environment file after the upgrade"

step "remove"
apt_get "apt-get remove" remove quorin
expect_eq "$(package_status)" "rc " "the package's state after removal"
while read -r f; do
  [[ $f == /etc/default/quorin || (! -e $f && ! -L $f) ]] || fail "$f is left after removal"
done <"$work/files"
expect_eq "$(find /etc/systemd/system -name quorin.service)" "" "links to the unit after removal"
expect_eq "$(data)" "$data_before" "/var/lib/quorin after removal"

step "purge"
apt_get "apt-get purge" purge quorin
expect_match "$(package_status)" '^(un |)$' "the package's state after purge"
[[ ! -e /etc/default/quorin && ! -e /var/cache/quorin ]] ||
  fail "purge left /etc/default/quorin or /var/cache/quorin"
# Documented: the results and settings stay, and so does the user (data() names the owners);
# purge says so.
expect_eq "$(data)" "$data_before" "/var/lib/quorin after purge"
grep -q "kept the results and settings in /var/lib/quorin" "$work/apt.log" ||
  fail "purge did not say that it kept the data"
echo "deb_test: passed"
