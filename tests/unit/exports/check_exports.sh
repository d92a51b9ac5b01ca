#!/usr/bin/env bash
# Fails when libvqjdbc12.so exports any symbol other than the ODBC entry points, the JNI
# entry points of the three package variants, the JNI load hooks and the exported data
# tables.
set -euo pipefail
lib=$1
allowed='^(SQL[A-Za-z]+|Java_tovrak_jdbc[34]?_vellumcrest_[A-Za-z0-9_]+|JNI_OnLoad|JNI_OnUnload|AllErrorsMapping|Map[A-Za-z]+OptionTable|_packed_collation_[0-9]+|_ZN8UTLocale1[345]_(charset|language|collation)_infoE)$'
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
bad=$(printf '%s\n' "$symbols" | grep -v -E "$allowed" | grep -v '^$' || true)
if [[ -n "$bad" ]]; then
  echo "unexpected exports from $lib:"
  printf '  %s\n' $bad
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
