#!/usr/bin/env bash
# The product's installer under Wine, each case in a fresh prefix holding only the service's and
# the platform's stand-ins (scripts/prefix --platform-only), as a customer's machine would before
# the product is installed.
#   installer-tests.sh CASE <source root> <build folder> <prefix> <installer> [<older installer>]
# CASE: install-uninstall | upgrade | upgrade-from-7 | upgrade-in-use | uninstall-in-use |
#       uninstall-command | failed-uninstall | older-over-newer | another-setup-running | failed-step |
#       failed-upgrade | failed-rollback
set -euo pipefail
case_name=$1 root=$2 build=$3 prefix=$(realpath -m "$4") installer=$5 older=${6:-}
source "$(dirname "${BASH_SOURCE[0]}")/installer-test-lib.sh"

# Installed, the product's main scenario works; uninstalled, nothing of it is left.
case_install_uninstall() {
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
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
  run_uninstaller_expecting 0 /LOG='C:\uninstall.log'
  expect_log "$drive/uninstall.log" "ZEL uninstalled"
  expect_nothing_installed
  [ -f "$drive/ProgramData/Varant/KYLOGS/ZelEventHandler/kept.log" ] || fail "the uninstaller removed the diagnostic logs"
}

# The service users the older version kept, and the administrator the parent set up.
service_users=(al bea cy)
add_service_users_and_administrator() {
  local id=0 name
  for name in "${service_users[@]}"; do
    id=$((id + 1))
    # The service keeps a user's name (property 200) as its variant type, VT_BSTR, and the text.
    run reg add "HKLM\\Software\\ZelStandIns\\Service\\Users\\$id" /v 200 /d "8:$name" /f >/dev/null
  done
  run reg add 'HKLM\Software\ZelStandIns\UserManager' /v AdministratorName /d Parent /f >/dev/null
}

# The service raises a sign-in-required event for session 1, as at a user's sign-in.
raise_sign_in() {
  run "$product_win\\GSEventSource.exe" SignInRequired session=1 >/dev/null || fail "the service's event source failed"
}

platform_has_user() { [ -n "$(reg_value "HKLM\\Software\\ZelStandIns\\UserManager\\Users\\$1" Startup)" ]; }

# Between releases of 8, nothing held: the older one's registrations give way, its files are
# replaced and gone where they were installed, and the users and the administrator the parent set
# stay as they are, also at the next sign-in.
case_upgrade() {
  platform_user_of_session_1 jamie
  run_installer_expecting 0 "$older" /LOG='C:\older.log'
  expect_installed "$older_version"
  add_service_users_and_administrator
  # An upgrade stays where the product is, whatever folder /D= names.
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log' /STARTUP=BEA '/D=C:\Elsewhere'
  expect_log "$drive/setup.log" "Found ZEL $older_version in"
  expect_log "$drive/setup.log" "/D=C:\Elsewhere ignored"
  [ ! -e "$drive/Elsewhere" ] || fail "the upgrade wrote into the folder /D= named"
  expect_log "$drive/setup.log" "No users' migration: $older_version and $version are both version 8"
  if grep -qF "move to the platform" "$drive/setup.log"; then fail "setup.log announces a users' migration"; fi
  expect_installed "$version"
  expect_build_files
  [ -z "$(moved_aside_files)" ] || fail "moved-aside files left with nothing in use: $(moved_aside_files)"
  [ -z "$(pending_restart_operations)" ] || fail "deletions were scheduled with nothing in use: $(pending_restart_operations)"
  ! run reg query 'HKLM\Software\Varant\temp' >/dev/null 2>&1 || fail "the upgrade set the migration's marker"
  [ -z "$(reg_value 'HKLM\Software\Varant\ZEL' StartUp)" ] || fail "the upgrade set a startup user"
  # The handler answers the event when it is done with it.
  raise_sign_in
  local name
  for name in "${service_users[@]}"; do
    ! platform_has_user "$name" || fail "the sign-in after the upgrade migrated the service's user $name"
  done
  [ "$(reg_value 'HKLM\Software\ZelStandIns\UserManager' AdministratorName)" = Parent ] ||
    fail "the administrator's settings changed: name \"$(reg_value 'HKLM\Software\ZelStandIns\UserManager' AdministratorName)\""
}

# From a product before 8 (a version 7 entry): the service's users are marked for the platform,
# and the next sign-in the service raises (the installer raises none and waits for none) moves them,
# the startup user among them.
case_upgrade_from_7() {
  platform_user_of_session_1 jamie
  run_installer_expecting 0 "$older" /LOG='C:\older.log'
  run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEL' /v DisplayVersion /d 7.2.0.15 /f >/dev/null
  add_service_users_and_administrator
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log' /STARTUP=BEA
  expect_log "$drive/setup.log" "Upgrade from 7.2.0.15: the service's users move to the platform at the next sign-in, startup user BEA"
  if grep -qF "No users' migration" "$drive/setup.log"; then fail "setup.log says no migration from version 7"; fi
  expect_installed "$version"
  [ "$(reg_value 'HKLM\Software\Varant\temp' UpgradeUsers)" = 0x1 ] || fail "no migration marker after an upgrade from 7"
  raise_sign_in
  # user | startup flag the platform keeps
  local name startup
  while read -r name startup; do
    platform_has_user "$name" || fail "the sign-in after the upgrade from 7 did not migrate the service's user $name"
    [ "$(reg_value "HKLM\\Software\\ZelStandIns\\UserManager\\Users\\$name" Startup)" = "$(printf '0x%x' "$startup")" ] ||
      fail "the platform's user $name has not the startup flag $startup after the migration"
  done <<< "al 0
bea 1
cy 0"
  # The migration consumed its marker and the startup user.
  ! run reg query 'HKLM\Software\Varant\temp' >/dev/null 2>&1 || fail "the migration left its marker"
  [ -z "$(reg_value 'HKLM\Software\Varant\ZEL' StartUp)" ] || fail "the StartUp value was left behind"
}

# The product in use: the service holds the event handler, the platform the bridge, an alert the
# alerter. The upgrade moves them aside, puts the new files at their names and asks for a restart;
# new processes get the new files at once; the restart deletes the old ones.
case_upgrade_in_use() {
  run_installer_expecting 0 "$older" /LOG='C:\older.log'
  hold old "$product_win\\zelevh.dll" "$product_win\\ZelTARN.dll" "$product_win\\KyAlert.exe"
  run_installer_expecting 3010 "$installer" /LOG='C:\setup.log'
  local file
  for file in zelevh.dll ZelTARN.dll KyAlert.exe; do
    expect_log "$drive/setup.log" "In use, deleted at the next restart: $product_win\\$file."
  done
  expect_log "$drive/setup.log" "ZEL $version installed (restart needed to finish)"
  expect_installed "$version"
  expect_build_files
  [ "$(moved_aside_files | wc -l)" = 3 ] || fail "not the three files in use moved aside: $(moved_aside_files)"
  hold new "$product_win\\zelevh.dll" "$product_win\\ZelTARN.dll" "$product_win\\KyAlert.exe"
  for file in zelevh.dll ZelTARN.dll KyAlert.exe; do
    [ "$(held_file_id new "$file")" != "$(held_file_id old "$file")" ] ||
      fail "a new process got the old $file"
  done
  # The product works with the new files while the old ones are still held.
  run "$product_win\\GSEventSource.exe" KeywordBlocked pid=self content=0 pattern=poker url=http://cards.example.com/ \
    >/dev/null || fail "the service's event source failed"
  wait_for "the report-log entry of the blocked keyword" report_log_has 'poker'
  restart_machine
  [ -z "$(moved_aside_files)" ] || fail "moved-aside files left after the restart: $(moved_aside_files)"
  expect_build_files
}

# Runs the uninstall command the installed-programs entry keeps in value $1, as written and
# followed by $2 (its name in messages: $3), and expects exit code $4 and the entry gone once the
# command has returned.
run_entry_command() {
  local entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEL' command
  command=$(reg_value "$entry" "$1")
  run_command_line "$command$2"
  [ "$exit_code" = "$4" ] || fail "the entry's $3 ended with $exit_code, not $4"
  ! run reg query "$entry" >/dev/null 2>&1 || fail "the entry is still there when the uninstall command returned"
}

# Uninstalled by the installed-programs entry's quiet command, run as written, while the service
# holds the event handler: the command returns when the removal is over, with 3010; the restart
# leaves nothing of the product.
case_uninstall_in_use() {
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  hold service "$product_win\\zelevh.dll"
  # Returned only when over: the entry is gone already, and so is every file not in use.
  run_entry_command QuietUninstallString "" "quiet uninstall command" 3010
  # Run as written, the command logs where the uninstaller logs by default, in TEMP.
  local log
  log=$(find "$drive" -name ZEL-Uninstall.log | head -n 1)
  expect_log "$log" "In use, deleted at the next restart: $product_win\\zelevh.dll."
  expect_log "$log" "ZEL uninstalled (restart needed to finish)"
  product_files | grep -qx zelevh.dll && fail "zelevh.dll is still at its name after the uninstall"
  restart_machine
  expect_nothing_installed
}

# The plain uninstall command followed by /S waits as well, and a removal with nothing in use asks
# for no restart. The uninstaller it runs leaves its own file to the restart: installed again
# before that restart, the product keeps its new uninstaller through it.
case_uninstall_command() {
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  run_entry_command UninstallString " /S" "uninstall command with /S" 0
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  restart_machine
  expect_installed "$version"
}

# An unregistration refused during the removal: nothing is deleted and the entry stays, so that
# the removal can be run again, and then it succeeds.
case_failed_uninstall() {
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  local service='HKLM\Software\ZelStandIns\Service'
  run reg add "$service" /v OpenProduct.HResult /t REG_DWORD /d 0x80070005 /f >/dev/null
  run_uninstaller_expecting 3 /LOG='C:\uninstall.log'
  expect_log "$drive/uninstall.log" "FAILED: unregistering $product_win\\zelevh.dll"
  if grep -qF "ZEL uninstalled" "$drive/uninstall.log"; then fail "uninstall.log says uninstalled"; fi
  local file
  for file in "${installed_files[@]}"; do
    [ -f "$product/$file" ] || fail "the failed uninstall deleted $file"
  done
  [ "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEL' DisplayVersion)" = "$version" ] ||
    fail "the failed uninstall removed the installed-programs entry"
  [ "$(reg_value 'HKLM\Software\Varant\ZEL' 'Install Dir')" = "$product_win" ] || fail 'the failed uninstall removed "Install Dir"'
  run reg delete "$service" /v OpenProduct.HResult /f >/dev/null
  run_uninstaller_expecting 0 /LOG='C:\uninstall.log'
  expect_log "$drive/uninstall.log" "ZEL uninstalled"
}

# The older installer over the newer version refuses and changes nothing.
case_older_over_newer() {
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  run_installer_expecting 1638 "$older" /LOG='C:\older.log'
  expect_log "$drive/older.log" "ZEL $version is installed, newer than $older_version: nothing was changed"
  expect_installed "$version"
  expect_build_files
  product_files > "$work/files-after"
  diff "$work/files-before" "$work/files-after" >&2 || fail "the refused installer changed the product folder (diff above)"
  registry_dump > "$work/after.reg"
  diff "$work/before.reg" "$work/after.reg" >&2 || fail "the refused installer changed the registry (diff above)"
}

# While another setup or removal runs (it holds the setup's mutex), the installer and the
# uninstaller refuse with 1618 and change nothing.
case_another_setup_running() {
  run_installer_expecting 0 "$installer" /LOG='C:\setup.log'
  registry_dump > "$work/before.reg"
  product_files > "$work/files-before"
  hold setup 'mutex:Global\ZelSetupRunning'
  run_installer_expecting 1618 "$installer" /LOG='C:\second.log'
  run_uninstaller_expecting 1618 /LOG='C:\uninstall.log'
  product_files > "$work/files-after"
  diff "$work/files-before" "$work/files-after" >&2 || fail "a refused run changed the product folder (diff above)"
  registry_dump > "$work/after.reg"
  diff "$work/before.reg" "$work/after.reg" >&2 || fail "a refused run changed the registry (diff above)"
  [ ! -f "$drive/uninstall.log" ] || fail "the refused uninstaller wrote a log (the running one's, by its name)"
}

# Runs the installer where a step is meant to fail: it ends with 3 and its log names the step.
expect_refused_install() {
  run_installer_expecting 3 "$installer" /LOG='C:\setup.log'
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
  run_installer_expecting 0 "$older" /LOG='C:\older.log'
  # The older version's unregistration opens the event registry first; the new one's registration
  # is refused once.
  local service='HKLM\Software\ZelStandIns\Service'
  run reg add "$service" /v OpenProduct.HResult /t REG_DWORD /d 0x80070005 /f >/dev/null
  run reg add "$service" /v OpenProduct.After /t REG_DWORD /d 1 /f >/dev/null
  run reg add "$service" /v OpenProduct.Times /t REG_DWORD /d 1 /f >/dev/null
  expect_refused_install "FAILED: registering zelevh.dll"
  expect_log "$drive/setup.log" "Restoring ZEL $older_version"
  if grep -q "Rollback failed" "$drive/setup.log"; then fail "the older version was not restored"; fi
  expect_installed "$older_version"
  ! run reg query 'HKLM\Software\Varant\temp' >/dev/null 2>&1 || fail "a failed upgrade left the upgrade marker"
}

# When undoing a failed upgrade fails too (the event registry keeps refusing, also the older
# version's registration again), the installer says so and what was left, and exits 4.
case_failed_rollback() {
  run_installer_expecting 0 "$older" /LOG='C:\older.log'
  local service='HKLM\Software\ZelStandIns\Service'
  run reg add "$service" /v OpenProduct.HResult /t REG_DWORD /d 0x80070005 /f >/dev/null
  run reg add "$service" /v OpenProduct.After /t REG_DWORD /d 1 /f >/dev/null
  run_installer_expecting 4 "$installer" /LOG='C:\setup.log'
  expect_log "$drive/setup.log" "FAILED: registering zelevh.dll"
  expect_log "$drive/setup.log" "Rollback failed; left:"
  if grep -qF "Rolled back" "$drive/setup.log"; then fail "setup.log says rolled back"; fi
}

start_prefix
"case_${case_name//-/_}"
echo "installer test $case_name: passed"
