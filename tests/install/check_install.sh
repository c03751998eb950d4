#!/usr/bin/env bash
# What a shop PC gets: `cmake --install` into a temporary prefix gives the
# expected files; nodalis-machine makes a machine's base folder that the
# installed server accepts; the unit passes systemd-analyze where it exists;
# the .deb holds the same files under /usr.
#   check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > /dev/null
expected="bin/nodalis
bin/nodalis-machine
bin/nodalis-push
bin/nodalis-sim
bin/nodalis-tnccmd
bin/nodalis-window
bin/nodalisctl
lib/nodalis/libnodalis-focas-sim.so
lib/systemd/system/nodalis@.service
lib/tmpfiles.d/nodalis.conf
share/nodalis/Nodalis.ini.example
share/nodalis/demo/Nodalis.ini.in
share/nodalis/demo/O1000.nc"
got=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
if [ "$got" != "$expected" ]; then
    echo "installed files differ:"; diff <(echo "$expected") <(echo "$got"); exit 1
fi

NODALIS_ROOT=$work/machines "$prefix/bin/nodalis-machine" M7 > /dev/null
grep -q '^RefMO=M7' "$work/machines/M7/Nodalis.ini"
"$prefix/bin/nodalis" --base "$work/machines/M7" --check-config > "$work/dump.txt"
grep -q '^DNC.RefMO="M7"' "$work/dump.txt"
# A second run keeps what the shop changed.
echo "; changed" >> "$work/machines/M7/Nodalis.ini"
NODALIS_ROOT=$work/machines "$prefix/bin/nodalis-machine" M7 > /dev/null
grep -q '^; changed' "$work/machines/M7/Nodalis.ini"

if command -v systemd-analyze > /dev/null; then
    # The unit names the configured prefix; point it at this one to check it.
    sed "s|/[^ ]*/bin/|$prefix/bin/|g" "$prefix/lib/systemd/system/nodalis@.service" \
        > "$work/nodalis@.service"
    # It says nothing about a unit it accepts.
    out=$(systemd-analyze verify "$work/nodalis@M7.service" 2>&1 | grep 'nodalis@' || true)
    if [ -n "$out" ]; then
        echo "systemd-analyze: $out"; exit 1
    fi
fi

if command -v cpack > /dev/null && command -v dpkg-deb > /dev/null; then
    (cd "$build" && cpack -G DEB -B "$work/package" > /dev/null)
    contents=$(dpkg-deb -c "$work"/package/nodalis_*.deb | awk '{print $6}' | grep -v '/$' |
               sed 's|^\./usr/||' | sort)
    if [ "$contents" != "$expected" ]; then
        echo "package contents differ:"; diff <(echo "$expected") <(echo "$contents"); exit 1
    fi
    dpkg-deb -I "$work"/package/nodalis_*.deb postinst | grep -q 'adduser'
fi
echo "install: files, machine folder, unit and package as expected"
