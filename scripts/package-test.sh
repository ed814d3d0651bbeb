#!/usr/bin/env bash
# Builds the package, installs it on this machine with apt-get (which pulls in
# its dependencies), checks the installed program and manual page, and removes
# the package again, also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh man-db
deb=$(scripts/package.sh | tail -n 1)
SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y --no-install-recommends "./$deb"
trap '$SUDO apt-get remove -y tarmig >/dev/null' EXIT
dpkg-deb --field "$deb" Depends
version=$(/usr/bin/tarmig -version)
echo "$version"
grep -qx "tarmig $(dpkg-deb --field "$deb" Version)-.*" <<<"$version"
page=$(dpkg -L tarmig | grep '/man1/tarmig\.1\.gz$')
# Warnings of the formatter fail the check as much as a missing page does.
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
MANWIDTH=80 man -l "$page" | grep -q -- '-version'
echo "package check passed: $deb"
