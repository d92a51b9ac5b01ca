#!/usr/bin/env bash
# libvqjdbc12.so needs the task runtime and finds it beside itself through $ORIGIN, and
# binds its own function calls to itself.
set -euo pipefail
lib=$1
dyn=$(readelf -d "$lib")
grep -q 'NEEDED.*\[libvqtasks12_r.so\]' <<<"$dyn" || { echo "no NEEDED libvqtasks12_r.so"; exit 1; }
grep -E -q '(RUNPATH|RPATH).*\[\$ORIGIN\]' <<<"$dyn" || { echo "no \$ORIGIN run path"; exit 1; }
grep -q 'SYMBOLIC\|FLAGS.*SYMBOLIC' <<<"$dyn" && { echo "whole-library -Bsymbolic is not wanted"; exit 1; }
[[ -f "$(dirname "$lib")/libvqtasks12_r.so" ]] || { echo "libvqtasks12_r.so is not beside $lib"; exit 1; }
# Loading with an empty environment must resolve everything.
env -i /usr/bin/python3 -c "import ctypes,sys; ctypes.CDLL(sys.argv[1])" "$lib"
echo ok
