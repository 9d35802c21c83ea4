#!/usr/bin/env bash
# Installs what the benchmark needs, and nothing when all is there. Postfix is
# wanted only for its smtp-sink test server: it is installed unconfigured and
# with service starts forbidden, so no mail daemon ever runs.
set -eu
cd "$(dirname "$0")/.."
packages=(cmake g++ make libbenchmark-dev python3 python3-aiosmtpd curl coreutils postfix)
if ! dpkg-query -W -f='${Status}' postfix 2>/dev/null | grep -q "install ok installed"; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# No service starts while the benchmark installs postfix.\nexit 101\n' |
      $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
  fi
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
fi
scripts/install-deps.sh "${packages[@]}"
