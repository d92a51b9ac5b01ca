#!/usr/bin/env bash
# Fails when libvqjdbc12.so exports a JNI name that no native of the driver's Java classes
# binds to, or exports a native for one package variant and not for the other two. The
# reference is the `javac -h` output of the classes: for every native its JNI short name,
# or its long name (with the mangled argument signature) when javac gives it because the
# method is overloaded. For a native that is not overloaded the virtual machine also
# finds the long name, so both are accepted there; an overloaded one must carry its long
# name, or every overload would bind to the one short name. Natives not built yet may be
# absent: the script lists how many are.
#   check_jni_exports.sh <libvqjdbc12.so> <javac -h directory>
set -euo pipefail
lib=$1
headers=$2
shopt -s nullglob
files=("$headers"/tovrak_jdbc*_vellumcrest_*.h)
if [ ${#files[@]} -eq 0 ]; then
  echo "no javac -h headers in $headers"
  exit 1
fi

# One line per native: "<accepted name> <accepted name>..." (the javac name first).
allowed=$(awk '
  /^ \* Class:/     { cls = $3 }   # already in its JNI form
  /^ \* Method:/    { method = $3 }
  /^ \* Signature:/ { sig = $3 }
  /^JNIEXPORT/ {
    name = $NF
    args = sig; sub(/^\(/, "", args); sub(/\).*$/, "", args)
    m = args
    gsub(/_/, "_1", m); gsub(/;/, "_2", m); gsub(/\[/, "_3", m); gsub(/\//, "_", m)
    jmethod = method; gsub(/_/, "_1", jmethod)
    short = "Java_" cls "_" jmethod
    long = short "__" m
    if (name == short) print name, long; else print name
  }' "${files[@]}")
declared=$(printf '%s\n' "$allowed" | wc -l)
accepted=$(printf '%s\n' "$allowed" | tr ' ' '\n' | sort -u)

exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | grep '^Java_' | sort -u || true)
wrong=$(comm -23 <(printf '%s\n' "$exported" | grep -v '^$' || true) <(printf '%s\n' "$accepted"))
status=0
if [ -n "$wrong" ]; then
  echo "JNI names exported by $lib that no declared native binds to:"
  printf '  %s\n' $wrong
  status=1
fi

# Every native is exported once per package: the three names differ only in the package.
uneven=$(printf '%s\n' "$exported" | grep -v '^$' |
         sed -E 's/^Java_tovrak_jdbc[34]?_vellumcrest_//' | sort | uniq -c |
         awk '$1 != 3 { print $2 " (" $1 " of 3 packages)" }' || true)
if [ -n "$uneven" ]; then
  echo "natives not exported for all three packages:"
  printf '  %s\n' "$uneven"
  status=1
fi

if [ "$status" -eq 0 ]; then
  bound=$(printf '%s\n' "$exported" | grep -c . || true)
  missing=$((declared - bound))
  echo "ok: $bound of $declared declared natives exported under names that bind; $missing not built yet"
fi
exit $status
