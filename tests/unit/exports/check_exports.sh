#!/usr/bin/env bash
# Fails when libvqjdbc12.so exports any symbol other than the ODBC entry points, the JNI
# entry points of the three package variants, the JNI load hooks, the native row reader
# (nativeReadRow) and the exported data tables; and when an ODBC entry point of the list
# beside this script is missing. Of the ODBC names only those of the list, and their wide
# forms, may be exported: an internal function whose name begins with "SQL" keeps C++
# linkage and stays inside. Which JNI names are right is check_jni_exports.sh's concern.
set -euo pipefail
lib=$1
api=$(dirname "$0")/odbc_entry_points.txt
allowed='^(SQL[A-Za-z]+|ConfigDSN|Java_tovrak_jdbc[34]?_vellumcrest_[A-Za-z0-9_]+|JNI_OnLoad|JNI_OnUnload|nativeReadRow|AllErrorsMapping|Map[A-Za-z]+OptionTable|_packed_collation_[0-9]+|_ZN8UTLocale1[345]_(charset|language|collation)_infoE)$'
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
bad=$(printf '%s\n' "$symbols" | grep -v -E "$allowed" | grep -v '^$' || true)
if [[ -n "$bad" ]]; then
  echo "unexpected exports from $lib:"
  printf '  %s\n' $bad
  exit 1
fi
odbc_names=$(printf '%s\n' "$symbols" | grep -E '^(SQL|ConfigDSN)' || true)
not_api=$(printf '%s\n' "$odbc_names" | sed 's/W$//' | grep -v -x -F -f "$api" | grep -v '^$' || true)
if [[ -n "$not_api" ]]; then
  echo "exported names that are not ODBC entry points of the driver:"
  printf '  %s\n' $not_api
  exit 1
fi
missing=$(grep -v -x -F -f <(printf '%s\n' "$odbc_names") "$api" || true)
if [[ -n "$missing" ]]; then
  echo "ODBC entry points missing from $lib:"
  printf '  %s\n' $missing
  exit 1
fi
# The library must never pull in a driver manager.
if readelf -d "$lib" | grep -E 'NEEDED.*libodbc(inst)?\.so' ; then
  echo "$lib links against the ODBC driver manager"
  exit 1
fi
# The LDAP client library is loaded at run time by name, never linked.
if readelf -d "$lib" | grep -E 'NEEDED.*lib(ldap|lber)' ; then
  echo "$lib links against the LDAP client library"
  exit 1
fi
echo "ok: $(printf '%s\n' "$symbols" | grep -c . || true) exported symbols, all listed"
