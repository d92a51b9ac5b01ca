#!/usr/bin/env bash
# Scripted isql and iusql sessions against vqeng12, each with -3 (ODBC 3 behaviour) and
# without it (the driver manager then asks the driver for ODBC 2 behaviour), over a data
# source on TCP/IP and over a DSN-less string on shared memory: a table made, rows
# inserted with decimals, a join printed, a refused statement reported with its state.
#   run_isql_sessions.sh <driver library> <vqeng12>
set -euo pipefail
lib=$1
server=$2
here=$(dirname "$0")
source "$here/../support/vqeng_server.sh"
source "$here/dm_registration.sh"
vqeng_start "$server" vqsessions
dm_register "$lib"

failures=0
# session <description> <input> <program and arguments...>: runs the program on the
# input and checks the output against the patterns in the array `want` (each must occur)
# and `refuse` (none may).
session() {
  local what=$1 input=$2 output pattern ok=1
  shift 2
  output=$(LD_PRELOAD="$runtime" LC_ALL=C.UTF-8 "$@" 2>&1 <<<"$input" || true)
  for pattern in "${want[@]}"; do
    grep -q -- "$pattern" <<<"$output" || { ok=0; echo "    missing: $pattern"; }
  done
  for pattern in "${refuse[@]}"; do
    ! grep -q -- "$pattern" <<<"$output" || { ok=0; echo "    unexpected: $pattern"; }
  done
  if [ "$ok" = 1 ]; then
    echo "ok $what"
  else
    echo "FAILED $what"
    sed 's/^/    /' <<<"$output"
    failures=$((failures + 1))
  fi
}

dsnless="DRIVER=$lib;UID=dba;PWD=sql;ServerName=$name;CommLinks=ShMem"
n=0
for program in isql iusql; do
  # This iusql knows neither -3 nor -k: it asks for ODBC 2 behaviour, and the manager
  # refuses ("DRIVER keyword syntax error") the string it builds around a connection
  # string, so it runs over the data source only.
  versions=(-3 "") targets=(dsn dsnless)
  [ "$program" = iusql ] && versions=("") targets=(dsn)
  for version in "${versions[@]}"; do
    for target in "${targets[@]}"; do
      n=$((n + 1))
      t="s${n}_customers" o="s${n}_orders"
      if [ "$target" = dsn ]; then
        args=(vqtest dba sql)
      else
        args=(-k "$dsnless")
      fi
      # A missing table is 42S02 in ODBC 3 and S0002 in ODBC 2.
      # iusql prints the message of an error without its state.
      missing=42S02
      [ -z "$version" ] && missing=S0002
      [ "$program" = iusql ] && missing="no such table: no_such_table_$n"
      script="CREATE TABLE $t (id INTEGER PRIMARY KEY, name VARCHAR(30))
CREATE TABLE $o (id INTEGER, customer_id INTEGER, amount NUMERIC(10,2))
INSERT INTO $t VALUES (1, 'Ada'), (2, 'Brant')
INSERT INTO $o VALUES (10, 1, 39.90), (11, 1, 249.00), (12, 2, 0.05)
SELECT c.name, o.amount FROM $t c JOIN $o o ON o.customer_id = c.id ORDER BY o.id
SELECT * FROM no_such_table_$n
DROP TABLE $o
DROP TABLE $t"
      want=("Connected!" "SQLRowCount returns 3" "| Ada *| 39.90 *|" "| Ada *| 249.00 *|"
            "| Brant *| 0.05 *|" "3 rows fetched" "$missing")
      refuse=("39.89" "HY000")
      session "$program ${version:-(ODBC 2)} $target" "$script" \
        "$program" -v ${version:+"$version"} "${args[@]}"
    done
  done
done
echo "$failures failed sessions"
[ "$failures" -eq 0 ]
