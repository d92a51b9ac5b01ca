#!/usr/bin/env bash
# Drives the built driver through the iODBC driver manager: vqeng12 started as by the
# unixODBC tests, the driver registered as a UTF-16 driver (DriverUnicodeType=1) in a
# temporary odbcinst.ini and odbc.ini (never the machine's own files), then iODBC's own
# iodbctest scripted over a data source and without one, and the C client on
# libiodbc.so.2 with narrow and wide calls. No VCDIR: the driver finds its data files
# from its own directory.
#   run_iodbc_client.sh <client program> <driver library> <vqeng12> <libiodbc.so.2>
set -euo pipefail
client=$1
lib=$2
server=$3
dm=$4
source "$(dirname "$0")/../support/vqeng_server.sh"
vqeng_start "$server" vqiodbc
tcp="tcpip(host=127.0.0.1;port=$port;DoBroadcast=NONE)"

cat >"$dir/odbcinst.ini" <<INI
[ODBC Drivers]
Vellumcrest test driver=Installed

[Vellumcrest test driver]
Description=driver under test
Driver=$lib
DriverUnicodeType=1
INI
cat >"$dir/odbc.ini" <<INI
[ODBC Data Sources]
vqtest=Vellumcrest test driver

[vqtest]
Driver=Vellumcrest test driver
ServerName=$name
CommLinks=$tcp
INI
export ODBCINSTINI="$dir/odbcinst.ini" ODBCINI="$dir/odbc.ini"
export SYSODBCINSTINI="$dir/odbcinst.ini" SYSODBCINI="$dir/odbc.ini"
unset VCDIR VELLUM12 VELSR_TRACK_LIBS VELSR_VERSION_INFO VCCONNECT

# A driver built with a sanitizer loads only into a program that has the sanitizer's
# runtime: iodbctest and the client get it preloaded.
deps=$(ldd "$lib")
runtime=$(awk '/lib(t|a)san\.so/ { print $3; exit }' <<<"$deps")

source "$(dirname "$0")/../support/client_expect.sh"
iodbctest() { LD_PRELOAD="$runtime" command iodbctest "$@"; }

expect_input "iodbctest runs statements through the data source" "1 row" \
  $'CREATE TABLE iodbctest_t (a INT, b VARCHAR(10))\nINSERT INTO iodbctest_t VALUES (7, \'seven\')\nSELECT a, b FROM iodbctest_t\nquit' \
  iodbctest "DSN=vqtest;UID=dba;PWD=sql"
expect_input "iodbctest prints a query without a data source (shared memory)" "seven" \
  $'SELECT a, b FROM iodbctest_t\nquit' \
  iodbctest "DRIVER=$lib;UID=dba;PWD=sql;ServerName=$name"
expect_input "iodbctest reports a refused password with its state" "28000" $'quit' \
  iodbctest "DSN=vqtest;UID=dba;PWD=wrong"

LD_PRELOAD="$runtime" "$client" "$dm" vqtest "DRIVER=$lib;ServerName=$name;CommLinks=$tcp" ||
  failures=$((failures + 1))
echo "$failures failed groups"
[ "$failures" -eq 0 ]
