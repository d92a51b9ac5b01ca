#!/usr/bin/env bash
# The Unicode stand-in exports exactly the 33 names the client binds: no name missing,
# nothing else (no C++ helpers, no ICU symbols of its own).
set -euo pipefail
lib=$1
expected=$(sort <<'NAMES'
ucnv_open_3_4
ucnv_resetToUnicode_3_4
ucnv_resetFromUnicode_3_4
ucnv_close_3_4
ucnv_toUnicode_3_4
ucnv_fromUnicode_3_4
ucnv_setFallback_3_4
ucol_open_3_4
ucol_close_3_4
ucol_setAttribute_3_4
ucol_setStrength_3_4
VSR_ucol_getSortKeyPrefix
VSR_ucol_getSortKeyPrefixSBCS
VSR_ucol_getSortKeyPrefixUTF8
u_isUAlphabetic_3_4
u_getIntPropertyValue_3_4
u_isWhitespace_3_4
uiter_setUTF8_3_4
ucol_strcoll_3_4
VSR_ucol_strcoll_sbcs
ucol_strcollIter_3_4
VSR_strToUpper
VSR_strToLower
u_strToLower_3_4
u_strToUpper_3_4
uloc_canonicalize_3_4
VSRGetICUDataset
ucnv_setFromUCallBack_3_4
ucnv_setToUCallBack_3_4
u_isUWhiteSpace_3_4
VSR_ucol_open
VSR_uiter_setFragmentedSBCS
VSR_uiter_setFragmentedUTF8Simple
NAMES
)
# Function symbols only: the sanitizer runtime may add its own data symbols.
actual=$(nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "W" || $2 == "i" {print $3}' \
         | sed 's/@.*//' | sort -u)
if [[ "$actual" != "$expected" ]]; then
  echo "exports of $lib differ from the bound names (< expected, > exported):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
others=$(nm -D --defined-only "$lib" | awk '$2 != "T" && $2 != "W" && $2 != "i" {print $3}')
if [[ -n "$others" ]]; then
  echo "unexpected data symbols exported by $lib:"
  printf '  %s\n' $others
  exit 1
fi
# Unloading would take ICU's caches with it; the library stays once loaded.
readelf -d "$lib" | grep -q 'FLAGS_1.*NODELETE' || { echo "$lib is not marked nodelete"; exit 1; }
echo "ok: $(wc -l <<<"$actual") exported names, all bound by the client"
