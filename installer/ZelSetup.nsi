; ZEL's installer: puts the product's deliverables into Program Files\Varant\ZEL, registers them
; (the event handlers bind themselves to the service's events in their own DllRegisterServer, so the
; service must be installed first), lists the product among the installed programs and, over an
; older version, has the service's users migrated to the platform. Silent with /S.
;
; Command line (besides /S and /D=FOLDER):
;   /LOG=FILE        where the log goes (default %TEMP%\ZEL-Setup.log, %TEMP%\ZEL-Uninstall.log)
;   /STARTUP=NAME    the service user the migration marks as the platform's startup user
;                    (default: the installing account's name)
; Exit code: 0 installed; 3 a step failed, everything this run did was undone (the log says which
; step and why). The uninstaller exits 3 when some registration could not be removed.
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
!define UPGRADE_COMPLETED_EVENT "Global\Zel8UpgradeCompleted"
; The migration waits for the platform user of the session (up to two minutes) before it starts.
!define UPGRADE_WAIT_MS 150000
!define ERROR_STEP_FAILED 3

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

; The installer and the uninstaller it carries are signed like every module they install.
!finalize '${ZEL_SIGN} "%1"'
!uninstfinalize '${ZEL_SIGN} "%1"'

Page directory
Page instfiles
UninstPage instfiles

Var LogFile
Var Failure          ; what the failed step says; empty while every step succeeds
Var PreviousVersion  ; the version installed before this run, empty when none
Var PreviousDir
Var StartupUser
; What this run did, for the rollback.
Var CopiedFiles
Var TriedEventHandler
Var TriedBridge
Var TriedAlerter
Var WroteInstallDir
Var UnregisteredPrevious
; The server a registration function works on (they call each other, never themselves).
Var ArgFolder
Var ArgFile
Var ArgClass
Var ArgKind

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

; Removes the installed files from a folder (stack: folder), and the folder when nothing else
; (the service's files, say) is left in it.
Function ${prefix}RemoveProductFiles
  Exch $0
  !insertmacro RemoveFile $0 "KyAlert.exe"
  !insertmacro RemoveFile $0 "ZelTARN.dll"
  !insertmacro RemoveFile $0 "zelevh.dll"
  !insertmacro RemoveFile $0 "KyLogCfg.exe"
  !insertmacro RemoveFile $0 "ZelRes2.DLL"
  !insertmacro RemoveFile $0 "Uninstall.exe"
  RMDir $0
  Pop $0
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
!macroend

!macro UnregisterOne prefix folder file class kind
  StrCpy $ArgFolder "${folder}"
  StrCpy $ArgFile "${file}"
  StrCpy $ArgClass "${class}"
  StrCpy $ArgKind "${kind}"
  Call ${prefix}UnregisterServer
!macroend

!macro RemoveFile folder file
  ClearErrors
  Delete "${folder}\${file}"
  ${If} ${Errors}
    ${Log} "  Could not remove ${folder}\${file}"
  ${EndIf}
!macroend

!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---------------------------------------------------------------------------------------------
; The installer.

Function .onInit
  SetRegView 64
  InitPluginsDir
  Push "$TEMP\ZEL-Setup.log"
  Call OpenLog
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/STARTUP=" $StartupUser
  ${If} ${Errors}
    ReadEnvStr $StartupUser "USERNAME"
  ${EndIf}
  ReadRegStr $PreviousVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $PreviousDir HKLM "${PRODUCT_KEY}" "Install Dir"
  ; An installed product is upgraded where it is.
  ${If} $PreviousVersion != ""
  ${AndIf} $PreviousDir != ""
    StrCpy $INSTDIR $PreviousDir
  ${EndIf}
FunctionEnd

; Ends the run after a failed step: undoes it, says what failed.
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
  ${Log} "Rolling back"
  Call Rollback
  ${Log} "Rolled back; ${PRODUCT} ${ZEL_VERSION} was not installed"
  SetErrorLevel ${ERROR_STEP_FAILED}
  Quit
FunctionEnd

Section "ZEL"
  ${Log} "${PRODUCT} ${ZEL_VERSION} setup into $INSTDIR"
  ${If} $PreviousVersion != ""
    ${Log} "Found ${PRODUCT} $PreviousVersion in $PreviousDir"
    Call UnregisterPrevious
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
  Call MigrateUsersIfUpgrading
  ${Log} "${PRODUCT} ${ZEL_VERSION} installed"
SectionEnd

; An older version's servers are unregistered with its own files, which are kept aside until the
; new ones are registered, so that a failure can put the older version back.
Function UnregisterPrevious
  CreateDirectory "$PLUGINSDIR\previous"
  CopyFiles /SILENT "$PreviousDir\zelevh.dll" "$PLUGINSDIR\previous"
  CopyFiles /SILENT "$PreviousDir\ZelTARN.dll" "$PLUGINSDIR\previous"
  CopyFiles /SILENT "$PreviousDir\KyAlert.exe" "$PLUGINSDIR\previous"
  CopyFiles /SILENT "$PreviousDir\KyLogCfg.exe" "$PLUGINSDIR\previous"
  CopyFiles /SILENT "$PreviousDir\ZelRes2.DLL" "$PLUGINSDIR\previous"
  StrCpy $UnregisteredPrevious "1"
  ${Log} "Unregistering ${PRODUCT} $PreviousVersion"
  Push $PreviousDir
  Call UnregisterProduct
  ${If} $Failure != ""
    StrCpy $Failure "the installed version: $Failure"
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

Function WriteUninstallEntry
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${ZEL_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    StrCpy $Failure "writing the installed-programs entry HKLM\${UNINSTALL_KEY}"
  ${EndIf}
FunctionEnd

; Over an older version, the event handler moves the service's users to the platform at the next
; sign-in it handles, when the marker says so, and signals the event when done.
Function MigrateUsersIfUpgrading
  ${If} $PreviousVersion == ""
    Return
  ${EndIf}
  ${VersionCompare} $PreviousVersion "${ZEL_VERSION}" $0
  ${If} $0 != "2"
    ${Log} "No users' migration: $PreviousVersion is not older than ${ZEL_VERSION}"
    Return
  ${EndIf}
  WriteRegDWORD HKLM "${UPGRADE_KEY}" "UpgradeUsers" 1
  ; The handler reads at most 31 characters and marks nobody for a longer name.
  StrLen $0 $StartupUser
  ${If} $0 > 0
  ${AndIf} $0 < 32
    WriteRegStr HKLM "${PRODUCT_KEY}" "StartUp" $StartupUser
    ${Log} "Upgrade from $PreviousVersion: the service's users move to the platform, startup user $StartupUser"
  ${Else}
    ${Log} "Upgrade from $PreviousVersion: the service's users move to the platform, no startup user"
  ${EndIf}
  ; The handler only opens the event: it must exist before the sign-in is raised.
  System::Call 'kernel32::CreateEventW(p 0, i 1, i 0, w "${UPGRADE_COMPLETED_EVENT}") p .r8'
  ${If} $8 == 0
    ${Log} "Could not create ${UPGRADE_COMPLETED_EVENT}; the next sign-in migrates the users"
    Return
  ${EndIf}
  Call RaiseSignIn
  ${Log} "Waiting for the users' migration"
  System::Call 'kernel32::WaitForSingleObject(p r8, i ${UPGRADE_WAIT_MS}) i .r9'
  System::Call 'kernel32::CloseHandle(p r8)'
  ${If} $9 == 0
    ${Log} "The users' migration completed"
  ${Else}
    ${Log} "The users' migration did not complete within ${UPGRADE_WAIT_MS} ms (wait result $9); \
            the next sign-in completes it"
  ${EndIf}
FunctionEnd

; The service raises a sign-in-required event when a user of the session signs in; its event source
; program, where the service has one beside it, raises it now for this session.
Function RaiseSignIn
  System::Call 'kernel32::GetCurrentProcessId() i .r1'
  System::Call 'kernel32::ProcessIdToSessionId(i r1, *i .r2) i .r3'
  ${If} $3 == 0
    StrCpy $2 1
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\GSEventSource.exe"
    ${Log} "The service raises the sign-in of session $2 itself"
    Return
  ${EndIf}
  ${Log} "Asking the service for the sign-in of session $2"
  Push '"$INSTDIR\GSEventSource.exe" SignInRequired session=$2'
  Call RunCommand
  Pop $3
  ${If} $3 != "0"
    ${Log} "  The service's event source ended with $3"
  ${EndIf}
FunctionEnd

; Undoes what this run did, the reverse of the steps: a failed registration may have left part of
; itself (bindings without classes), so every server whose registration was tried is unregistered.
Function Rollback
  StrCpy $Failure ""
  ${If} $TriedAlerter == "1"
    !insertmacro UnregisterOne "" $INSTDIR "KyAlert.exe" "${ALERTER_CLASS}" "server"
  ${EndIf}
  ${If} $TriedBridge == "1"
    !insertmacro UnregisterOne "" $INSTDIR "ZelTARN.dll" "${BRIDGE_CLASS}" "library"
  ${EndIf}
  ${If} $TriedEventHandler == "1"
    !insertmacro UnregisterOne "" $INSTDIR "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library"
  ${EndIf}
  ${If} $CopiedFiles == "1"
    Push $INSTDIR
    Call RemoveProductFiles
  ${EndIf}
  ${If} $UnregisteredPrevious == "1"
    Call RestorePrevious
  ${ElseIf} $WroteInstallDir == "1"
    Call RemoveProductKeys
  ${EndIf}
FunctionEnd

; Puts the older version's files back where they were and registers them again.
Function RestorePrevious
  ${Log} "Restoring ${PRODUCT} $PreviousVersion"
  CreateDirectory $PreviousDir
  CopyFiles /SILENT "$PLUGINSDIR\previous\*.*" $PreviousDir
  WriteRegStr HKLM "${PRODUCT_KEY}" "Install Dir" $PreviousDir
  StrCpy $0 $INSTDIR
  StrCpy $INSTDIR $PreviousDir
  !insertmacro Register "zelevh.dll" "${EVENT_HANDLER_CLASS}" "library" $1
  !insertmacro Register "ZelTARN.dll" "${BRIDGE_CLASS}" "library" $1
  !insertmacro Register "KyAlert.exe" "${ALERTER_CLASS}" "server" $1
  ${If} $Failure != ""
    ${Log} "  Restoring failed too: $Failure"
  ${EndIf}
  StrCpy $INSTDIR $0
  WriteUninstaller "$PreviousDir\Uninstall.exe"
FunctionEnd

; ---------------------------------------------------------------------------------------------
; The uninstaller. Run it with _?=FOLDER to wait for it; without, it copies itself away first.

Function un.onInit
  SetRegView 64
  Push "$TEMP\ZEL-Uninstall.log"
  Call un.OpenLog
FunctionEnd

; The diagnostic logs (ProgramData\Varant\KYLOGS), the product's settings and the service's data
; stay: they are the parent's and the service's, not the installer's.
Section "Uninstall"
  ${Log} "Uninstalling ${PRODUCT} from $INSTDIR"
  Push $INSTDIR
  Call un.UnregisterProduct
  StrCpy $0 $Failure
  Push $INSTDIR
  Call un.RemoveProductFiles
  Call un.RemoveProductKeys
  ${If} $0 != ""
    ${Log} "FAILED: $0"
    SetErrorLevel ${ERROR_STEP_FAILED}
  ${Else}
    ${Log} "${PRODUCT} uninstalled"
  ${EndIf}
SectionEnd
