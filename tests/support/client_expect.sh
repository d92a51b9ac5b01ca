# Sourced by the client scripts: checks that run a program and look for a pattern in
# what it writes, counting the failures in `failures`.
#   expect_input <description> <pattern> <input> <command...>: the command, reading
#     `input` on its standard input (nothing when empty), writes the pattern.
#   expect <description> <pattern> <command...>: the same with no input.
failures=0
expect_input() {
  local what=$1 pattern=$2 input=$3
  shift 3
  local output
  if [ -n "$input" ]; then
    output=$("$@" 2>&1 <<<"$input" || true)
  else
    output=$("$@" 2>&1 </dev/null || true)
  fi
  if grep -q -- "$pattern" <<<"$output"; then
    echo "ok $what"
  else
    echo "FAILED $what"
    sed 's/^/    /' <<<"$output"
    failures=$((failures + 1))
  fi
}
expect() {
  local what=$1 pattern=$2
  shift 2
  expect_input "$what" "$pattern" "" "$@"
}
