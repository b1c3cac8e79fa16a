#!/usr/bin/env bash
# The demo: for now the settings store of a demo profile, written and read back with tmnreg.
set -euo pipefail
build=${1:-build/release}
bin=$build/bin
export TARMIN_HOME=${TARMIN_HOME:-$PWD/build/demo-home}
mkdir -p "$TARMIN_HOME"
key='Software\KELVORIA\tarmin-operator\Profiles\demo'
"$bin/tmnreg" set "$key" GWMonGWLogDirectory string "$TARMIN_HOME/gwlogs"
"$bin/tmnreg" set "$key" GWMonOutputDirectory string "$TARMIN_HOME/gwout/"
"$bin/tmnreg" set "$key" GWMonRefreshTimeout dword 30
"$bin/tmnreg" set "$key" Filename expand '%TEMP%/'
echo "Demo profile in $TARMIN_HOME/registry.db:"
"$bin/tmnreg" query "$key"
