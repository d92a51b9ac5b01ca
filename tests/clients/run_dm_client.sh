#!/usr/bin/env bash
# Starts vqeng12 (TCP/IP on a loopback port, shared memory under a temporary VCTMP),
# registers the built driver library in a temporary odbcinst.ini and odbc.ini (never the
# machine's own files), and drives the driver through the unixODBC driver manager: isql
# through a data source and without one (-k), statements that return no rows, a SELECT
# printed through both, a refused password, then the C client.
#   run_dm_client.sh <client program> <driver library> <vqeng12>
set -euo pipefail
client=$1
lib=$2
server=$3
source "$(dirname "$0")/../support/vqeng_server.sh"
vqeng_start "$server" vqclients
tcp="tcpip(host=127.0.0.1;port=$port;DoBroadcast=NONE)"

cat >"$dir/odbcinst.ini" <<INI
[Vellumcrest test driver]
Description=driver under test
Driver=$lib
INI
cat >"$dir/odbc.ini" <<INI
[vqtest]
Driver=Vellumcrest test driver
ServerName=$name
CommLinks=$tcp
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini"
export VCDIR=$(dirname "$lib")
unset VELSR_TRACK_LIBS VELSR_VERSION_INFO VCCONNECT

# A driver built with a sanitizer loads only into a program that has the sanitizer's
# runtime: isql and the client get it preloaded.
runtime=$(ldd "$lib" | awk '/lib(t|a)san\.so/ { print $3; exit }')
isql() { LD_PRELOAD="$runtime" command isql "$@"; }
iusql() { LD_PRELOAD="$runtime" LC_ALL=C.UTF-8 command iusql "$@"; }

failures=0
# expect_input <description> <pattern> <input> <command...>: the command, reading `input`
# on its standard input (nothing when empty), writes the pattern.
expect_input() {
  local what=$1 pattern=$2 input=$3
  shift 3
  local output
  if [ -n "$input" ]; then
    output=$("$@" 2>&1 <<<"$input" || true)
  else
    output=$("$@" 2>&1 </dev/null || true)
  fi
  if grep -q -- "$pattern" <<<"$output"; then
    echo "ok $what"
  else
    echo "FAILED $what"
    sed 's/^/    /' <<<"$output"
    failures=$((failures + 1))
  fi
}
# expect <description> <pattern> <command...>: the same with no input.
expect() {
  local what=$1 pattern=$2
  shift 2
  expect_input "$what" "$pattern" "" "$@"
}
# isql reads its statements from standard input; an empty input disconnects at once.
expect "isql connects through the data source (TCP/IP)" "Connected!" isql -v vqtest dba sql
expect "isql connects without a data source (shared memory)" "Connected!" \
  isql -v -k "DRIVER=$lib;UID=dba;PWD=sql;ServerName=$name"
expect_input "isql runs statements that return no rows" "SQLRowCount returns 1" \
  $'CREATE TABLE isql_rows (a INT, b VARCHAR(10))\nINSERT INTO isql_rows VALUES (1, \'one\')' \
  isql -v vqtest dba sql
expect_input "isql prints a SELECT result through the data source" '^| 1 *| one *|' \
  'SELECT a, b FROM isql_rows' isql -v vqtest dba sql
expect_input "isql prints a SELECT result without a data source (shared memory)" \
  '^| 1 *| one *|' 'SELECT a, b FROM isql_rows' \
  isql -v -k "DRIVER=$lib;UID=dba;PWD=sql;ServerName=$name"
expect_input "iusql runs non-ASCII statements through the wide calls" "SQLRowCount returns 1" \
  $'CREATE TABLE "iusql_Tабл_😀" ("имя" VARCHAR(20))\nINSERT INTO "iusql_Tабл_😀" VALUES (\'Grüße 日本 😀\')' \
  iusql -v vqtest dba sql
expect_input "iusql prints a fetched non-ASCII value" '^| Grüße 日本 😀 *|' \
  'SELECT "имя" FROM "iusql_Tабл_😀"' iusql -v vqtest dba sql
expect_input "iusql shows a server error quoting a non-ASCII name" "нет_такой_😀" \
  'SELECT * FROM "нет_такой_😀"' iusql -v vqtest dba sql
expect "isql reports a refused password with its state" "28000" isql -v vqtest dba wrong
expect "isql reports a server that does not run" "Could not SQLDriverConnect" \
  isql -v -k "DRIVER=$lib;UID=dba;PWD=sql;ServerName=nosuch$name;CommLinks=ShMem"

# A client that is a script (pyodbc) needs the sanitizer's runtime preloaded like isql.
LD_PRELOAD="$runtime" "$client" vqtest "$lib" 3 "ServerName=$name;CommLinks=$tcp" ||
  failures=$((failures + 1))
echo "$failures failed groups"
[ "$failures" -eq 0 ]
