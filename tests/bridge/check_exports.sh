#!/bin/sh
# Usage: check_exports.sh elf|pe TOOL LIBRARY
# Passes when LIBRARY exports invoke_gemx_ui and nothing else. elf: TOOL is
# nm, run as "nm -D --defined-only"; pe: TOOL is objdump, whose "-p" output
# lists the export names after "[Ordinal/Name Pointer] Table".
set -u
kind=$1 tool=$2 lib=$3
case "$kind" in
  elf)
    listing=$("$tool" -D --defined-only "$lib") || { echo "cannot read $lib" >&2; exit 1; }
    exports=$(printf '%s\n' "$listing" | awk 'NF >= 3 { print $3 }')
    ;;
  pe)
    listing=$("$tool" -p "$lib") || { echo "cannot read $lib" >&2; exit 1; }
    exports=$(printf '%s\n' "$listing" |
      awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[[:space:]]*$/ { on = 0 } on { print $NF }')
    ;;
  *) echo "usage: $0 elf|pe TOOL LIBRARY" >&2; exit 2 ;;
esac
exports=$(printf '%s\n' "$exports" | sed '/^$/d' | sort)
echo "exports of $lib:"
printf '  %s\n' $exports
if [ "$exports" != "invoke_gemx_ui" ]; then
  echo "expected invoke_gemx_ui alone" >&2
  exit 1
fi
