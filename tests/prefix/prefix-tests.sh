#!/usr/bin/env bash
# scripts/prefix, the fixture that installs the stand-ins, when a step fails: it names the step with
# its exit code and what Wine said of it, runs a failed program once more, makes a new prefix whose
# preparation failed once more from nothing, and leaves a prefix made before alone.
#   prefix-tests.sh CASE <source root> <build folder> <work folder>
set -euo pipefail
case_name=$1 root=$2 build=$3 work=$(realpath -m "$4")
prefix="$work/prefix"
source "$root/scripts/lib.sh"
stop_wine() { zel_stop_wine "$prefix"; }
fail() { { echo "prefix test $case_name: $*"; echo "-- scripts/prefix printed:"; cat "$work/prefix.out"; } >&2; exit 1; }
# Runs the fixture over the stand-ins of $1/bin and expects it to fail.
expect_fixture_to_fail() {
  local status=0
  ZEL_BUILD="$1" "$root/scripts/prefix" "$prefix" --platform-only >"$work/prefix.out" 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "scripts/prefix ended with 0"
}
times_said() { grep -cF -- "$1" "$work/prefix.out" || true; }
stop_wine
rm -rf "$work"
mkdir -p "$work"
trap stop_wine EXIT

case "$case_name" in
  failed-step)
    # A platform library that is no image: its registration fails both times.
    mkdir -p "$work/build/bin"
    ln -s "$build"/bin/* "$work/build/bin/"
    rm "$work/build/bin/KyReportLogPS.dll"
    printf 'not an image' >"$work/build/bin/KyReportLogPS.dll"
    expect_fixture_to_fail "$work/build"
    step="'regsvr32 /s C:\\Program Files\\Common Files\\Varant\\Platform\\KyReportLogPS.dll'"
    [ "$(times_said "scripts/prefix: $step ended with exit code 3; it printed:")" -eq 2 ] ||
      fail "the registration was not named with its exit code at each of two attempts"
    [ "$(times_said "scripts/prefix: running it once more")" -eq 1 ] || fail "the registration was not run once more"
    [ "$(grep -c 'Failed to load module L".*KyReportLogPS.dll"' "$work/prefix.out")" -eq 2 ] ||
      fail "Wine's reason for not loading the library was not shown for both attempts"
    ;;
  failed-preparation)
    # Without the C runtime no Windows program of the prefix starts, Wine's own first.
    export WINEDLLOVERRIDES="msvcrt=d"
    expect_fixture_to_fail "$build"
    [ "$(times_said "wine-run: '/usr/lib/wine/wine64 wineboot -i' in $prefix ended with exit code")" -eq 2 ] ||
      fail "the failed making of the prefix was not named at each of two attempts"
    [ "$(times_said "Library advapi32.dll (which is needed by")" -eq 2 ] || fail "Wine's reason was not shown"
    [ "$(times_said "scripts/prefix: making the new prefix $prefix once more")" -eq 1 ] ||
      fail "the new prefix was not made once more"
    # A prefix made before is someone's: a failed preparation leaves it as it was.
    unset WINEDLLOVERRIDES
    "$root/scripts/wine-run" --prefix "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
    touch "$prefix/drive_c/kept"
    export WINEDLLOVERRIDES="msvcrt=d"
    expect_fixture_to_fail "$build"
    [ "$(times_said "making the new prefix")" -eq 0 ] || fail "a prefix made before was made anew"
    [ -f "$prefix/drive_c/kept" ] || fail "a prefix made before lost its files"
    [ "$(times_said "scripts/prefix: could not prepare the Wine prefix $prefix")" -eq 1 ] ||
      fail "the failed preparation of a prefix made before was not named"
    ;;
  *) echo "prefix-tests.sh: no case $case_name" >&2; exit 2 ;;
esac
echo "prefix test $case_name: passed"
