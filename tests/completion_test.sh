#!/usr/bin/env bash
# The bash completion of tessul, run against the built program: each case
# is the words typed so far and the completions expected.
set -u
program=$1
source "$2"

failures=0
expect() {
  local expected=$1
  shift
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$(($# ))
  _tessul
  local actual="${COMPREPLY[*]}"
  if [ "$actual" != "$expected" ]; then
    echo "FAILED: tessul $* -> '$actual', expected '$expected'"
    failures=$((failures + 1))
  fi
}

expect "check compile" c
expect "info" i
expect "--version" --v
expect "check" help ch
expect "--list" check --li
expect "--image" check https://a.test/ --im
expect "-q" check -q
expect "--quiet" check --q
expect "--keep-cosmetic" compile --k
expect "--output" compile --o
expect "" info --q
expect "script stylesheet subdocument" check --type s
expect "object object-subrequest other" check --type o
expect "xmlhttprequest xbl" check --type x
expect "" check --page n
expect "$2" check --list "$2"

if [ "$failures" -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "completion test passed"
