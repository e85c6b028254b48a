#!/usr/bin/env bash
# Size and import budget of a program: at most MAX_KIB kibibytes, and imports
# of Windows' own DLLs only (no compiler run-time or thread DLLs). With
# "known", only KnownDLLs: the DLLs that Windows always loads from its own
# folder, so that none can be planted beside the program (a setup program in
# a downloads folder, run elevated).
#   check-budget.sh program.exe MAX_KIB [known]
set -euo pipefail
exe=$1; max_kib=$2; known=${3:-}
size=$(stat -c %s "$exe")
status=0
echo "$(basename "$exe"): $size bytes (budget $((max_kib * 1024)))"
if [ "$size" -gt $((max_kib * 1024)) ]; then
  echo "over budget by $((size - max_kib * 1024)) bytes"; status=1
fi
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|COMCTL32|COMDLG32|WINMM|WININET|WS2_32|WSOCK32|MSVCRT|SHLWAPI|VERSION)\.DLL$'
if [ "$known" = known ]; then
  allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|COMDLG32|MSVCRT|SHLWAPI|WS2_32|IMM32|PSAPI|SETUPAPI|RPCRT4)\.DLL$'
fi
while read -r dll; do
  echo "imports $dll"
  if ! grep -qiE "$allowed" <<<"$dll"; then echo "not an allowed Windows DLL: $dll"; status=1; fi
done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
exit $status
