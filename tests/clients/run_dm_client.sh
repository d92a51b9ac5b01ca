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
source "$(dirname "$0")/dm_registration.sh"
vqeng_start "$server" vqclients
# The driver in a temporary odbcinst.ini and odbc.ini; isql and the client get a
# sanitizer's runtime preloaded.
dm_register "$lib"
isql() { LD_PRELOAD="$runtime" command isql "$@"; }
iusql() { LD_PRELOAD="$runtime" LC_ALL=C.UTF-8 command iusql "$@"; }

source "$(dirname "$0")/../support/client_expect.sh"
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
# With no installation root in the environment the driver reads its message file from
# beside its own directory: the refusal arrives with its text.
no_root() { (unset VCDIR VELLUM12; "$@"); }
expect "isql finds the driver's data files with no VCDIR" "28000.*Invalid user ID or password" \
  no_root isql -v vqtest dba wrong
expect "isql reports a server that does not run" "Could not SQLDriverConnect" \
  isql -v -k "DRIVER=$lib;UID=dba;PWD=sql;ServerName=nosuch$name;CommLinks=ShMem"

# A client that is a script (pyodbc) needs the sanitizer's runtime preloaded like isql.
LD_PRELOAD="$runtime" "$client" vqtest "$lib" 3 "ServerName=$name;CommLinks=$tcp" ||
  failures=$((failures + 1))
echo "$failures failed groups"
[ "$failures" -eq 0 ]
