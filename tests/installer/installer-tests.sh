#!/usr/bin/env bash
# The product's installer under Wine, each case in a fresh prefix holding only the service's and
# the platform's stand-ins (scripts/prefix --platform-only), as a customer's machine would before
# the product is installed.
#   installer-tests.sh CASE <source root> <build folder> <prefix> <installer> [<older installer>]
# CASE: install-uninstall | upgrade | failed-step | failed-upgrade
set -euo pipefail
case_name=$1 root=$2 build=$3 prefix=$(realpath -m "$4") installer=$5 older=${6:-}
source "$(dirname "${BASH_SOURCE[0]}")/installer-test-lib.sh"

# Installed, the product's main scenario works; uninstalled, nothing of it is left.
case_install_uninstall() {
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  run_installer "$installer" /LOG='C:\setup.log' || fail "the installer ended with $?"
  expect_log "$drive/setup.log" "ZEL $version installed"
  expect_installed "$version"
  expect_signed "$installer" "$product/Uninstall.exe"

  # The service's event ends as a report-log entry, read as a parent reads it.
  run "$product_win\\GSEventSource.exe" KeywordBlocked pid=self content=0 pattern=poker url=http://cards.example.com/ \
    >/dev/null || fail "the service's event source failed"
  wait_for "the report-log entry of the blocked keyword" report_log_has 'poker'

  # A diagnostic log of the product's is the parent's to keep.
  mkdir -p "$drive/ProgramData/Varant/KYLOGS/ZelEventHandler"
  echo kept > "$drive/ProgramData/Varant/KYLOGS/ZelEventHandler/kept.log"
  run_uninstaller /LOG='C:\uninstall.log' || fail "the uninstaller ended with $?"
  expect_log "$drive/uninstall.log" "ZEL uninstalled"
  expect_nothing_installed
  [ -f "$drive/ProgramData/Varant/KYLOGS/ZelEventHandler/kept.log" ] || fail "the uninstaller removed the diagnostic logs"
}

# Over an older version: the older one's registrations give way, the service's users move to the
# platform during setup, the startup user among them.
case_upgrade() {
  [ -f "$older" ] || fail "no older installer at $older"
  platform_user_of_session_1 jamie
  run_installer "$older" /LOG='C:\older.log' || fail "the older installer ended with $?"
  expect_installed "$older_version"
  local id name
  for id in 1 2 3; do
    name=$(echo "al bea cy" | cut -d' ' -f$id)
    # The service keeps a user's name (property 200) as its variant type, VT_BSTR, and the text.
    run reg add "HKLM\\Software\\ZelStandIns\\Service\\Users\\$id" /v 200 /d "8:$name" /f >/dev/null
  done
  run_installer "$installer" /LOG='C:\setup.log' /STARTUP=BEA || fail "the installer ended with $?"
  expect_log "$drive/setup.log" "Found ZEL $older_version in"
  expect_log "$drive/setup.log" "The users' migration completed"
  expect_installed "$version"
  # user | startup flag the platform keeps
  local expected="al 0
bea 1
cy 0"
  while read -r name startup; do
    [ "$(reg_value "HKLM\\Software\\ZelStandIns\\UserManager\\Users\\$name" Startup)" = "$(printf '0x%x' "$startup")" ] ||
      fail "the platform has no user $name with startup flag $startup after the upgrade"
  done <<< "$expected"
  # The migration consumed its marker and the startup user.
  ! run reg query 'HKLM\Software\Varant\temp' >/dev/null 2>&1 || fail "the upgrade marker was left behind"
  [ -z "$(reg_value 'HKLM\Software\Varant\ZEL' StartUp)" ] || fail "the StartUp value was left behind"
}

# Runs the installer where a step is meant to fail: it ends with 3 and its log names the step.
expect_refused_install() {
  local status=0
  run_installer "$installer" /LOG='C:\setup.log' || status=$?
  [ "$status" = 3 ] || fail "the installer ended with $status, not 3"
  expect_log "$drive/setup.log" "$1"
}

# A step that fails (the service's event registry refusing the event handlers' bindings) undoes
# everything before it and says what failed.
case_failed_step() {
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  run reg add 'HKLM\Software\ZelStandIns\Service' /v OpenProduct.HResult /t REG_DWORD /d 0x80070005 /f >/dev/null
  expect_refused_install "FAILED: registering zelevh.dll: its class"
  expect_log "$drive/setup.log" "Rolled back; ZEL $version was not installed"
  run reg delete 'HKLM\Software\ZelStandIns\Service' /v OpenProduct.HResult /f >/dev/null
  run reg delete 'HKLM\Software\ZelStandIns\Service' /v OpenProduct.Calls /f >/dev/null 2>&1 || true
  expect_nothing_installed
}

# A registration that fails during an upgrade puts the older version back as it was: its files,
# its registrations, its entry among the installed programs.
case_failed_upgrade() {
  [ -f "$older" ] || fail "no older installer at $older"
  run_installer "$older" /LOG='C:\older.log' || fail "the older installer ended with $?"
  # The older version's unregistration opens the event registry first; the new one's registration
  # is refused once.
  local service='HKLM\Software\ZelStandIns\Service'
  run reg add "$service" /v OpenProduct.HResult /t REG_DWORD /d 0x80070005 /f >/dev/null
  run reg add "$service" /v OpenProduct.After /t REG_DWORD /d 1 /f >/dev/null
  run reg add "$service" /v OpenProduct.Times /t REG_DWORD /d 1 /f >/dev/null
  expect_refused_install "FAILED: registering zelevh.dll"
  expect_log "$drive/setup.log" "Restoring ZEL $older_version"
  if grep -q "Restoring failed too" "$drive/setup.log"; then cat "$drive/setup.log" >&2; fail "the older version was not restored"; fi
  expect_installed "$older_version"
  ! run reg query 'HKLM\Software\Varant\temp' >/dev/null 2>&1 || fail "a failed upgrade left the upgrade marker"
}

start_prefix
"case_${case_name//-/_}"
echo "installer test $case_name: passed"
