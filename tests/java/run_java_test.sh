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

# The Java VM does not run under ThreadSanitizer: such builds skip these tests. A library
# built with AddressSanitizer needs the runtime loaded before the VM starts; the VM uses
# SIGSEGV itself (implicit null checks), so the runtime must leave that signal alone, and
# the VM's own allocations are no leaks of ours.
preload=
# ldd's output is read whole first: a reader that stops early would kill ldd with
# SIGPIPE, and pipefail would turn that into a failed test.
deps=$(ldd "$lib")
if grep -q 'libtsan\.so' <<<"$deps"; then
  echo "skipped: $lib is built with ThreadSanitizer; the Java VM does not run under it"
  exit 77
fi
asan=$(awk '/libasan\.so/ { print $3; exit }' <<<"$deps")
if [ -n "$asan" ]; then
  preload=$asan
  export ASAN_OPTIONS="handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

source "$(dirname "$0")/../support/vqeng_server.sh"
vqeng_start "$server" vqjava
export VCDIR="$libdir"
unset VELSR_TRACK_LIBS VELSR_VERSION_INFO VCCONNECT

failures=0
for link in shm tcp; do
  case $link in
    shm) conn="UID=dba;PWD=sql;ServerName=$name;CommLinks=ShMem" ;;
    tcp) conn="UID=dba;PWD=sql;ServerName=$name;CommLinks=tcpip(host=127.0.0.1;port=$port;DoBroadcast=NONE)" ;;
  esac
  echo "== $main over $link"
  LD_PRELOAD="$preload" "$java" -Xcheck:jni -ea -Djava.library.path="$libdir" -cp "$classpath" "$main" "$conn" "$link" \
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
