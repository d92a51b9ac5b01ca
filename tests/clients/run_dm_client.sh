#!/usr/bin/env bash
# Registers the built driver library in a temporary odbcinst.ini and odbc.ini (never the
# machine's own files) and runs the driver-manager client against it.
#   run_dm_client.sh <client program> <driver library>
set -euo pipefail
client=$1
lib=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/odbcinst.ini" <<INI
[Vellumcrest test driver]
Description=driver under test
Driver=$lib
INI
cat >"$dir/odbc.ini" <<INI
[vqtest]
Driver=Vellumcrest test driver
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini" HOME="$dir"
export VCDIR=$(dirname "$lib")
unset VELSR_TRACK_LIBS VELSR_VERSION_INFO
exec "$client" vqtest "$lib" 3
