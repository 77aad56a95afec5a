#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds
# into ./build. Run from anywhere; uses sudo for apt-get when not root.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config libsleef-dev qt6-base-dev libgtest-dev libgmock-dev
          libbenchmark-dev libsndfile1-dev libkissfft-dev fonts-dejavu-core locales nlohmann-json3-dev
          dpkg-dev lintian desktop-file-utils appstream man-db groff-base sox qt6-svg-dev
          libflac-dev flac portaudio19-dev python3-dev pybind11-dev python3-numpy python3-pytest jackd2
          libtomlplusplus-dev chromium)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests run the programs under a decimal-comma locale, as a German desktop would.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    echo "Generating the de_DE.UTF-8 locale"
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
