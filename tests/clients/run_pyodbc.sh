#!/usr/bin/env bash
# Starts vqeng12 and runs the pyodbc test module against it, over a data source on TCP/IP
# and over a DSN-less connection string on shared memory.
#   run_pyodbc.sh <test module> <driver library> <vqeng12>
set -euo pipefail
module=$1
lib=$2
server=$3
here=$(dirname "$0")
source "$here/../support/vqeng_server.sh"
source "$here/dm_registration.sh"
vqeng_start "$server" vqpyodbc
dm_register "$lib"
export VQ_PYODBC_CONNECT="DSN=vqtest;UID=dba;PWD=sql
DRIVER=$lib;ServerName=$name;CommLinks=ShMem;UID=dba;PWD=sql"
LD_PRELOAD="$runtime" /usr/bin/python3 "$module"
