# Helpers of installer-tests.sh: a prefix of one's own, running the installer and uninstaller, and
# what an installed and a cleanly removed product look like. Expects root, build, prefix, installer
# and older set by the caller.
source "$root/scripts/lib.sh"

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
# Keys a registry dump leaves out: Wine's own bookkeeping, which changes with every program run
# and every restart (its devices' driver dates), and the stand-ins' state (call counters, knobs),
# which is the test's, not the product's.
volatile_keys='^\[HKEY_LOCAL_MACHINE\\(Software\\ZelStandIns|Software\\(Wow6432Node\\)?Microsoft\\(SystemCertificates|Cryptography\\RNG)|Software\\Wine\\|System\\CurrentControlSet\\Control\\(ServiceCurrent\]|Video\\|Class\\))'

fail() { { echo "installer test $case_name: $*"; report_context; } >&2; exit 1; }
stop_wine() { zel_stop_wine "$prefix"; }

# Runs a program in the prefix. Its output is kept in $work/run.out (both streams) for the report
# of a failure, and passed on.
run() {
  local status=0
  "$root/scripts/wine-run" --prefix "$prefix" "$@" </dev/null >"$work/run.stdout" 2>"$work/run.stderr" || status=$?
  { echo "\$ $*  (exit code $status)"; cat "$work/run.stdout" "$work/run.stderr"; } >"$work/run.out"
  cat "$work/run.stdout"
  cat "$work/run.stderr" >&2
  return $status
}

# What a failure report carries: the last program run in the prefix with its output, and the logs
# of the installer and the uninstaller so far (the tests' own and those in the default place).
report_context() {
  local file
  if [ -f "$work/run.out" ]; then echo "-- the last program run in the prefix:"; cat "$work/run.out"; fi
  for file in "$drive"/*.log "$drive"/users/*/Temp/*.log; do
    if [ -f "$file" ]; then echo "-- C:/${file#"$drive"/}:"; cat "$file"; fi
  done
}
# Any command that fails the test says so, with its line.
report_failure() {
  { echo "installer test $case_name: line $2: '$3' ended with $1"; report_context; } >&2
}
set -E
trap 'report_failure $? $LINENO "$BASH_COMMAND"' ERR

start_prefix() {
  stop_wine
  rm -rf "$prefix" "$work"
  mkdir -p "$work"
  # scripts/prefix names a program that failed, with what it printed; its trace names any other
  # command that failed.
  ZEL_BUILD=$build bash -x "$root/scripts/prefix" "$prefix" --platform-only >"$work/prefix.out" 2>&1 || {
    { grep -v '^+' "$work/prefix.out" || true; echo "-- its last steps:"; grep '^+' "$work/prefix.out" | tail -n 10 || true; } >&2
    fail "scripts/prefix $prefix --platform-only failed (what it said above)"
  }
  # Out-of-process activation needs a session other than the one that created the prefix.
  stop_wine
  trap stop_wine EXIT
}

# A Linux path as Wine sees it (drive Z: is the root), a Windows path as it is.
windows_path() { case "$1" in /*) printf 'Z:%s' "${1//\//\\}" ;; *) printf '%s' "$1" ;; esac; }

# Runs a command line through cmd and leaves its whole exit code in $exit_code: Wine gives Linux only
# the low byte (3010 arrives as 194), cmd's %ERRORLEVEL% keeps all of it.
run_for_exit_code() {
  printf '@%s\r\n@echo exit code %%ERRORLEVEL%% > C:\\exit-code.txt\r\n' "$1" > "$drive/run-for-exit-code.cmd"
  rm -f "$drive/exit-code.txt"
  run cmd /c 'C:\run-for-exit-code.cmd' || true
  exit_code=$(tr -d '\r' < "$drive/exit-code.txt" 2>/dev/null | awk '{ print $3 }')
  exit_code=${exit_code:-none}
}

# run_installer_expecting EXPECTED INSTALLER ARGS...: runs the installer silently and expects its
# exit code to be EXPECTED.
run_installer_expecting() {
  local expected=$1 installer_file=$2
  shift 2
  run_for_exit_code "\"$(windows_path "$installer_file")\" /S $*"
  [ "$exit_code" = "$expected" ] || fail "$(basename "$installer_file") $* /S ended with $exit_code, not $expected"
}

# run_uninstaller_expecting EXPECTED ARGS...: runs a copy of the uninstaller silently, waiting for it.
# The uninstaller copies itself away and returns at once unless told where the product is with
# "_?=", which must come last and unquoted.
run_uninstaller_expecting() {
  local expected=$1
  shift
  cp "$product/Uninstall.exe" "$drive/uninstall-copy.exe"
  run_for_exit_code "\"C:\\uninstall-copy.exe\" /S $* _?=$product_win"
  [ "$exit_code" = "$expected" ] || fail "the uninstaller $* ended with $exit_code, not $expected"
}

# Runs a command line exactly as written, through "cmd /c", as a deployment tool runs the
# uninstall commands of the installed-programs entry; leaves its exit code in $exit_code.
run_command_line() { run_for_exit_code "cmd /c $1"; }

# Processes that keep files of the product mapped, as the service, the platform and a running
# alerter keep them: hold NAME FILE... (Windows paths); the holder's lines go to $work/NAME.held.
hold() {
  local name=$1
  shift
  "$root/scripts/wine-run" --prefix "$prefix" "$build/bin/FileHolder.exe" "$@" </dev/null >"$work/$name.held" 2>&1 &
  wait_for "$name to hold $*" grep -q '^holding' "$work/$name.held"
}

# The file id the holder NAME saw for FILE when it mapped it.
held_file_id() { tr -d '\r' < "$work/$1.held" | awk -v file="$2" '$1 == "held" && index($0, file) { print $NF }'; }

# A restart of the machine: every process ends, and the renames and deletions scheduled for the
# restart are done.
restart_machine() {
  stop_wine
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot -r \
    </dev/null >"$work/restart.out" 2>&1 || { cat "$work/restart.out" >&2; fail "wineboot -r failed"; }
  stop_wine
}

moved_aside_files() { product_files | grep '\.moved$' || true; }

# The files of the product in its folder are byte for byte those of the build.
expect_build_files() {
  local file
  for file in "${installed_files[@]}"; do
    [ "$file" = Uninstall.exe ] && continue
    cmp -s "$build/bin/$file" "$product/$file" || fail "$file in the product folder is not the build's"
  done
}

pending_restart_operations() {
  reg_value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations
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
    { run reg query "$1" /ve 2>/dev/null || true; } | tr -d '\r' | awk -F'    ' '$2 == "(Default)" { print $4 }'
  else
    { run reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | awk -F'    ' -v name="$2" '$2 == name { print $4 }'
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
UninstallString|"$product_win\\Uninstall.exe" _?=$product_win
QuietUninstallString|"$product_win\\Uninstall.exe" /S _?=$product_win
DisplayIcon|$product_win\\KyAlert.exe
EOF
  [[ "$(reg_value "$uninstall" InstallDate)" =~ ^20[0-9]{2}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])$ ]] ||
    fail "installed-programs entry: InstallDate \"$(reg_value "$uninstall" InstallDate)\" is no yyyymmdd date"
  # The entry's size is that of the installed files in KB.
  local size kilobytes
  size=$(reg_value "$uninstall" EstimatedSize)
  kilobytes=$(( ($(cat "${installed_files[@]/#/$product/}" | wc -c) + 1023) / 1024 ))
  [ -n "$size" ] && [ $((size)) = "$kilobytes" ] ||
    fail "installed-programs entry: EstimatedSize is \"$size\", the installed files take $kilobytes KB"
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
