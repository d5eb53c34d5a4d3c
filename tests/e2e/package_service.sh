#!/usr/bin/env bash
# The kserver package as an operator meets it: installed into a fresh Debian 12 root booted under
# its own systemd in a container, the README's service steps followed, then upgraded, removed and
# purged. Needs root, debootstrap and systemd-nspawn (the setup script installs them) and Debian's
# mirror; the bare root is made once per build folder and copied for each run.
#
# Usage: package_service.sh CPACK CPACK_CONFIG CACHE_DIR
set -euo pipefail
cpack=$1 config=$2 cache=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root (a chroot and a container)"
for tool in debootstrap systemd-nspawn; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh"
done

mkdir -p "$cache"
base=$cache/bookworm
if [ ! -e "$base/.complete" ]; then
  rm -rf "$base"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,util-linux,procps \
    bookworm "$base" http://deb.debian.org/debian >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap failed: see $cache/debootstrap.log"
  cp /etc/resolv.conf "$base/etc/resolv.conf"
  chroot "$base" apt-get update -qq || fail "apt-get update in the bare root failed"
  touch "$base/.complete"
fi

work=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$cpack" -G DEB -B "$work/debs" --config "$config" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -5 "$work/cpack.log")"
root=$work/root
cp -a "$base" "$root"
mkdir -p "$root/root/debs"
cp "$work"/debs/*.deb "$root/root/debs/"

# What the service package pulls into a fresh root, then those packages fetched now, so that the
# container needs no network.
deb=$(cd "$root/root/debs" && ls kserver_*.deb)
pulled=$(chroot "$root" apt-get install -s --no-install-recommends "/root/debs/$deb" |
  awk '/^Inst / {print $2}')
count=$(echo "$pulled" | grep -c .)
echo "kserver pulls $count package(s) into a fresh root: $(echo $pulled)"
[ "$count" -lt 30 ] || fail "the service package pulls $count packages (30 or more)"
deps=$(echo "$pulled" | grep -vx kserver || true)
if [ -n "$deps" ]; then
  # shellcheck disable=SC2086
  chroot "$root" apt-get install -y -qq --no-install-recommends $deps >/dev/null ||
    fail "the dependencies did not install"
fi

cat >"$root/root/scenario.sh" <<'SCENARIO'
#!/bin/bash
# Runs inside the booted container and powers it off; every line of it lands in result.txt.
exec >/root/result.txt 2>&1
failed=0
expect() {
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failed=1; fi
}
as_kserver() { setpriv --reuid=kserver --regid=kserver --init-groups "$@"; }
deb=$(ls /root/debs/kserver_*.deb)

apt-get install -y -qq --no-install-recommends "$deb" >/root/install.log 2>&1
expect "the package installs" "dpkg -s kserver >/dev/null 2>&1"
systemctl enable --now kserver@main
sleep 2
expect "kserver@main runs" "systemctl is-active -q kserver@main"
expect "the world was copied" "test -s /var/lib/kserver/main/levels/startlevel.x"
expect "the world folder is 0750" "[ \"\$(stat -c %a /var/lib/kserver/main)\" = 750 ]"
for file in accounts.txt kserver.lock serverconfig.txt; do
  expect "$file is 0600 and the server's" \
    "[ \"\$(stat -c '%a %U' /var/lib/kserver/main/$file)\" = '600 kserver' ]"
done
expect "port 14901 accepts" "timeout 5 bash -c 'exec 3<>/dev/tcp/127.0.0.1/14901'"
exposure=$(systemd-analyze security kserver@main --no-pager | awk '/Overall exposure/ {print $(NF-2)}')
echo "exposure: $exposure"
expect "the sandbox rates 2.5 or lower" "awk -v e=$exposure 'BEGIN {exit !(e <= 2.5)}'"

# A second world, as the README makes it.
install -d -o kserver -g kserver -m 0750 /var/lib/kserver/second
as_kserver sh -c 'umask 077 && cp -R /usr/share/kserver/world/. /var/lib/kserver/second/'
as_kserver sed -i 's/^serverport=.*/serverport=14902/' /var/lib/kserver/second/serverconfig.txt
systemctl enable --now kserver@second
sleep 2
expect "kserver@second runs" "systemctl is-active -q kserver@second"

before=$(systemctl show -p MainPID --value kserver@main)
apt-get install -y -qq --reinstall "$deb" >>/root/install.log 2>&1
sleep 2
after=$(systemctl show -p MainPID --value kserver@main)
expect "an upgrade restarts the running worlds" "[ $after -ne 0 ] && [ $after -ne $before ]"
expect "both still run after it" "systemctl is-active -q kserver@main kserver@second"

apt-get remove -y -qq kserver >>/root/install.log 2>&1
sleep 1
expect "removal stops every instance" "! pgrep -x kserver"
expect "removal disables every instance" \
  "! ls /etc/systemd/system/multi-user.target.wants/ | grep -q kserver"
apt-get purge -y kserver >/root/purge.log 2>&1
expect "purge says the worlds stay" "grep -q 'are kept' /root/purge.log"
expect "the worlds stay" "test -s /var/lib/kserver/main/accounts.txt"
expect "the user stays" "id kserver >/dev/null"
[ $failed -eq 0 ] && echo SCENARIO-PASSED
systemctl poweroff
SCENARIO
chmod +x "$root/root/scenario.sh"
cat >"$root/etc/systemd/system/scenario.service" <<'UNIT'
[Unit]
Description=The package scenario
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/root/scenario.sh
[Install]
WantedBy=multi-user.target
UNIT
ln -s /etc/systemd/system/scenario.service \
  "$root/etc/systemd/system/multi-user.target.wants/scenario.service"

# A private network: the instances' ports are the container's own.
timeout 300 systemd-nspawn -q -D "$root" --register=no --keep-unit --private-network \
  --console=pipe -b </dev/null >"$work/boot.log" 2>&1 || true
[ -e "$root/root/result.txt" ] || fail "the container ran no scenario: $(tail -5 "$work/boot.log")"
cat "$root/root/result.txt"
grep -qx SCENARIO-PASSED "$root/root/result.txt" || fail "the scenario failed"
