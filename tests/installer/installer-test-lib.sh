# Helpers of installer-tests.sh: a prefix of one's own, running the installer and uninstaller, and
# what an installed and a cleanly removed product look like. Expects root, build, prefix, installer
# and older set by the caller.

version=$(basename "$installer" .exe); version=${version#ZEL-Setup-}
older_version=$(basename "${older:-none}" .exe); older_version=${older_version#ZEL-Setup-}
drive="$prefix/drive_c"
product="$drive/Program Files/Varant/ZEL"
product_win='C:\Program Files\Varant\ZEL'
platform_win='C:\Program Files\Common Files\Varant\Platform'
work="$prefix.work"

# What the installer puts into the product's folder.
installed_files=(zelevh.dll ZelTARN.dll KyAlert.exe KyLogCfg.exe ZelRes2.DLL Uninstall.exe)
# One class of each server: class id and the server key it is registered under.
registered_classes=(
  "{50B3C7E2-1E4E-42CB-8F11-734A87E18F25} InprocServer32"  # zelevh.dll
  "{769ED09C-B51F-4920-9A6F-EA7C4C8921AD} InprocServer32"  # ZelTARN.dll
  "{E9915456-A831-4B82-AFE3-30E7F45F9483} LocalServer32"   # KyAlert.exe
)
# Keys a registry dump leaves out: Wine's own bookkeeping, which changes with every program run,
# and the stand-ins' state (call counters, knobs), which is the test's, not the product's.
volatile_keys='^\[HKEY_LOCAL_MACHINE\\(Software\\ZelStandIns|Software\\(Wow6432Node\\)?Microsoft\\(SystemCertificates|Cryptography\\RNG)|Software\\Wine\\|System\\CurrentControlSet\\Control\\(ServiceCurrent\]|Video\\))'

fail() { echo "installer test $case_name: $*" >&2; exit 1; }
stop_wine() { WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true; }
run() { "$root/scripts/wine-run" --prefix "$prefix" "$@" </dev/null; }

start_prefix() {
  stop_wine
  rm -rf "$prefix" "$work"
  mkdir -p "$work"
  ZEL_BUILD=$build "$root/scripts/prefix" "$prefix" --platform-only
  # Out-of-process activation needs a session other than the one that created the prefix.
  stop_wine
  trap stop_wine EXIT
}

run_installer() { run "$@" /S; }

# The uninstaller copies itself away and returns at once unless told where the product is with
# "_?=", which must come last and unquoted: Wine would quote a path with spaces, so a batch file
# starts it.
run_uninstaller() {
  cp "$product/Uninstall.exe" "$drive/uninstall-copy.exe"
  printf '@"C:\\uninstall-copy.exe" /S %s _?=%s\r\n@exit %%ERRORLEVEL%%\r\n' "$*" "$product_win" > "$drive/uninstall.cmd"
  run cmd /c 'C:\uninstall.cmd'
}

# The machine's registry as sorted "[key] value" lines, without volatile keys.
registry_dump() {
  run regedit /E 'C:\registry.reg' HKEY_LOCAL_MACHINE >/dev/null 2>&1 || fail "regedit /E failed"
  iconv -f UTF-16LE -t UTF-8 "$drive/registry.reg" | tr -d '\r' | sed 's/^\xef\xbb\xbf//' |
    awk '/\\$/ { held = held substr($0, 1, length($0) - 1); next }
         { line = held $0; held = "" }
         /^\[/ { key = line; print key; next }
         line != "" && key != "" { print key " " line }' |
    grep -Ev "$volatile_keys" | sort
}

product_files() { (cd "$product" && ls -1) 2>/dev/null | sort; }

# reg_value KEY [NAME]: the data of a value (the default one without NAME) as "reg query" shows it,
# empty when there is none.
reg_value() {
  if [ $# -lt 2 ]; then
    run reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk -F'    ' '$2 == "(Default)" { print $4 }'
  else
    run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -F'    ' -v name="$2" '$2 == name { print $4 }'
  fi
}

expect_log() { grep -qF "$2" "$1" 2>/dev/null || { cat "$1" >&2 2>/dev/null; fail "$(basename "$1") lacks: $2"; }; }

expect_installed() {
  local expected_version=$1 file entry clsid server
  for file in "${installed_files[@]}"; do
    [ -f "$product/$file" ] || fail "$file was not installed"
  done
  [ "$(reg_value 'HKLM\Software\Varant\ZEL' 'Install Dir')" = "$product_win" ] || fail '"Install Dir" is not the product folder'
  local uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEL'
  # value | data
  while IFS='|' read -r entry data; do
    [ "$(reg_value "$uninstall" "$entry")" = "$data" ] || fail "installed-programs entry: $entry is not \"$data\""
  done <<EOF
DisplayName|ZEL
DisplayVersion|$expected_version
Publisher|Varant
UninstallString|"$product_win\\Uninstall.exe"
EOF
  [ "$(binding_count)" -gt 0 ] || fail "the service binds none of its events to the product"
  for entry in "${registered_classes[@]}"; do
    read -r clsid server <<< "$entry"
    [ -n "$(reg_value "HKLM\\Software\\Classes\\CLSID\\$clsid\\$server")" ] ||
      fail "class $clsid has no $server after installing"
  done
}

# The event handlers' bindings the service keeps for the product (the stand-ins' state, which the
# registry comparison leaves out).
binding_count() {
  run reg query 'HKLM\Software\ZelStandIns\Service\EventBindings\ZEL' 2>/dev/null | tr -d '\r' | grep -c 'REG_SZ' || true
}

expect_nothing_installed() {
  [ "$(binding_count)" = 0 ] || fail "the service still binds $(binding_count) of its events to the product"
  product_files > "$work/files-after"
  diff "$work/files-before" "$work/files-after" >&2 || fail "files left in the product folder (diff above)"
  registry_dump > "$work/after.reg"
  diff "$work/before.reg" "$work/after.reg" > "$work/registry.diff" || {
    cut -c1-200 "$work/registry.diff" | head -n 40 >&2
    fail "the registry differs from before the installation (diff above, all of it in $work/registry.diff)"
  }
}

# The installer, and the uninstaller it wrote, carry the build's signature.
expect_signed() {
  local file
  local root_pem="$build/signing/root.pem"
  for file in "$@"; do
    if [ -f "$root_pem" ]; then
      osslsigncode verify -in "$file" -CAfile "$root_pem" >/dev/null 2>&1 ||
        fail "$(basename "$file") is not signed by the build's development certificate"
    else  # a release build's certificate chains to a root this machine may not hold
      osslsigncode extract-signature -in "$file" -out "$work/signature" >/dev/null 2>&1 ||
        fail "$(basename "$file") is not signed"
    fi
  done
}

report_log_has() { run "$platform_win\\KyReportLogViewer.exe" 2>/dev/null | grep -qF "$1"; }

wait_for() {
  local what=$1 tries
  shift
  for tries in $(seq 1 40); do
    "$@" && return 0
    sleep 0.5
  done
  fail "timed out waiting for $what"
}

platform_user_of_session_1() {
  run reg add "HKLM\\Software\\ZelStandIns\\UserManager\\Users\\$1" /v DisplayName /d "$1" /f >/dev/null
  run reg add 'HKLM\Software\ZelStandIns\UserManager\Sessions\1' /v User /d "$1" /f >/dev/null
}
