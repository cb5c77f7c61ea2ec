; ZEL's installer: puts the product's deliverables into Program Files\Varant\ZEL, registers them
; (the event handlers bind themselves to the service's events in their own DllRegisterServer, so the
; service must be installed first), lists the product among the installed programs and, over a
; version from before 8, marks the service's users for their migration to the platform. Silent with /S.
;
; Command line (besides /S and /D=FOLDER, which an upgrade ignores: it upgrades where it is):
;   /LOG=FILE        where the log goes (default %TEMP%\ZEL-Setup.log, %TEMP%\ZEL-Uninstall.log)
;   /STARTUP=NAME    the service user the migration marks as the platform's startup user
;                    (default: the installing account's name)
; Exit codes of the installer and the uninstaller (README.md lists them too):
;   0     done
;   3010  done; files still in use were moved aside and are deleted at the next restart
;   3     a step failed; everything this run did was undone (the log says which step and why); the
;         uninstaller removed nothing and can be run again
;   4     a step failed and undoing it failed too (the log says what was left)
;   740   not run elevated
;   1618  another run of the installer or the uninstaller is under way
;   1638  a newer version is installed; nothing was changed
; Files in use (the service holds zelevh.dll, the platform ZelTARN.dll, an alert KyAlert.exe) cannot
; be written or deleted, but they can be renamed: each is moved aside within the product's folder,
; its processes keep it until they let it go, and the next restart deletes it.
;
; Built by CMake (zel_installer) with makensis -DZEL_VERSION=x.y.z.w -DZEL_BIN=<folder of the built
; binaries> -DZEL_OUTPUT=<exe> "-DZEL_SIGN=<sign command>".

Target amd64-unicode
Unicode true
ManifestSupportedOS all

!ifndef ZEL_VERSION | ZEL_BIN | ZEL_OUTPUT | ZEL_SIGN
  !error "ZelSetup.nsi needs -DZEL_VERSION, -DZEL_BIN, -DZEL_OUTPUT and -DZEL_SIGN"
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define PRODUCT "ZEL"
!define PUBLISHER "Varant"
!define PRODUCT_KEY "Software\Varant\ZEL"
!define UPGRADE_KEY "Software\Varant\temp"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEL"
!define CLASSES "Software\Classes\CLSID"
; One class of each server: present after its registration, gone after its unregistration.
!define EVENT_HANDLER_CLASS "{50B3C7E2-1E4E-42CB-8F11-734A87E18F25}"
!define BRIDGE_CLASS "{769ED09C-B51F-4920-9A6F-EA7C4C8921AD}"
!define ALERTER_CLASS "{E9915456-A831-4B82-AFE3-30E7F45F9483}"
; The service's users move to the platform only when coming from a product older than this major
; version, which kept its users in the service alone.
!define MIGRATION_BEFORE_MAJOR 8
; Held by whichever installer or uninstaller runs, so that a second one is refused.
!define SETUP_MUTEX "Global\ZelSetupRunning"
; What a moved-aside file's name ends with: "<file>.<run>.moved" beside the file it was.
!define MOVED_ASIDE ".moved"
!define MOVEFILE_DELAY_UNTIL_REBOOT 4
!define ERROR_ALREADY_EXISTS 183
!define ERROR_STEP_FAILED 3
!define ERROR_ROLLBACK_FAILED 4
!define ERROR_ELEVATION_REQUIRED 740
!define ERROR_INSTALL_ALREADY_RUNNING 1618
!define ERROR_PRODUCT_VERSION 1638
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010

Name "${PRODUCT}"
OutFile "${ZEL_OUTPUT}"
InstallDir "$PROGRAMFILES64\Varant\ZEL"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PUBLISHER} ${PRODUCT} ${ZEL_VERSION}"

VIProductVersion "${ZEL_VERSION}"
VIFileVersion "${ZEL_VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${ZEL_VERSION}"
VIAddVersionKey "ProductVersion" "${ZEL_VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

; The installer and the uninstaller it carries are signed like every module they install; an
; installer whose signing failed is no installer, and the build fails with it.
!finalize '${ZEL_SIGN} "%1"' = 0
!uninstfinalize '${ZEL_SIGN} "%1"' = 0

Page directory SkipFolderOnUpgrade
Page instfiles
UninstPage instfiles

Var LogFile
Var Failure          ; what the failed step says; empty while every step succeeds
Var PreviousVersion  ; the version installed before this run, empty when none
Var PreviousDir
Var StartupUser
Var RunId            ; tells this run's moved-aside files from an earlier run's
Var RestartNeeded    ; "1" once a file in use was left for the next restart to delete
; What this run did, for the rollback.
Var CopiedFiles
Var TriedEventHandler
Var TriedBridge
Var TriedAlerter
Var WroteInstallDir
Var UnregisteredPrevious
Var MovedPrevious
Var RollbackLeft     ; what the rollback could not undo
; The server or file a function works on (they call each other, never themselves).
Var ArgFolder
Var ArgFile
Var ArgClass
Var ArgKind
Var ArgTag           ; the run part of the moved-aside names a function works on

; ---------------------------------------------------------------------------------------------
; Shared by the installer and the uninstaller ("un." functions are the uninstaller's copies).

!macro ZelLog text
  Push `${text}`
  !ifdef __UNINSTALL__
    Call un.Log
  !else
    Call Log
  !endif
!macroend
!define Log "!insertmacro ZelLog"

; Calls FUNCTION (with the prefix) once for each file of the product, named in $ArgFile.
!macro ForEachProductFile prefix function
  !insertmacro OnProductFile "${prefix}" "${function}" "zelevh.dll"
  !insertmacro OnProductFile "${prefix}" "${function}" "ZelTARN.dll"
  !insertmacro OnProductFile "${prefix}" "${function}" "KyAlert.exe"
  !insertmacro OnProductFile "${prefix}" "${function}" "KyLogCfg.exe"
  !insertmacro OnProductFile "${prefix}" "${function}" "ZelRes2.DLL"
  !insertmacro OnProductFile "${prefix}" "${function}" "Uninstall.exe"
!macroend
!macro OnProductFile prefix function file
  StrCpy $ArgFile "${file}"
  Call ${prefix}${function}
!macroend

; Ends a run before it changed anything: a message unless silent, the exit code.
!macro Refuse code message
  MessageBox MB_ICONSTOP|MB_OK `${message}` /SD IDOK
  SetErrorLevel ${code}
  Quit
!macroend

; The checks every run makes before it touches anything: elevated, and alone. The mutex stays held
; until the process ends.
!macro RefuseUnlessElevatedAndAlone what
  System::Call 'shell32::IsUserAnAdmin() i .r0'
  ${If} $0 == 0
    !insertmacro Refuse ${ERROR_ELEVATION_REQUIRED} "${PRODUCT} ${what} needs to run as an administrator (elevated)."
  ${EndIf}
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r0 ?e'
  Pop $1
  ${If} $0 == 0
  ${OrIf} $1 == ${ERROR_ALREADY_EXISTS}
    !insertmacro Refuse ${ERROR_INSTALL_ALREADY_RUNNING} \
      "Another ${PRODUCT} setup or removal is running. Try again when it has finished."
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .r0'
  System::Call 'kernel32::GetTickCount() i .r1'
  StrCpy $RunId "$0-$1"
!macroend

!macro SharedFunctions prefix
; Appends a line to the log file and to the details view.
Function ${prefix}Log
  Exch $0
  Push $1
  DetailPrint $0
  ClearErrors
  FileOpen $1 $LogFile a
  ${IfNot} ${Errors}
    FileSeek $1 0 END
    FileWrite $1 "$0$\r$\n"
    FileClose $1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Starts the log named by /LOG= (or the default given on the stack).
Function ${prefix}OpenLog
  Exch $0
  Push $1
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/LOG=" $LogFile
  ${If} ${Errors}
  ${OrIf} $LogFile == ""
    StrCpy $LogFile $0
  ${EndIf}
  Delete $LogFile
  Pop $1
  Pop $0
FunctionEnd

; Runs a command line and waits for it. Stack: command line; returns its exit code, or "error" when
; it could not be started.
Function ${prefix}RunCommand
  Exch $0
  Push $1
  Push $2
  StrCpy $1 0
  ${Do}
    ClearErrors
    ExecWait $0 $2
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    ; A program just written or just ended may still be held for a moment: try again before giving up.
    IntOp $1 $1 + 1
    ${If} $1 >= 5
      StrCpy $2 "error"
      ${Break}
    ${EndIf}
    ${Log} "  Could not start $0, trying again"
    Sleep 1000
  ${Loop}
  StrCpy $0 $2
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Whether $ArgClass is registered to its server kind ($ArgKind): $R9 is "1" or "".
Function ${prefix}ClassIsRegistered
  ${If} $ArgKind == "library"
    ReadRegStr $R9 HKLM "${CLASSES}\$ArgClass\InprocServer32" ""
  ${Else}
    ReadRegStr $R9 HKLM "${CLASSES}\$ArgClass\LocalServer32" ""
  ${EndIf}
  ${If} $R9 != ""
    StrCpy $R9 "1"
  ${EndIf}
FunctionEnd

; Undoes one server's registration: $ArgFile in $ArgFolder, whose class $ArgClass is of $ArgKind
; ("library" or "server"). Leaves $Failure describing it when the class stays registered.
Function ${prefix}UnregisterServer
  ${IfNot} ${FileExists} "$ArgFolder\$ArgFile"
    Return
  ${EndIf}
  ${If} $ArgKind == "library"
    Push '"$SYSDIR\regsvr32.exe" /s /u "$ArgFolder\$ArgFile"'
  ${Else}
    Push '"$ArgFolder\$ArgFile" /UnregServer'
  ${EndIf}
  Call ${prefix}RunCommand
  Pop $R8
  Call ${prefix}ClassIsRegistered
  ${If} $R9 == "1"
    StrCpy $Failure "unregistering $ArgFolder\$ArgFile (exit code $R8) left its class $ArgClass registered"
    ${Log} "  $Failure"
  ${Else}
    ${Log} "  Unregistered $ArgFolder\$ArgFile"
  ${EndIf}
FunctionEnd

; Unregisters the product's servers in a folder (stack: folder), the alerter and the bridge before
; the event handlers, the reverse of their registration.
Function ${prefix}UnregisterProduct
  Exch $0
  !insertmacro UnregisterOne "${prefix}" $0 "KyAlert.exe" "${ALERTER_CLASS}" "server"
  !insertmacro UnregisterOne "${prefix}" $0 "ZelTARN.dll" "${BRIDGE_CLASS}" "library"
  !insertmacro UnregisterOne "${prefix}" $0 "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library"
  Pop $0
FunctionEnd

; Moves $ArgFile of $INSTDIR aside, to its moved-aside name under $ArgTag; does nothing once
; $Failure is set, and sets it when the file cannot be renamed. The uninstaller running from the
; product's folder keeps its own file open, which forbids renaming it: it stays at its name.
Function ${prefix}MoveAside
  ${If} $Failure != ""
  ${OrIfNot} ${FileExists} "$INSTDIR\$ArgFile"
  ${OrIf} $EXEPATH == "$INSTDIR\$ArgFile"
    Return
  ${EndIf}
  ClearErrors
  Rename "$INSTDIR\$ArgFile" "$INSTDIR\$ArgFile.$ArgTag${MOVED_ASIDE}"
  ${If} ${Errors}
    StrCpy $Failure "moving $INSTDIR\$ArgFile aside"
  ${EndIf}
FunctionEnd

; Puts the file moved aside under $ArgTag back at its name $ArgFile; what cannot be put back is
; added to $RollbackLeft.
Function ${prefix}PutBack
  ${IfNot} ${FileExists} "$INSTDIR\$ArgFile.$ArgTag${MOVED_ASIDE}"
    Return
  ${EndIf}
  ClearErrors
  Rename "$INSTDIR\$ArgFile.$ArgTag${MOVED_ASIDE}" "$INSTDIR\$ArgFile"
  ${If} ${Errors}
    StrCpy $RollbackLeft "$RollbackLeft $INSTDIR\$ArgFile.$ArgTag${MOVED_ASIDE} (not put back as $ArgFile);"
  ${EndIf}
FunctionEnd

; Deletes the file moved aside under $ArgTag or, while a process still holds it, has the next
; restart delete it. The uninstaller that runs from the product's folder (at its own name) is the
; one file the restart deletes without the product needing it: it alone does not ask for a restart.
Function ${prefix}Discard
  StrCpy $R7 "$INSTDIR\$ArgFile.$ArgTag${MOVED_ASIDE}"
  ${If} $EXEPATH == "$INSTDIR\$ArgFile"
    StrCpy $R7 $EXEPATH
  ${EndIf}
  ${IfNot} ${FileExists} $R7
    Return
  ${EndIf}
  Delete $R7
  ${IfNot} ${FileExists} $R7
    Return
  ${EndIf}
  System::Call 'kernel32::MoveFileExW(w R7, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .R6 ?e'
  Pop $R5
  ${If} $R6 == 0
    ${Log} "  In use, and could not be scheduled for deletion (error $R5): $R7; a later setup deletes it"
  ${ElseIf} $EXEPATH == "$INSTDIR\$ArgFile"
    ${Log} "  This uninstaller, deleted at the next restart: $R7"
  ${Else}
    StrCpy $RestartNeeded "1"
    ${Log} "  In use, deleted at the next restart: $R7"
  ${EndIf}
FunctionEnd

; Moves every file of the product in $INSTDIR aside under $ArgTag. When one cannot be moved, those
; that were are put back, and $Failure says which one could not.
Function ${prefix}MoveProductAside
  !insertmacro ForEachProductFile "${prefix}" MoveAside
  ${If} $Failure != ""
    !insertmacro ForEachProductFile "${prefix}" PutBack
  ${EndIf}
FunctionEnd

; Removes the files of the product from $INSTDIR, those in use at the next restart, and the folder
; when nothing else (the service's files, say) is left in it. $Failure names a file that could not
; be moved aside; then every file is where it was.
Function ${prefix}RemoveProductFiles
  Call ${prefix}MoveProductAside
  ${If} $Failure != ""
    Return
  ${EndIf}
  !insertmacro ForEachProductFile "${prefix}" Discard
  RMDir $INSTDIR
FunctionEnd

; Deletes what earlier runs moved aside and their processes have since let go.
Function ${prefix}RemoveStaleMovedAside
  FindFirst $R6 $R7 "$INSTDIR\*${MOVED_ASIDE}"
  ${DoWhile} $R7 != ""
    Delete "$INSTDIR\$R7"
    FindNext $R6 $R7
  ${Loop}
  FindClose $R6
FunctionEnd

; Removes what the product keeps in the registry besides its classes: its folder's value, the
; upgrade's marker and the entry among the installed programs. Its settings stay.
Function ${prefix}RemoveProductKeys
  DeleteRegValue HKLM "${PRODUCT_KEY}" "Install Dir"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "StartUp"
  DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
  DeleteRegKey HKLM "${UPGRADE_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
FunctionEnd

; The exit code of a run whose every step succeeded.
Function ${prefix}SetSuccessCode
  ${If} $RestartNeeded == "1"
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${Else}
    SetErrorLevel 0
  ${EndIf}
FunctionEnd
!macroend

!macro UnregisterOne prefix folder file class kind
  StrCpy $ArgFolder "${folder}"
  StrCpy $ArgFile "${file}"
  StrCpy $ArgClass "${class}"
  StrCpy $ArgKind "${kind}"
  Call ${prefix}UnregisterServer
!macroend

; " (restart needed to finish)" when a file is left for the next restart, else nothing.
!macro RestartNote var
  StrCpy ${var} ""
  ${If} $RestartNeeded == "1"
    StrCpy ${var} " (restart needed to finish)"
  ${EndIf}
!macroend

!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---------------------------------------------------------------------------------------------
; The installer.

Function .onInit
  SetRegView 64
  !insertmacro RefuseUnlessElevatedAndAlone "setup"
  InitPluginsDir
  Push "$TEMP\ZEL-Setup.log"
  Call OpenLog
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/STARTUP=" $StartupUser
  ${If} ${Errors}
    ReadEnvStr $StartupUser "USERNAME"
  ${EndIf}
  Call FindPreviousVersion
  ${If} $PreviousVersion == ""
    Return
  ${EndIf}
  ${VersionCompare} $PreviousVersion "${ZEL_VERSION}" $0
  ${If} $0 == "1"
    ${Log} "${PRODUCT} $PreviousVersion is installed, newer than ${ZEL_VERSION}: nothing was changed"
    !insertmacro Refuse ${ERROR_PRODUCT_VERSION} \
      "${PRODUCT} $PreviousVersion is installed, which is newer than ${ZEL_VERSION}. Nothing was changed."
  ${EndIf}
  ; An installed product is upgraded where it is.
  ${If} $INSTDIR != $PreviousDir
  ${AndIf} $INSTDIR != "$PROGRAMFILES64\Varant\ZEL"
    ${Log} "/D=$INSTDIR ignored: ${PRODUCT} $PreviousVersion is upgraded where it is installed, $PreviousDir"
  ${EndIf}
  StrCpy $INSTDIR $PreviousDir
FunctionEnd

; The version installed before: the installed-programs entry's, or, with no entry, the file version
; of the event handler in "Install Dir". Empty when there is none (no "Install Dir", or no version).
Function FindPreviousVersion
  ReadRegStr $PreviousDir HKLM "${PRODUCT_KEY}" "Install Dir"
  ${If} $PreviousDir == ""
    Return
  ${EndIf}
  ReadRegStr $PreviousVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $PreviousVersion != ""
    Return
  ${EndIf}
  ClearErrors
  GetDLLVersion "$PreviousDir\zelevh.dll" $R0 $R1
  ${If} ${Errors}
    Return
  ${EndIf}
  IntOp $R2 $R0 >> 16
  IntOp $R3 $R0 & 0xFFFF
  IntOp $R4 $R1 >> 16
  IntOp $R5 $R1 & 0xFFFF
  StrCpy $PreviousVersion "$R2.$R3.$R4.$R5"
FunctionEnd

Function SkipFolderOnUpgrade
  ${If} $PreviousVersion != ""
    Abort
  ${EndIf}
FunctionEnd

; Ends the run after a failed step: undoes it, says what failed (in a message too, unless silent).
!macro FailIfStepFailed
  ${If} $Failure != ""
    Call Fail
  ${EndIf}
!macroend

; Register FILE CLASS KIND TRIED: registers a server with its own code, then checks that its class
; is there. regsvr32 exits 0 when DllRegisterServer says S_FALSE, which the event handlers answer
; when the service refuses their bindings, so the exit code alone cannot tell.
!macro Register file class kind tried
  StrCpy ${tried} "1"
  StrCpy $ArgFolder $INSTDIR
  StrCpy $ArgFile "${file}"
  StrCpy $ArgClass "${class}"
  StrCpy $ArgKind "${kind}"
  Call RegisterServer
!macroend

Function Fail
  ${Log} "FAILED: $Failure"
  StrCpy $R0 $Failure
  ${Log} "Rolling back"
  Call Rollback
  ${If} $RollbackLeft != ""
    ${Log} "Rollback failed; left:$RollbackLeft"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} ${ZEL_VERSION} could not be installed: $R0$\r$\n$\r$\nUndoing setup failed \
                                  too; what was left is in the log: $LogFile" /SD IDOK
    SetErrorLevel ${ERROR_ROLLBACK_FAILED}
  ${Else}
    ${Log} "Rolled back; ${PRODUCT} ${ZEL_VERSION} was not installed"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} ${ZEL_VERSION} could not be installed: $R0$\r$\n$\r$\nEverything setup \
                                  did was undone. The log: $LogFile" /SD IDOK
    SetErrorLevel ${ERROR_STEP_FAILED}
  ${EndIf}
  Quit
FunctionEnd

Section "ZEL"
  ${Log} "${PRODUCT} ${ZEL_VERSION} setup into $INSTDIR"
  Call RemoveStaleMovedAside
  ${If} $PreviousVersion != ""
    ${Log} "Found ${PRODUCT} $PreviousVersion in $PreviousDir"
    Call UnregisterPrevious
    !insertmacro FailIfStepFailed
    Call MovePreviousAside
    !insertmacro FailIfStepFailed
  ${EndIf}
  Call CopyProductFiles
  !insertmacro FailIfStepFailed
  Call WriteInstallDir
  !insertmacro FailIfStepFailed
  !insertmacro Register "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library" $TriedEventHandler
  !insertmacro FailIfStepFailed
  !insertmacro Register "ZelTARN.dll" "${BRIDGE_CLASS}" "library" $TriedBridge
  !insertmacro FailIfStepFailed
  !insertmacro Register "KyAlert.exe" "${ALERTER_CLASS}" "server" $TriedAlerter
  !insertmacro FailIfStepFailed
  Call WriteUninstallEntry
  !insertmacro FailIfStepFailed
  Call MarkUsersForMigration
  ${If} $MovedPrevious == "1"
    ${Log} "Deleting ${PRODUCT} $PreviousVersion's files"
    StrCpy $ArgTag $RunId
    !insertmacro ForEachProductFile "" Discard
  ${EndIf}
  !insertmacro RestartNote $0
  ${Log} "${PRODUCT} ${ZEL_VERSION} installed$0"
  Call SetSuccessCode
SectionEnd

; An older version's servers are unregistered with its own files, which stay in place (then aside)
; until the new ones are registered, so that a failure can put the older version back.
Function UnregisterPrevious
  StrCpy $UnregisteredPrevious "1"
  ${Log} "Unregistering ${PRODUCT} $PreviousVersion"
  Push $PreviousDir
  Call UnregisterProduct
  ${If} $Failure != ""
    StrCpy $Failure "the installed version: $Failure"
  ${EndIf}
FunctionEnd

; The older version's files make way for the new ones, also those its processes still run.
Function MovePreviousAside
  ${Log} "Moving ${PRODUCT} $PreviousVersion's files aside"
  StrCpy $ArgTag $RunId
  Call MoveProductAside
  ${If} $Failure == ""
    StrCpy $MovedPrevious "1"
  ${EndIf}
FunctionEnd

!macro InstallFile file
  ClearErrors
  File "${ZEL_BIN}/${file}"
  ${If} ${Errors}
    StrCpy $Failure "copying ${file} to $INSTDIR (is it in use?)"
    Return
  ${EndIf}
!macroend

Function CopyProductFiles
  ${Log} "Copying files to $INSTDIR"
  ClearErrors
  CreateDirectory $INSTDIR
  ${If} ${Errors}
    StrCpy $Failure "creating $INSTDIR"
    Return
  ${EndIf}
  Call ForgetScheduledDeletions
  SetOutPath $INSTDIR
  SetOverwrite try
  StrCpy $CopiedFiles "1"
  !insertmacro InstallFile "zelevh.dll"
  !insertmacro InstallFile "ZelTARN.dll"
  !insertmacro InstallFile "KyAlert.exe"
  !insertmacro InstallFile "KyLogCfg.exe"
  !insertmacro InstallFile "ZelRes2.DLL"
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    StrCpy $Failure "writing $INSTDIR\Uninstall.exe"
  ${EndIf}
FunctionEnd

; An uninstaller run from the product's folder left its own file, and the folder, for the next
; restart to delete; those deletions go by name, so they would delete what this run puts there.
; They are taken out of the machine's list of what the restart does.
!define SESSION_MANAGER_KEY "System\CurrentControlSet\Control\Session Manager"
!define PENDING_OPERATIONS "PendingFileRenameOperations"
Function ForgetScheduledDeletions
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SESSION_MANAGER_KEY}", i 0, i 0x2001B, *p .r1) i .r0'
  ${If} $0 != 0
    Return
  ${EndIf}
  System::Call 'advapi32::RegQueryValueExW(p r1, w "${PENDING_OPERATIONS}", p 0, *i .r2, p 0, *i 0 r3) i .r0'
  ${If} $0 != 0
  ${OrIf} $3 < 4
    System::Call 'advapi32::RegCloseKey(p r1)'
    Return
  ${EndIf}
  IntOp $5 $3 + 4
  System::Alloc $5
  Pop $4
  System::Alloc $5
  Pop $6
  System::Call 'advapi32::RegQueryValueExW(p r1, w "${PENDING_OPERATIONS}", p 0, *i .r2, p r4, *i r3 r3) i .r0'
  ; The value is pairs of texts, a file and what it becomes (empty: deleted), then an empty text.
  ; $7 reads the pairs, $8 writes those that stay, $9 counts what was read.
  StrCpy $7 $4
  StrCpy $8 $6
  StrCpy $9 0
  StrCpy $R9 ""
  ${DoWhile} $0 == 0
    IntOp $R0 $9 + 4
    ${If} $R0 > $3
      ${Break}
    ${EndIf}
    System::Call 'kernel32::lstrlenW(p r7) i .R1'
    ${If} $R1 == 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::lstrcpynW(w .R2, p r7, i ${NSIS_MAX_STRLEN})'
    IntOp $R3 $R1 + 1
    IntOp $R3 $R3 * 2
    System::Int64Op $7 + $R3
    Pop $R4
    System::Call 'kernel32::lstrlenW(p R4) i .R5'
    IntOp $R6 $R5 + 1
    IntOp $R6 $R6 * 2
    IntOp $R6 $R6 + $R3
    StrCpy $R7 ""
    ${If} $R5 == 0
      ${If} $R2 == "\??\$INSTDIR\Uninstall.exe"
      ${OrIf} $R2 == "\??\$INSTDIR"
        StrCpy $R7 "1"
      ${EndIf}
    ${EndIf}
    ${If} $R7 == "1"
      StrCpy $R9 "1"
      ${Log} "  A deletion at the next restart that would remove this setup's files was dropped: $R2"
    ${Else}
      System::Call 'kernel32::RtlMoveMemory(p r8, p r7, i R6)'
      System::Int64Op $8 + $R6
      Pop $8
    ${EndIf}
    System::Int64Op $7 + $R6
    Pop $7
    IntOp $9 $9 + $R6
  ${Loop}
  ${If} $R9 == "1"
    System::Int64Op $8 - $6
    Pop $R0
    ${If} $R0 == 0
      System::Call 'advapi32::RegDeleteValueW(p r1, w "${PENDING_OPERATIONS}")'
    ${Else}
      IntOp $R0 $R0 + 2
      System::Call 'advapi32::RegSetValueExW(p r1, w "${PENDING_OPERATIONS}", i 0, i 7, p r6, i R0)'
    ${EndIf}
  ${EndIf}
  System::Free $4
  System::Free $6
  System::Call 'advapi32::RegCloseKey(p r1)'
FunctionEnd

Function WriteInstallDir
  ClearErrors
  StrCpy $WroteInstallDir "1"
  WriteRegStr HKLM "${PRODUCT_KEY}" "Install Dir" $INSTDIR
  ${If} ${Errors}
    StrCpy $Failure 'writing "Install Dir" under HKLM\${PRODUCT_KEY}'
  ${EndIf}
FunctionEnd


Function RegisterServer
  ${Log} "Registering $ArgFile"
  ${If} $ArgKind == "library"
    Push '"$SYSDIR\regsvr32.exe" /s "$ArgFolder\$ArgFile"'
  ${Else}
    Push '"$ArgFolder\$ArgFile" /RegServer'
  ${EndIf}
  Call RunCommand
  Pop $R8
  ${If} $R8 != "0"
    StrCpy $Failure "registering $ArgFile: exit code $R8"
    Return
  ${EndIf}
  Call ClassIsRegistered
  ${If} $R9 != "1"
    StrCpy $Failure "registering $ArgFile: its class $ArgClass is not registered afterwards (for the event \
                     handlers: the service refused their bindings, or is not installed; see the ZelEventHandler \
                     diagnostic log)"
  ${EndIf}
FunctionEnd

; The uninstall commands run the uninstaller where it is installed ("_?=", which NSIS wants last and
; unquoted), so that whoever runs them waits for the removal and gets its exit code; the plain
; command may be followed by /S.
Function WriteUninstallEntry
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${ZEL_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KyAlert.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  StrCpy $R4 0
  !insertmacro ForEachProductFile "" AddFileSize
  IntOp $R4 $R4 + 1023
  IntOp $R4 $R4 / 1024
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $R4
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallDate" "$2$1$0"
  ${If} ${Errors}
    StrCpy $Failure "writing the installed-programs entry HKLM\${UNINSTALL_KEY}"
  ${EndIf}
FunctionEnd

; Adds the size in bytes of $ArgFile in $INSTDIR to $R4.
Function AddFileSize
  ClearErrors
  FileOpen $R5 "$INSTDIR\$ArgFile" r
  ${IfNot} ${Errors}
    FileSeek $R5 0 END $R6
    FileClose $R5
    IntOp $R4 $R4 + $R6
  ${EndIf}
FunctionEnd

; Over a product from before version 8, which kept its users in the service alone, the event
; handler moves the service's users to the platform at the next sign-in-required event the service
; raises, when the marker says so. Between releases of 8 the users and the administrator's settings
; are the parent's and stay as they are.
Function MarkUsersForMigration
  ${If} $PreviousVersion == ""
    Return
  ${EndIf}
  ${WordFind} $PreviousVersion "." "+1" $0
  IntOp $0 $0 + 0
  ${If} $0 >= ${MIGRATION_BEFORE_MAJOR}
    ${Log} "No users' migration: $PreviousVersion and ${ZEL_VERSION} are both version ${MIGRATION_BEFORE_MAJOR}"
    Return
  ${EndIf}
  WriteRegDWORD HKLM "${UPGRADE_KEY}" "UpgradeUsers" 1
  ; The handler reads at most 31 characters and marks nobody for a longer name.
  StrLen $0 $StartupUser
  ${If} $0 > 0
  ${AndIf} $0 < 32
    WriteRegStr HKLM "${PRODUCT_KEY}" "StartUp" $StartupUser
    ${Log} "Upgrade from $PreviousVersion: the service's users move to the platform at the next sign-in, \
            startup user $StartupUser"
  ${Else}
    ${Log} "Upgrade from $PreviousVersion: the service's users move to the platform at the next sign-in, \
            no startup user"
  ${EndIf}
FunctionEnd

; Undoes what this run did, the reverse of the steps: a failed registration may have left part of
; itself (bindings without classes), so every server whose registration was tried is unregistered.
; What cannot be undone is listed in $RollbackLeft.
Function Rollback
  StrCpy $Failure ""
  StrCpy $RollbackLeft ""
  ${If} $TriedAlerter == "1"
    !insertmacro UnregisterOne "" $INSTDIR "KyAlert.exe" "${ALERTER_CLASS}" "server"
  ${EndIf}
  ${If} $TriedBridge == "1"
    !insertmacro UnregisterOne "" $INSTDIR "ZelTARN.dll" "${BRIDGE_CLASS}" "library"
  ${EndIf}
  ${If} $TriedEventHandler == "1"
    !insertmacro UnregisterOne "" $INSTDIR "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library"
  ${EndIf}
  ${If} $Failure != ""
    StrCpy $RollbackLeft " $Failure;"
    StrCpy $Failure ""
  ${EndIf}
  ${If} $CopiedFiles == "1"
    StrCpy $ArgTag "$RunId-new"
    Call RemoveProductFiles
    ${If} $Failure != ""
      StrCpy $RollbackLeft "$RollbackLeft the new files ($Failure);"
      StrCpy $Failure ""
    ${EndIf}
  ${EndIf}
  ${If} $UnregisteredPrevious == "1"
    Call RestorePrevious
  ${ElseIf} $WroteInstallDir == "1"
    Call RemoveProductKeys
  ${EndIf}
FunctionEnd

; Puts the older version's files back at their names and registers them again.
Function RestorePrevious
  ${Log} "Restoring ${PRODUCT} $PreviousVersion"
  ${If} $MovedPrevious == "1"
    StrCpy $ArgTag $RunId
    !insertmacro ForEachProductFile "" PutBack
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" "Install Dir" $PreviousDir
  !insertmacro Register "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library" $1
  !insertmacro Register "ZelTARN.dll" "${BRIDGE_CLASS}" "library" $1
  !insertmacro Register "KyAlert.exe" "${ALERTER_CLASS}" "server" $1
  ${If} $Failure != ""
    StrCpy $RollbackLeft "$RollbackLeft ${PRODUCT} $PreviousVersion not registered again ($Failure);"
    StrCpy $Failure ""
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; The uninstaller. The commands of the installed-programs entry run it in the product's folder
; ("_?=FOLDER", last and unquoted) and wait for it; without "_?=", NSIS copies it away and returns
; at once.

Function un.onInit
  SetRegView 64
  !insertmacro RefuseUnlessElevatedAndAlone "removal"
  ; Run from the product's folder, the uninstaller removes that folder's product, also when words
  ; given after "_?=" (the plain uninstall command followed by /S) ended up in its folder.
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "Install Dir"
  ${If} $0 != ""
  ${AndIf} $EXEDIR == $0
    StrCpy $INSTDIR $EXEDIR
  ${EndIf}
  Push "$TEMP\ZEL-Uninstall.log"
  Call un.OpenLog
FunctionEnd

; Ends a removal that could not remove everything before anything was deleted, so that it can be
; run again.
Function un.Fail
  ${Log} "FAILED: $Failure"
  ${Log} "Nothing was removed: ${PRODUCT} stays listed among the installed programs; run its uninstaller again"
  MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} could not be removed: $Failure$\r$\n$\r$\nNothing was deleted. The log: \
                                $LogFile" /SD IDOK
  SetErrorLevel ${ERROR_STEP_FAILED}
  Quit
FunctionEnd

; The diagnostic logs (ProgramData\Varant\KYLOGS), the product's settings and the service's data
; stay: they are the parent's and the service's, not the installer's.
Section "Uninstall"
  ${Log} "Uninstalling ${PRODUCT} from $INSTDIR"
  Call un.RemoveStaleMovedAside
  Push $INSTDIR
  Call un.UnregisterProduct
  ${If} $Failure != ""
    Call un.Fail
  ${EndIf}
  StrCpy $ArgTag $RunId
  Call un.RemoveProductFiles
  ${If} $Failure != ""
    Call un.Fail
  ${EndIf}
  ; The restart that deletes what is still in use takes the folder with it when nothing else is left.
  ${If} ${FileExists} "$INSTDIR\*${MOVED_ASIDE}"
  ${OrIf} $EXEPATH == "$INSTDIR\Uninstall.exe"
    RMDir /REBOOTOK $INSTDIR
  ${EndIf}
  Call un.RemoveProductKeys
  !insertmacro RestartNote $0
  ${Log} "${PRODUCT} uninstalled$0"
  Call un.SetSuccessCode
SectionEnd
