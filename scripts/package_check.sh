#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it: its contents, lintian (no errors),
# the desktop entry and AppStream validators, the man pages rendered, and the completion's syntax.
# Usage: scripts/package_check.sh      (after scripts/bootstrap.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target package -j "$(nproc)"
deb=$(ls -t build/vorlanx_*_amd64.deb | head -n 1) # the newest: each build has its own version
echo "== $deb"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
echo "== lintian"
lintian --fail-on error --info "$deb"
echo "== validators"
desktop-file-validate app/resources/org.vorlanx.Vorlanx.desktop
appstreamcli validate --no-net app/resources/org.vorlanx.Vorlanx.metainfo.xml
echo "== man pages"
for page in docs/man/vorlanx-gen.1 docs/man/vorlanx-analyze.1 docs/man/vorlanx.1; do
    # Any troff warning fails the check, as does an empty rendering.
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
    MANWIDTH=80 man -l "$page" | head -n 3
done
bash -n cli/vorlanx-gen.bash-completion
bash -n cli/vorlanx-analyze.bash-completion
echo "package checks passed"
