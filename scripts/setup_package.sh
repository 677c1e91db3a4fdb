#!/bin/sh
# Installs what `make package` needs beyond the build: lintian, which checks the Debian
# package. Only when it is missing.
set -eu
if dpkg-query -W -f='${Status}' lintian 2>/dev/null | grep -q "install ok installed"; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing lintian"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends lintian >/dev/null
