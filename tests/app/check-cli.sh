#!/bin/sh
# Runs the program with the given arguments and checks its exit status and what it
# printed on each stream: a grep -E pattern, "^$" for nothing at all, "-" for no check.
exe=$1 status=$2 out=$3 err=$4
shift 4
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
"$exe" "$@" >"$dir/out" 2>"$dir/err"
got=$?
fail=0
matches() {  # pattern file
  case $1 in
    -) return 0 ;;
    '^$') [ ! -s "$2" ] ;;
    *) grep -Eq -- "$1" "$2" ;;
  esac
}
if [ "$got" -ne "$status" ]; then echo "exit status $got, expected $status"; fail=1; fi
if ! matches "$out" "$dir/out"; then echo "standard output does not match $out:"; cat "$dir/out"; fail=1; fi
if ! matches "$err" "$dir/err"; then echo "standard error does not match $err:"; cat "$dir/err"; fail=1; fi
exit $fail
