# Sourced by the client scripts after vqeng_start: registers the built driver in a
# temporary odbcinst.ini and odbc.ini under $dir (never the machine's own files), with a
# data source over TCP/IP ("vqtest") and one over shared memory ("vqshm"), and sets what
# runs a client beside a driver built with a sanitizer.
#   dm_register <driver library>
# Sets: tcp (the CommLinks value of the TCP/IP link), runtime (the sanitizer's runtime to
# preload, empty when none).
dm_register() {
  local lib=$1
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

[vqshm]
Driver=Vellumcrest test driver
ServerName=$name
CommLinks=ShMem
INI
  export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini"
  export VCDIR=$(dirname "$lib")
  unset VELSR_TRACK_LIBS VELSR_VERSION_INFO VCCONNECT
  # A driver built with a sanitizer loads only into a program that has the sanitizer's
  # runtime: the client gets it preloaded. ldd's output is read whole first: under pipefail an awk that
  # stops early could kill ldd with SIGPIPE.
  local deps
  deps=$(ldd "$lib")
  runtime=$(awk '/lib(t|a)san\.so/ { print $3; exit }' <<<"$deps")
}
