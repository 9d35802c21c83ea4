#!/usr/bin/env bash
# Installs what the benchmark needs, and nothing when all is there. Postfix is
# wanted only for its smtp-sink test server: it is installed unconfigured and
# with service starts forbidden, so no mail daemon ever runs.
set -eu
packages=(
  cmake g++ make
  libbenchmark-dev
  python3 python3-aiosmtpd
  curl coreutils
  postfix
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

policy=/usr/sbin/policy-rc.d
made_policy=""
cleanup() { [ -z "$made_policy" ] || $sudo rm -f "$policy"; }
trap cleanup EXIT
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# No service starts while the benchmark installs its packages.\nexit 101\n' |
    $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  made_policy=1
fi
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections

$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  -o DPkg::Lock::Timeout=600 "${missing[@]}"
