#!/usr/bin/env bash
# Checks that a program needs no DLL beyond those every Windows system has:
# imports_check.sh OBJDUMP PROGRAM.exe
set -eu
shopt -s nocasematch  # DLL names are matched as Windows matches them
objdump=$1 program=$2
allowed='^(KERNEL32|USER32|GDI32|SHELL32|COMCTL32|WS2_32|ADVAPI32|msvcrt)\.dll$'
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no imports found in $program"; exit 1; }
status=0
for dll in $imports; do
  if [[ ! $dll =~ $allowed ]]; then
    echo "$program needs $dll, which Windows does not bring"
    status=1
  fi
done
echo "$program imports:" $imports
exit $status
