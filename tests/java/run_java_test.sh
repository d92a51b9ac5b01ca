#!/usr/bin/env bash
# Runs one Java test program against vqeng12 over both links: starts the server (shared
# memory under a temporary VCTMP, TCP/IP on a loopback port, its own HOME), then runs
#   java -Xcheck:jni -ea -Djava.library.path=<library dir> -cp <classpath> <class> <connection string> <link>
# once with a shared-memory connection string and once with a TCP/IP one. A run fails on
# a non-zero exit or on any JNI check warning in its output.
#   run_java_test.sh <java> <classpath> <library dir> <vqeng12> <main class>
set -uo pipefail
java=$1
classpath=$2
libdir=$3
server=$4
main=$5
lib="$libdir/libvqjdbc12.so"

# A library built with a sanitizer needs the sanitizer's runtime loaded before the Java
# VM starts, and the VM does not run under ThreadSanitizer; such builds skip these tests.
if ldd "$lib" | grep -qE 'lib(t|a)san\.so'; then
  echo "skipped: $lib is built with a sanitizer; the Java VM does not run under it"
  exit 77
fi

dir=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
export VCTMP="$dir/vctmp" HOME="$dir" VCDIR="$libdir"
mkdir -p "$VCTMP"
unset VELSR_TRACK_LIBS VELSR_VERSION_INFO VCCONNECT
name="vqjava$$"

# The server reports on its hand-shake descriptor once it serves both links.
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

failures=0
for link in shm tcp; do
  case $link in
    shm) conn="UID=dba;PWD=sql;ServerName=$name;CommLinks=ShMem" ;;
    tcp) conn="UID=dba;PWD=sql;ServerName=$name;CommLinks=tcpip(host=127.0.0.1;port=$port;DoBroadcast=NONE)" ;;
  esac
  echo "== $main over $link"
  "$java" -Xcheck:jni -ea -Djava.library.path="$libdir" -cp "$classpath" "$main" "$conn" "$link" \
    >"$dir/java.out" 2>"$dir/java.err"
  rc=$?
  cat "$dir/java.out"
  cat "$dir/java.err" >&2
  # -Xcheck:jni reports misuse of JNI (a call with an exception pending, an exception not
  # checked, local references beyond the ensured capacity) as warnings and carries on.
  if grep -qE 'WARNING in native method|WARNING: JNI local refs' "$dir/java.out" "$dir/java.err"; then
    echo "FAILED $main over $link: JNI check warnings (above)"
    failures=$((failures + 1))
  elif [ "$rc" -ne 0 ]; then
    echo "FAILED $main over $link: exit status $rc"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
