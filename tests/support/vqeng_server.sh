# Sourced by the test scripts that run the stand-in server as a child: vqeng_start starts
# vqeng12 serving shared memory and TCP/IP on a loopback port of its choosing, in a new
# temporary directory that is also the test's HOME and holds its VCTMP, and returns once
# the server reported ready on its hand-shake descriptor. On exit the server is ended and
# the directory removed.
#   vqeng_start <vqeng12> <server name prefix>
# Sets: dir (the temporary directory), name (the server name), port (its TCP/IP port),
# pid (the server's process).

vqeng_stop() {
  if [ -n "${pid:-}" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

vqeng_start() {
  local server=$1 status
  dir=$(mktemp -d)
  pid=
  trap vqeng_stop EXIT
  export VCTMP="$dir/vctmp" HOME="$dir"
  mkdir -p "$VCTMP"
  name="$2$$"
  mkfifo "$dir/ready"
  "$server" -shm -n "$name" -x "tcpip(port=0)" -hn 3 3>"$dir/ready" >"$dir/server.out" \
    2>"$dir/server.err" &
  pid=$!
  status=$(od -An -tu2 -N2 "$dir/ready" | tr -d ' ')
  if [ "$status" != 0 ]; then
    echo "FAILED vqeng12 did not start: $(cat "$dir/server.err")"
    exit 1
  fi
  port=$(sed -n 's/^port=//p' "$dir/server.out")
}
