#!/bin/sh
# Usage: check_exports.sh nm|objdump TOOL PROGRAM
# Checks that the service program exports the five command-syntax parsers
# under their plain, unmangled names: from the dynamic symbol table (nm -D)
# of an ELF program, or from the export table (objdump -p) of a Windows
# program. Runs on the build host; it needs no emulator.
set -eu
mode="$1"
tool="$2"
program="$3"

case "$mode" in
  nm)
    names=$("$tool" -D --defined-only "$program" | awk 'NF >= 3 && $2 ~ /^[TtWi]$/ { print $3 }')
    ;;
  objdump)
    # The name pointer table of the export directory: lines such as
    # "	[   0] cmdsyn_deliver" after "[Ordinal/Name Pointer] Table".
    names=$("$tool" -p "$program" |
      awk '/^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
           inside && /^[[:space:]]*$/ { inside = 0 }
           inside { print $NF }')
    ;;
  *)
    echo "usage: $0 nm|objdump TOOL PROGRAM" >&2
    exit 2
    ;;
esac

status=0
for name in cmdsyn_deliver cmdsyn_history cmdsyn_rebase cmdsyn_update cmdsyn_vtree; do
  if printf '%s\n' "$names" | grep -qx "$name"; then
    echo "exported: $name"
  else
    echo "not exported: $name" >&2
    status=1
  fi
done
exit "$status"
