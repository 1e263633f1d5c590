#!/usr/bin/env bash
# What the Windows build hands out: a stripped GUI program that imports only system
# DLLs, no WinRing0 beside it, the simulated WinRing0 only in demo/ (exporting
# WinRing0's six functions), and zips that keep the two apart.
source "$(dirname "$0")/lib.bash"
objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null || fail "$objdump is missing (apt-get install binutils-mingw-w64-x86-64)"

exe=$BUILD/quilm.exe
headers=$($objdump -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "quilm.exe is not a Windows GUI program (a console would open)"
imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$headers" | sort -u)
[ -n "$imports" ] || fail "quilm.exe imports nothing at all"
others=$(grep -vxE 'KERNEL32.DLL|USER32.DLL|GDI32.DLL|MSVCRT.DLL' <<<"$imports" || true)
[ -z "$others" ] || fail "quilm.exe imports $(echo $others), which are not Windows system DLLs"
$objdump -h "$exe" | grep -q '\.debug' && fail "quilm.exe is not stripped"

# The real WinRing0 is the user's to place; the build never puts a stand-in beside quilm.exe.
compgen -G "$BUILD/WinRing0*.[dD][lL][lL]" >/dev/null && fail "a WinRing0 DLL lies beside quilm.exe"
[ -f "$BUILD/demo/quilm.exe" ] && [ -f "$BUILD/demo/$DLL" ] || fail "demo/ lacks quilm.exe or $DLL"
cmp -s "$exe" "$BUILD/demo/quilm.exe" || fail "demo/quilm.exe is not the program just built"
exports=$($objdump -p "$BUILD/demo/$DLL" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\t\[/{print $3}')
for name in InitializeOls GetDllStatus Cpuid Rdmsr WrmsrTx DeinitializeOls; do
    grep -qx "$name" <<<"$exports" || fail "$DLL does not export $name"
done

# The zips (target "zip"), when they have been made: the program's holds no DLL.
listing() { python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$1"; }
for zip in "$BUILD"/quilm-*-windows-*.zip; do
    [ -e "$zip" ] || continue
    case $zip in
    *-demo.zip) want=$(printf '%s\n' README.md "$DLL" quilm.exe | sort) ;;
    *) want=$(printf '%s\n' README.md quilm.exe) ;;
    esac
    [ "$(listing "$zip")" = "$want" ] || fail "$(basename "$zip") holds $(listing "$zip" | tr '\n' ' ')"
done
echo "quilm.exe: $(stat -c %s "$exe") bytes, imports $(echo $imports)"
echo PASS
