#!/usr/bin/env bash
# A crypto module exports its VCCIGet* entry points and nothing else: the five required
# ones, and the three block-crypto getters exactly in the modules that offer them.
set -euo pipefail
lib=$1
expected="VCCIGetEnvIface VCCIGetErrorIface VCCIGetStreamConnIface VCCIGetStreamIface VCCIGetVersion"
case $(basename "$lib") in
  libvqfips12_r.so|libvccistub_r.so)
    expected="$expected VCCIGetBlockEncrypterIface VCCIGetBlockHasherIface VCCIGetPasswordHasherIface";;
esac
expected=$(tr ' ' '\n' <<<"$expected" | sort)
# Function symbols only: the sanitizer runtime may add its own data symbols.
actual=$(nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "W" || $2 == "i" {print $3}' \
         | sed 's/@.*//' | sort -u)
if [[ "$actual" != "$expected" ]]; then
  echo "exports of $lib differ (< expected, > exported):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
others=$(nm -D --defined-only "$lib" | awk '$2 != "T" && $2 != "W" && $2 != "i" {print $3}')
if [[ -n "$others" ]]; then
  echo "unexpected data symbols exported by $lib:"; printf '  %s\n' $others; exit 1
fi
echo "ok: $(wc -l <<<"$actual") entry points"
