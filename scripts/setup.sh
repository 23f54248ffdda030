#!/usr/bin/env bash
# Installs what building and testing need, on Debian 12 as root; packages
# already there are left alone, so this is quick (and offline) the second time.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-olefile libxml2-utils
  xsltproc planner-data
  python3-pip python3-setuptools python3-wheel python3-pytest groff-base
  libcpp-httplib-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The page's browser test: Chromium, node and npm, best effort (the test
# skips, saying so, without them; MDW_NO_BROWSER=1 leaves them out).
browser=()
if [ "${MDW_NO_BROWSER:-0}" != 1 ]; then
  dpkg-query -W -f='${Status}' chromium 2>/dev/null | grep -q "install ok installed" || browser+=(chromium)
  command -v node >/dev/null || browser+=(nodejs)
  command -v npm >/dev/null || browser+=(npm)
fi
if [ ${#browser[@]} -gt 0 ]; then
  echo "setup: installing ${browser[*]} for the page's browser test"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  { "${sudo_cmd[@]}" apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${browser[@]}"; } ||
    echo "setup: ${browser[*]} could not be installed: the browser test will skip"
fi

# The browser test's driver, from npm as its lock file pins it.
web="$(cd "$(dirname "$0")/.." && pwd)/tests/web"
if [ "${MDW_NO_BROWSER:-0}" != 1 ] && [ ! -d "$web/node_modules/puppeteer-core" ] && command -v npm >/dev/null; then
  echo "setup: installing the browser test's driver (npm ci in tests/web)"
  (cd "$web" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error) ||
    echo "setup: npm ci failed: the browser test will skip"
fi
