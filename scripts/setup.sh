#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need (idempotent) and generates the
# comma-decimal locale that the tests run under once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  locales
)
# Extra packages that modules add as they arrive are listed in scripts/packages.txt, one a line.
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$here/packages.txt" ]; then
  while read -r p; do [ -n "$p" ] && [ "${p#\#}" = "$p" ] && packages+=("$p"); done < "$here/packages.txt"
fi
# With --bench, also what only the benchmarks use (scripts/bench-packages.txt); with --look, the virtual screen
# and tools of scripts/look.sh (scripts/look-packages.txt). Neither is ever part of the app's build.
extra=""
case "${1:-}" in --bench) extra=bench-packages.txt ;; --look) extra=look-packages.txt ;; esac
if [ -n "$extra" ] && [ -f "$here/$extra" ]; then
  while read -r p; do [ -n "$p" ] && [ "${p#\#}" = "$p" ] && packages+=("$p"); done < "$here/$extra"
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ccache is used when present; it is a speed-up only, so a failure to install it is not fatal.
if ! command -v ccache >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ccache >/dev/null 2>&1 || true
fi

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  echo "setup: generating de_DE.UTF-8"
  if [ -f /etc/locale.gen ] && grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  elif ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null
fi
