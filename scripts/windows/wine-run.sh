#!/usr/bin/env bash
# CTest's emulator for the cross build: runs a Windows program under Wine. A Qt Test program's log,
# which does not reach a pipe under Wine, goes to a file that is printed afterwards.
program=$1
shift
case "$(basename "$program")" in
tst_*)
    log=$(mktemp /tmp/torvane-test-log.XXXXXX)
    wine "$program" "$@" -o "$log,txt"
    status=$?
    cat "$log"
    rm -f "$log"
    exit $status
    ;;
esac
exec wine "$program" "$@"
