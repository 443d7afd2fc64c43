#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build and the tests need and is not there yet.
set -euo pipefail
packages=(g++ ccache cmake ninja-build pkg-config libsqlite3-dev libsodium-dev nlohmann-json3-dev libcli11-dev libicu-dev
          libpq-dev postgresql googletest libgtest-dev libgmock-dev libbenchmark-dev hledger libcpp-httplib-dev
          libboost-dev chromium python3-jsonschema nodejs librsvg2-bin libofx-dev nginx)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# npm comes with a nodejs that is not Debian's own; Debian's nodejs needs its npm package beside it.
if ! command -v npm >/dev/null 2>&1; then
  echo "installing: npm" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
