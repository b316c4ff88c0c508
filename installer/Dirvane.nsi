; Dirvane-Setup-<version>.exe: installs Dirvane.dll, Tessaly.exe and Tessaly64.exe, registers the DLL
; and adds an uninstaller, in one of two modes:
;   all users    into the 64-bit Program Files folder, registered in HKLM\Software\Classes, listed in
;                HKLM's uninstall key; needs administrator rights;
;   current user into %LOCALAPPDATA%\Programs\Dirvane, registered in HKCU\Software\Classes, listed in
;                HKCU's uninstall key; needs no administrator rights.
; Both can live side by side. Installing over an older version works while programs still have the
; old DLL loaded: Tessaly finds them, and the user either closes them or lets the old file be renamed
; aside until the next restart.
;
; Built by installer/CMakeLists.txt:
;   makensis -DVERSION=2.0.0.26 -DDIST=<folder of the three files> -DOUTFILE=<setup.exe> -DHOMEPAGE=<url> Dirvane.nsi
;
; Switches: /S silent (programs holding the old DLL are left running), /CURRENTUSER or /ALLUSERS (the
; mode), /D=<folder> (last, unquoted); /ELEVATED marks the copy that asked Windows for administrator
; rights (it does not ask again).
; Uninstaller: /S silent, /REMOVEDATA also removes the bookmarks and settings; the uninstall entry
; passes its mode; /ELEVATED as above; /HANDOVER marks the copy that does the work of an all-users
; uninstaller run in place (un.HandOver).
; Exit codes: see the EXIT_ defines below.

; A 64-bit program: the DLL it installs is 64-bit only, so it needs 64-bit Windows anyway, and it
; sees the real system folder and registry without redirection.
Target amd64-unicode
ManifestDPIAware true
; Never elevated by Windows on start: the per-user mode works in a folder that the user's own
; programs can write, so it must not run with rights they lack. The all-users mode starts a copy of
; Setup with administrator rights itself (RelaunchElevated).
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | DIST | OUTFILE
  !error "Pass -DVERSION=, -DDIST= and -DOUTFILE="
!endif
!ifndef HOMEPAGE
  !define HOMEPAGE ""
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh
!include StrFunc.nsh
!include WinVer.nsh
${StrStr}
${StrRep}

!define PRODUCT "Dirvane"
!define PUBLISHER "Ostrelan"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dirvane"
!define DATA_KEY "Software\Ostrelan\Dirvane"
; Every file this setup renamed aside, as a value named by its full path, per mode: the clean-up
; deletes nothing else.
!define ASIDE_KEY "Software\Ostrelan\Dirvane Setup\Renamed Aside"
!define CLSID "{5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}"
!define APPID "{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}"
!define HANDLER "ShellEx\ContextMenuHandlers\OV Dirvane"
; The 64-bit regsvr32: only a 64-bit process can load the DLL. /n /i:user or /i:machine calls the
; DLL's DllInstall, which writes that store of classes only.
!define REGSVR32 "$SYSDIR\regsvr32.exe"

; The Windows 11 package (PACKAGE, given to makensis only when it is signed: Windows registers no
; other). Windows' own PowerShell registers and removes it; the outcome is noted in the uninstall
; entry: "WindowsMenu" (a line for people) and "WindowsMenuPackage" (the family name of the package
; registered, to be removed). The family name (name and a hash of the publisher) is what tells our
; package from another publisher's of the same name; the package's build writes it next to it.
!define PACKAGE_NAME "Ostrelan.Dirvane"
!ifdef PACKAGE
  !define /file PACKAGE_FAMILY "${PACKAGE}.family"
!endif
!ifndef POWERSHELL   ; a test build names a stand-in that notes what it was given
  !define POWERSHELL "$SYSDIR\WindowsPowerShell\v1.0\powershell.exe"
!endif
!define PACKAGE_DONE "DIRVANE-PACKAGE-DONE"   ; the command's last line when it succeeded
; Windows 11: build 22000 and later.
!define WINDOWS_11_BUILD 22000

; Exit codes of the setup (the uninstaller uses 0, 2, 5, 6 and 7).
!define EXIT_CANCELLED 1        ; cancelled, another setup is running, or not 64-bit Windows
!define EXIT_REFUSED 2          ; a refused install folder (see CheckInstallFolder), or contrary switches
!define EXIT_WRITE_FAILED 3     ; a file could not be written
!define EXIT_NOT_REGISTERED 4   ; the DLL could not be registered
!define EXIT_IN_USE 5           ; a file in use could be neither replaced nor renamed
!define EXIT_NEEDS_ADMIN 6      ; all users, and Windows did not grant administrator rights
!define EXIT_ELEVATED 7         ; the current user's mode, started with administrator rights that the
                                ; user's desktop does not have
; Set to 1 in the environment, it makes Setup behave as if it ran without administrator rights, so
; that tests under Wine (which grants them to every program) reach the path that asks for them. The
; copy started with the rights does not inherit it. It can only take rights away.
!define TEST_STANDARD_USER "DIRVANE_SETUP_TEST_STANDARD_USER"
; All-users installs give their new folder this access: administrators and the system full, users
; read and run, nothing inherited from the folders above.
!define PROTECTED_FOLDER_SDDL "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
; A folder only administrators and the system can open at all: where an elevated Setup runs its helper.
!define PRIVATE_FOLDER_SDDL "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${PRODUCT} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Var Mode              ; "user" or "all"
Var Relaunched        ; 1: this is the copy started with administrator rights (/ELEVATED)
Var DirArg            ; the /D= folder as given on the command line, or ""
Var ModeGiven         ; 1: /CURRENTUSER or /ALLUSERS was given
Var SetupMutex        ; held while this setup runs; handed to the copy with administrator rights
Var HandedOver        ; 1: this uninstaller is the copy that an instance in the install folder started
Var ExitCode          ; the uninstaller's exit code so far
Var ToolDir           ; where Tessaly64.exe runs and the setup keeps its notes (PrepareToolDir)
Var ClassStore        ; the DLL's name for the mode's classes: "user" or "machine"
Var IsAdmin           ; 1: the setup runs with administrator rights
Var DirGiven          ; 1: /D= named the install folder
Var FreshInstall      ; 1: nothing of the product was in the install folder
Var Written           ; "|<file>|" for each file this run wrote
Var UserRadio
Var AllRadio
Var HolderList        ; list box of the holders page
Var CloseRadio
Var CloseHolders      ; 1: the user chose to close the programs that hold the DLL
Var HolderMode        ; what ForEachHolder does with each record: count, list or close
Var HolderCount
Var Listed            ; "|<pid>:<creation time>|..." of the holders the user saw listed
Var RestartExplorer   ; 1: an Explorer was closed and must be started again
Var RemoveData        ; 1: the uninstaller also removes the user's bookmarks and settings

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
Page custom ModePage ModePageLeave
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenUpgrading
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryPageLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom HoldersPage HoldersPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------------
; Shared by the installer and the uninstaller.

!macro DV_SHARED un
; NSIS unpacks its plug-ins (System.dll, nsDialogs.dll) into $PLUGINSDIR and loads them from there;
; left alone, that is a new folder in the user's temp folder, which every program of the user's can
; change: with administrator rights, one that swapped a plug-in between its unpacking and its
; loading would run its code with them. So, before the first plug-in is called, $PLUGINSDIR becomes
; a new folder inside Program Files, which only administrators can create, and whose access the
; folder inherits. A process that cannot create it there has no administrator rights, and then the
; temp folder is as trusted as the process itself. NSIS removes $PLUGINSDIR when the process ends.
; (The test switch is not read here: an elevated program's environment comes from the user's
; registry, which the user's programs can change.)
Function ${un}ProtectPluginsFolder
  ClearErrors
  GetTempFileName $0 "$PROGRAMFILES64"
  IfErrors done
  Delete $0
  IfErrors done
  IfFileExists $0 done
  CreateDirectory $0
  IfErrors done
  ; A folder of that name that existed already (CreateDirectory does not fail then) is not ours.
  FindFirst $1 $2 "$0\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      FindClose $1
      Goto done
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
  UnsafeStrCpy $PLUGINSDIR $0
done:
  ClearErrors
FunctionEnd

; Switches the registry root (SHCTX) and the folders to the mode in $Mode.
Function ${un}UseMode
  ${If} $Mode == "user"
    SetShellVarContext current
    StrCpy $ClassStore "user"
  ${Else}
    SetShellVarContext all
    StrCpy $ClassStore "machine"
  ${EndIf}
FunctionEnd

Function ${un}CheckAdmin
  System::Call 'shell32::IsUserAnAdmin() i .r0'
  ReadEnvStr $1 ${TEST_STANDARD_USER}
  ${If} $0 <> 0
  ${AndIf} $1 != "1"
    StrCpy $IsAdmin 1
  ${Else}
    StrCpy $IsAdmin 0
  ${EndIf}
FunctionEnd

; Starts $R1 with the parameters $R2 and administrator rights (Windows asks the user for them),
; waits for it and sets $0 to its exit code, or to "refused" when it could not be started (the user
; said no, or Windows cannot elevate). $R2 ends with the marker /ELEVATED (before a /D= or _?=, which
; must come last), so that the copy never asks again.
Function ${un}RelaunchElevated
  Push $1
  Push $2
  Push $3
  System::Call 'kernel32::SetEnvironmentVariableW(w "${TEST_STANDARD_USER}", p 0)'
  ; SHELLEXECUTEINFOW as laid out for 64-bit code, with SEE_MASK_NOCLOSEPROCESS.
  System::Call '*(i 112, i 0x40, p $HWNDPARENT, w "runas", w R1, w R2, p 0, i ${SW_SHOWNORMAL}, i 0, p 0, p 0, p 0, p 0, i 0, i 0, p 0, p 0) p .r1'
  System::Call 'shell32::ShellExecuteExW(p r1) i .r2'
  StrCpy $0 "refused"
  ${If} $2 <> 0
    System::Call '*$1(i, i, p, p, p, p, p, i, i, p, p, p, p, i, i, p, p .r3)'
    ${If} $3 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r3, i -1)'
      System::Call 'kernel32::GetExitCodeProcess(p r3, *i .r0)'
      System::Call 'kernel32::CloseHandle(p r3)'
    ${EndIf}
  ${EndIf}
  System::Free $1
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Sets $R9 to why the folder $0 (full and long, without a trailing backslash) may not be worked in,
; or to "": it, a folder above it or a file of the product in it is a junction or a symbolic link,
; through which a delete or a rename would reach somewhere else.
Function ${un}CheckReparsePoints
  Push $1
  Push $2
  Push $3
  StrCpy $R9 ""
  ${ForEach} $1 1 4 + 1
    Call ${un}ProductFile
    StrCpy $3 "$0\$2"
    Call ${un}IsReparsePoint
    ${If} $2 = 1
      StrCpy $R9 "$3 is a link to another place."
      Goto done
    ${EndIf}
  ${Next}
  StrCpy $3 $0
  ${Do}
    StrCpy $2 $3 1 -1
    ${IfThen} $2 == ":" ${|} ${Break} ${|}  ; a drive, not a folder
    Call ${un}IsReparsePoint
    ${If} $2 = 1
      StrCpy $R9 "$3 is a link to another place."
      ${Break}
    ${EndIf}
    ${GetParent} $3 $2
    ${IfThen} $2 == "" ${|} ${Break} ${|}
    ${IfThen} $2 == $3 ${|} ${Break} ${|}
    StrCpy $3 $2
  ${Loop}
done:
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Creates the folder $R1 with the access $R2 (SDDL), failing when it exists; sets $0 to 1 when it
; was created, else to 0.
Function ${un}CreateFolderWithAccess
  Push $1
  Push $2
  StrCpy $0 0
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R2, i 1, *p .r1, p 0) i .r2'
  ${If} $2 <> 0
    ; SECURITY_ATTRIBUTES as laid out for 64-bit code.
    System::Call '*(l 24, p r1, l 0) p .r2'
    System::Call 'kernel32::CreateDirectoryW(w R1, p r2) i .r0'
    ${IfThen} $0 <> 0 ${|} StrCpy $0 1 ${|}
    System::Free $2
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; Sets $ToolDir to a new folder in %WINDIR%\Temp that only administrators and the system can open,
; or to "" when none could be made. Its name is random, so that other programs cannot take it
; first, and a name that exists is never taken over.
Function ${un}CreatePrivateFolder
  Push $0
  Push $3
  Push $4
  Push $R1
  Push $R2
  StrCpy $ToolDir ""
  StrCpy $R2 "${PRIVATE_FOLDER_SDDL}"
  ${ForEach} $3 1 5 + 1
    System::Call 'ole32::CoCreateGuid(g .r4) i .r0'
    ${IfThen} $0 <> 0 ${|} ${Break} ${|}
    StrCpy $R1 "$WINDIR\Temp\Dirvane-Setup-$4"
    Call ${un}CreateFolderWithAccess
    ${If} $0 = 1
      StrCpy $ToolDir $R1
      ${Break}
    ${EndIf}
  ${Next}
  Pop $R2
  Pop $R1
  Pop $4
  Pop $3
  Pop $0
FunctionEnd

; Sets $R1 to a handle (to query) of the process that owns the user's desktop, or to 0.
Function ${un}OpenShellProcess
  StrCpy $R1 0
  System::Call 'user32::GetShellWindow() p .r1'
  ${If} $1 P<> 0
    System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r2)'
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r2) p .R1'  ; PROCESS_QUERY_LIMITED_INFORMATION
  ${EndIf}
FunctionEnd

; Sets $R0 to 1 when the process handle $R1 runs with an elevated token, 0 when not, "" unknown.
Function ${un}ProcessElevated
  StrCpy $R0 ""
  System::Call 'advapi32::OpenProcessToken(p R1, i 8, *p .R2) i .r9'  ; TOKEN_QUERY
  ${If} $9 <> 0
    System::Call 'advapi32::GetTokenInformation(p R2, i 20, *i .R3, i 4, *i .r9) i .r8'  ; TokenElevation
    ${If} $8 <> 0
      StrCpy $R0 0
      ${IfThen} $R3 <> 0 ${|} StrCpy $R0 1 ${|}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R2)'
  ${EndIf}
FunctionEnd

; The current user's mode works in a folder that the user's own programs can change: it refuses to
; run with administrator rights that the user's desktop lacks (a setup started from an elevated
; program, or as another account). Sets $R9 to why, or to "". Without a desktop to compare with,
; nothing is refused.
Function ${un}CheckNotElevatedAboveTheDesktop
  Push $1
  Push $2
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R9 ""
  System::Call 'kernel32::GetCurrentProcess() p .R1'
  Call ${un}ProcessElevated
  ${If} $R0 == 1
    Call ${un}OpenShellProcess
    ${If} $R1 P<> 0
      Call ${un}ProcessElevated
      System::Call 'kernel32::CloseHandle(p R1)'
      ${If} $R0 == 0
        StrCpy $R9 "Installing or removing ${PRODUCT} for the current user runs without administrator rights. Start it from your desktop, not as administrator."
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $2
  Pop $1
FunctionEnd

; Sets $0, a folder's name, to its full and long form without a trailing backslash, so that
; "C:\Windows\..\", "C:\WINDOW~1" and "c:\windows" compare alike; to "" when it is not valid.
Function ${un}NormaliseFolder
  Push $1
  Push $2
  System::Call 'kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r2, p 0) i .r1'
  ${If} $1 = 0
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    StrCpy $0 ""
  ${Else}
    StrCpy $0 $2
    System::Call 'kernel32::GetLongPathNameW(w r0, w .r2, i ${NSIS_MAX_STRLEN}) i .r1'
    ${If} $1 > 0
    ${AndIf} $1 < ${NSIS_MAX_STRLEN}
      StrCpy $0 $2
    ${EndIf}
    ${DoWhile} "$0" != ""
      StrCpy $1 $0 1 -1
      ${IfThen} $1 != "\" ${|} ${Break} ${|}
      StrCpy $0 $0 -1
    ${Loop}
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; Sets $R9 to why the folder $0 (normalised) may not hold the install for all users, or to "".
; What every user's Explorer loads, and what Setup and the uninstaller register and unregister with
; administrator rights, must lie where only administrators can change it: elsewhere a user could
; replace it, or rename a folder above it, for all the others, or have a signed uninstaller run the
; user's own Dirvane.dll with the rights of the administrator who let it start.
Function ${un}CheckAllUsersFolder
  Push $1
  Push $2
  StrCpy $R9 ""
  StrLen $1 "$PROGRAMFILES64\"
  StrCpy $2 $0 $1
  ${If} $2 != "$PROGRAMFILES64\"
    StrCpy $R9 "For all users, ${PRODUCT} is installed in a folder inside $PROGRAMFILES64, where only administrators can change it."
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; Sets $2 to 1 when $3 is a junction or a symbolic link (a reparse point), else to 0.
Function ${un}IsReparsePoint
  System::Call 'kernel32::GetFileAttributesW(w r3) i .r2'
  ${If} $2 = -1
    StrCpy $2 0
  ${Else}
    IntOp $2 $2 & 0x400   ; FILE_ATTRIBUTE_REPARSE_POINT
    ${IfThen} $2 <> 0 ${|} StrCpy $2 1 ${|}
  ${EndIf}
FunctionEnd

; Sets $2 to the product's file number $1: 1 Dirvane.dll, 2 Tessaly.exe, 3 Tessaly64.exe,
; 4 Uninstall.exe.
Function ${un}ProductFile
  ${Select} $1
    ${Case} 1
      StrCpy $2 "Dirvane.dll"
    ${Case} 2
      StrCpy $2 "Tessaly.exe"
    ${Case} 3
      StrCpy $2 "Tessaly64.exe"
    ${CaseElse}
      StrCpy $2 "Uninstall.exe"
  ${EndSelect}
FunctionEnd

; Sets $Mode from the switches in $R0: "user" for /CURRENTUSER, "all" for /ALLUSERS, "both" for
; both, "" for neither.
Function ${un}ReadModeSwitch
  StrCpy $Mode ""
  ClearErrors
  ${GetOptions} $R0 "/CURRENTUSER" $1
  ${IfNot} ${Errors}
    StrCpy $Mode "user"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    ${If} $Mode == ""
      StrCpy $Mode "all"
    ${Else}
      StrCpy $Mode "both"
    ${EndIf}
  ${EndIf}
  ClearErrors
FunctionEnd

; Sets $R0 to 1 when the file name on the stack is one this setup gives a copy renamed aside:
; <file of the product>.old-<n>, n a number from 1 without leading zeros.
Function ${un}IsAsideName
  Exch $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R0 0
  ${ForEach} $R2 1 3 + 1
    ${Select} $R2
      ${Case} 1
        StrCpy $R3 "Dirvane.dll.old-"
      ${Case} 2
        StrCpy $R3 "Tessaly.exe.old-"
      ${CaseElse}
        StrCpy $R3 "Tessaly64.exe.old-"
    ${EndSelect}
    StrLen $R4 $R3
    StrCpy $R5 $R1 $R4
    ${If} $R5 == $R3
      StrCpy $R5 $R1 "" $R4
      IntOp $R3 $R5 + 0
      ${If} $R3 > 0
      ${AndIf} "$R3" == "$R5"
        StrCpy $R0 1
      ${EndIf}
      ${Break}
    ${EndIf}
  ${Next}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Moves $0 (a file name in $INSTDIR) out of the way so a new one can be written. The uninstaller
; deletes it when nothing holds it. The installer renames it aside in any case, so that a failed
; upgrade can put it back (the successful one deletes the copy, or has it removed at the restart
; while it is held: ScheduleHeldCopies). A held file is renamed aside (a loaded DLL can be renamed)
; and recorded; only the renamed copy is ever scheduled, so a pending delete never names a file that
; a later install writes. The file stays in place only when it can be neither deleted nor renamed.
Function ${un}MoveAside
  Push $1
  Push $2
  ${If} ${FileExists} "$INSTDIR\$0"
    !if "${un}" == "un."
      Delete "$INSTDIR\$0"
    !endif
    ClearErrors
    ${If} ${FileExists} "$INSTDIR\$0"
      StrCpy $2 1
      ${DoWhile} ${FileExists} "$INSTDIR\$0.old-$2"
        IntOp $2 $2 + 1
      ${Loop}
      StrCpy $1 "$INSTDIR\$0.old-$2"
      ClearErrors
      Rename "$INSTDIR\$0" "$1"
      ${If} ${Errors}
        DetailPrint "$INSTDIR\$0 is in use and cannot be removed"
      ${Else}
        WriteRegStr SHCTX "${ASIDE_KEY}" "$1" ""
        !if "${un}" == "un."
          Call un.ScheduleCopy
        !else
          WriteINIStr "$ToolDir\moved.ini" "moved" "$0" "$1"
        !endif
      ${EndIf}
      ClearErrors
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; Has the held copy $1 of $0 removed at the next restart. That list is the machine's: an install for
; the current user leaves the copy to its next install or uninstall instead.
Function ${un}ScheduleCopy
  ${If} $Mode == "all"
    DetailPrint "$INSTDIR\$0 is in use: renamed to $1, removed when Windows restarts"
    Delete /REBOOTOK "$1"
  ${Else}
    DetailPrint "$INSTDIR\$0 is in use: renamed to $1, removed by the next install or uninstall"
  ${EndIf}
  ClearErrors
FunctionEnd

; Removes the copies that this setup renamed aside in $INSTDIR and that nothing holds any more,
; and forgets records of copies that are gone. Nothing else is deleted, whatever it is called.
Function ${un}DeleteOldCopies
  Push $R0
  Push $R5
  Push $R6
  Push $R7
  StrCpy $R5 0
  ${Do}
    ClearErrors
    EnumRegValue $R6 SHCTX "${ASIDE_KEY}" $R5
    ${If} ${Errors}
    ${OrIf} $R6 == ""
      ${Break}
    ${EndIf}
    ${GetParent} $R6 $R7
    ${If} $R7 == $INSTDIR
      ${GetFileName} $R6 $R7
      Push $R7
      Call ${un}IsAsideName
      ${If} $R0 = 1
        Delete $R6
      ${EndIf}
    ${EndIf}
    ${If} ${FileExists} $R6
      IntOp $R5 $R5 + 1
    ${Else}
      DeleteRegValue SHCTX "${ASIDE_KEY}" $R6
    ${EndIf}
  ${Loop}
  DeleteRegKey /ifempty SHCTX "${ASIDE_KEY}"
  DeleteRegKey /ifempty SHCTX "Software\Ostrelan\Dirvane Setup"
  DeleteRegKey /ifempty SHCTX "Software\Ostrelan"
  ClearErrors
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R0
FunctionEnd
!macroend
!insertmacro DV_SHARED ""
!insertmacro DV_SHARED "un."

; Sets the environment variable ${name} to ${value} for the programs this process starts, and
; pushes what puts it back (a copy of its old value, whatever its length, and its name) for
; DV_RESTORE_ENV. Uses $4 and $5.
!macro DV_PIN_ENV name value
  System::Call 'kernel32::GetEnvironmentVariableW(w "${name}", p 0, i 0) i .r5'
  StrCpy $4 0
  ${If} $5 <> 0
    IntOp $5 $5 * 2
    System::Alloc $5
    Pop $4
    IntOp $5 $5 / 2
    System::Call 'kernel32::GetEnvironmentVariableW(w "${name}", p r4, i r5)'
  ${EndIf}
  Push $4
  Push "${name}"
  System::Call 'kernel32::SetEnvironmentVariableW(w "${name}", w "${value}")'
!macroend

; Puts back every variable pinned since the mark "|pins|" was pushed. Uses $4 and $5.
!macro DV_RESTORE_ENV
  ${Do}
    Pop $4
    ${IfThen} $4 == "|pins|" ${|} ${Break} ${|}
    Pop $5
    System::Call 'kernel32::SetEnvironmentVariableW(w r4, p r5)'
    ${IfThen} $5 P<> 0 ${|} System::Free $5 ${|}
  ${Loop}
!macroend

; Shared by the uninstaller and a setup that carries the package.
!macro DV_PACKAGE_SHARED un
; Sets $R0 to the security identifier (as text) of the account that the process handle $R1 runs
; as, or to "" when it cannot be read.
Function ${un}ProcessAccount
  StrCpy $R0 ""
  System::Call 'advapi32::OpenProcessToken(p R1, i 8, *p .R2) i .r9'  ; TOKEN_QUERY
  ${If} $9 = 0
    Return
  ${EndIf}
  System::Alloc 512
  Pop $R3
  System::Call 'advapi32::GetTokenInformation(p R2, i 1, p R3, i 512, *i .r9) i .r8'  ; TokenUser
  ${If} $8 <> 0
    System::Call '*$R3(p .R4)'
    System::Call 'advapi32::ConvertSidToStringSidW(p R4, *p .R5) i .r8'
    ${If} $8 <> 0
      System::Call 'kernel32::lstrcpynW(w .R0, p R5, i ${NSIS_MAX_STRLEN})'
      System::Call 'kernel32::LocalFree(p R5)'
    ${EndIf}
  ${EndIf}
  System::Free $R3
  System::Call 'kernel32::CloseHandle(p R2)'
FunctionEnd

; Sets $0 to 1 when this program runs as another account than the user's desktop (an
; administrator's, entered over the shoulder): that account's bookmarks and packages are not the user's.
Function ${un}RunsAsAnotherAccount
  StrCpy $0 0
  System::Call 'kernel32::GetCurrentProcess() p .R1'
  Call ${un}ProcessAccount
  StrCpy $R6 $R0
  Call ${un}OpenShellProcess
  ${If} $R1 P= 0
    Return
  ${EndIf}
  Call ${un}ProcessAccount
  System::Call 'kernel32::CloseHandle(p R1)'
  ${If} $R0 != ""
  ${AndIf} $R6 != ""
  ${AndIf} $R0 != $R6
    StrCpy $0 1
  ${EndIf}
FunctionEnd

; .NET programs, PowerShell among them, load what some environment variables name: a profiler
; (COR_PROFILER_PATH), another compiler (COMPlus_AltJitName), ... An elevated program's environment
; comes from the user's registry, which the user's programs can write: every COR_*, COMPlus_*,
; CORECLR_* and DOTNET_* variable goes before PowerShell starts. (Names compare without case, as
; Windows compares them.) Uses $1 to $5, which RunPackageCommand, its only caller, keeps for its own.
Function ${un}ClearRuntimeHooks
  System::Call 'kernel32::GetEnvironmentStringsW() p .r1'
  StrCpy $2 $1
  ${DoWhile} $1 P<> 0
    System::Call 'kernel32::lstrlenW(p r2) i .r3'
    ${IfThen} $3 = 0 ${|} ${Break} ${|}
    System::Call 'kernel32::lstrcpynW(w .r4, p r2, i ${NSIS_MAX_STRLEN})'
    IntOp $3 $3 + 1
    IntOp $3 $3 * 2
    System::Int64Op $2 + $3
    Pop $2
    StrCpy $3 0
    StrCpy $5 $4 4
    ${IfThen} $5 == "COR_" ${|} StrCpy $3 1 ${|}
    StrCpy $5 $4 7
    ${IfThen} $5 == "DOTNET_" ${|} StrCpy $3 1 ${|}
    StrCpy $5 $4 8
    ${If} $5 == "COMPlus_"
    ${OrIf} $5 == "CORECLR_"
      StrCpy $3 1
    ${EndIf}
    ${If} $3 = 1
      StrCpy $3 0
      ${Do}
        StrCpy $5 $4 1 $3
        ${IfThen} $5 == "=" ${|} ${Break} ${|}
        ${IfThen} $5 == "" ${|} ${Break} ${|}
        IntOp $3 $3 + 1
      ${Loop}
      StrCpy $5 $4 $3
      System::Call 'kernel32::SetEnvironmentVariableW(w r5, p 0)'
    ${EndIf}
  ${Loop}
  ${If} $1 P<> 0
    System::Call 'kernel32::FreeEnvironmentStringsW(p r1)'
  ${EndIf}
FunctionEnd

; Runs the PowerShell statements $R1 for the package and sets $0 to "" when they succeeded, else to
; why not. With administrator rights PowerShell must load nothing that the user's programs can
; change: no profile, no module found by name (the user's own module folder comes first on its search
; path, and a module planted there would run with those rights), only the Appx module of the system
; folder, named by its full path. Paths reach it through its environment (DIRVANE_PACKAGE,
; DIRVANE_EXTERNAL_LOCATION), never inside the command, so that no folder name can end or change it.
; Exit code 0 alone proves nothing (Wine's powershell.exe is a stub that exits 0): the statements
; must have run to their last line, which prints ${PACKAGE_DONE}.
Function ${un}RunPackageCommand
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Call ${un}ClearRuntimeHooks
  ; The variables that name the system's folders, pinned to the folders Windows reports, and put
  ; back afterwards (an Explorer started again inherits them). Windows expands them in the paths of
  ; many DLLs and COM servers that PowerShell loads (%SystemRoot%\system32\..., a scanner under
  ; %ProgramFiles%, ...): left as the user's registry may set them, they would load the user's DLLs.
  ; PATH: the user's part (one of its folders, WindowsApps, is the user's) would be searched for any
  ; DLL loaded by name that Windows lacks. PSModulePath: the system's module folder alone.
  Push "|pins|"
  StrCpy $2 $WINDIR 2
  !insertmacro DV_PIN_ENV SystemDrive $2
  !insertmacro DV_PIN_ENV SystemRoot $WINDIR
  !insertmacro DV_PIN_ENV windir $WINDIR
  !insertmacro DV_PIN_ENV ComSpec "$SYSDIR\cmd.exe"
  !insertmacro DV_PIN_ENV ProgramFiles $PROGRAMFILES64
  !insertmacro DV_PIN_ENV ProgramW6432 $PROGRAMFILES64
  !insertmacro DV_PIN_ENV "ProgramFiles(x86)" $PROGRAMFILES32
  !insertmacro DV_PIN_ENV CommonProgramFiles $COMMONFILES64
  !insertmacro DV_PIN_ENV CommonProgramW6432 $COMMONFILES64
  !insertmacro DV_PIN_ENV "CommonProgramFiles(x86)" $COMMONFILES32
  System::Call 'shell32::SHGetFolderPathW(p 0, i 0x23, p 0, i 0, w .r2) i .r5'   ; CSIDL_COMMON_APPDATA
  ${If} $5 = 0
    !insertmacro DV_PIN_ENV ProgramData $2
    !insertmacro DV_PIN_ENV ALLUSERSPROFILE $2
  ${EndIf}
  !insertmacro DV_PIN_ENV PATH "$SYSDIR;$WINDIR;$SYSDIR\Wbem;$SYSDIR\WindowsPowerShell\v1.0"
  !insertmacro DV_PIN_ENV PSModulePath "$SYSDIR\WindowsPowerShell\v1.0\Modules"
  !insertmacro DV_PIN_ENV DIRVANE_APPX_MODULE "$SYSDIR\WindowsPowerShell\v1.0\Modules\Appx\Appx.psd1"
  SetOutPath $SYSDIR
  ; -ExecutionPolicy Bypass: the user's own policy (HKCU, or PSExecutionPolicyPreference) could
  ; otherwise make the system's Appx module refuse to load, or ask, unseen, until the time limit.
  nsExec::ExecToStack /TIMEOUT=300000 `"${POWERSHELL}" -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "$$ErrorActionPreference='Stop'; $$ProgressPreference='SilentlyContinue'; $$WarningPreference='SilentlyContinue'; $$PSModuleAutoloadingPreference='None'; Import-Module $$env:DIRVANE_APPX_MODULE; $R1; '${PACKAGE_DONE}'"`
  Pop $1   ; exit code, "error" or "timeout"
  Pop $2   ; what it printed
  ${Do}
    StrCpy $0 $2 1 -1
    ${If} $0 == "$\r"
    ${OrIf} $0 == "$\n"
      StrCpy $2 $2 -1
    ${Else}
      ${Break}
    ${EndIf}
  ${Loop}
  StrLen $0 "${PACKAGE_DONE}"
  StrCpy $2 $2 "" -$0
  ${If} $1 == "0"
  ${AndIf} $2 == "${PACKAGE_DONE}"
    StrCpy $0 ""
  ${Else}
    StrCpy $0 "PowerShell: $1"
    System::Call 'kernel32::OutputDebugStringW(w "Dirvane Setup: package command failed: $1")'
  ${EndIf}
  System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_PACKAGE", p 0)'
  System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_EXTERNAL_LOCATION", p 0)'
  System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_PACKAGE_FAMILY", p 0)'
  !insertmacro DV_RESTORE_ENV
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Removes the package of the family $1 for this account, when $1 is a family of ours; sets $0 as
; RunPackageCommand does ("PowerShell: 3": nothing of that family is registered for this account).
Function ${un}RemovePackageFamily
  StrLen $2 "${PACKAGE_NAME}_"
  StrCpy $3 $1 $2
  StrCpy $4 $1 "" $2
  StrLen $4 $4
  ${If} $3 != "${PACKAGE_NAME}_"
  ${OrIf} $4 <> 13   ; the publisher's hash
    StrCpy $0 "no family of ours was recorded"
    Return
  ${EndIf}
  System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_PACKAGE_FAMILY", w r1)'
  StrCpy $R1 "$$found = @(Get-AppxPackage -Name '${PACKAGE_NAME}' | Where-Object { $$_.PackageFamilyName -eq $$env:DIRVANE_PACKAGE_FAMILY }); if ($$found.Count -eq 0) { exit 3 }; $$found | Remove-AppxPackage"
  Call ${un}RunPackageCommand
FunctionEnd

!macroend
!ifdef PACKAGE
  !insertmacro DV_PACKAGE_SHARED ""
!endif
!insertmacro DV_PACKAGE_SHARED "un."

; ---------------------------------------------------------------------------------------------
; Installer

Function .onInit
  Call ProtectPluginsFolder
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit version of Windows." /SD IDOK
    SetErrorLevel ${EXIT_CANCELLED}
    Abort
  ${EndIf}
  ; One installer at a time: two would replace the same files under each other.
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Ostrelan.Dirvane.Setup") p .r1 ?e'
  Pop $0
  StrCpy $SetupMutex $1
  ${If} $0 = 183
    MessageBox MB_OK|MB_ICONEXCLAMATION "${PRODUCT} Setup is already running." /SD IDOK
    SetErrorLevel ${EXIT_CANCELLED}
    Abort
  ${EndIf}
  SetRegView 64
  StrCpy $CloseHolders 0
  StrCpy $RestartExplorer 0
  StrCpy $Listed "|"
  StrCpy $ToolDir ""
  Call CheckAdmin

  ; NSIS takes /D= off the command line before this runs and drops a folder it finds invalid (a
  ; drive's root) silently: read it here as the user gave it, so that it is refused, not ignored.
  StrCpy $DirGiven 0
  ${If} $INSTDIR != ""
    StrCpy $DirGiven 1
  ${EndIf}
  System::Call 'kernel32::GetCommandLineW() w .R1'
  StrLen $R2 $R1
  ${For} $R3 0 $R2
    StrCpy $R4 $R1 4 $R3
    ${If} $R4 S== " /D="
      IntOp $R3 $R3 + 4
      StrCpy $INSTDIR $R1 "" $R3
      StrCpy $DirGiven 1
      ${Break}
    ${EndIf}
  ${Next}
  StrCpy $DirArg ""
  ${If} $DirGiven = 1
    StrCpy $DirArg $INSTDIR
  ${EndIf}
  ${GetParameters} $R0
  StrCpy $Relaunched 0
  StrCpy $ModeGiven 0
  ClearErrors
  ${GetOptions} $R0 "/ELEVATED" $1
  ${IfNot} ${Errors}
    StrCpy $Relaunched 1
  ${EndIf}

  Call ReadModeSwitch
  ${If} $Mode == "both"
    MessageBox MB_OK|MB_ICONSTOP "/CURRENTUSER and /ALLUSERS exclude each other." /SD IDOK
    SetErrorLevel ${EXIT_REFUSED}
    Abort
  ${EndIf}
  ${If} $Mode == ""
    ; An upgrade keeps the mode that is installed (with both, the one this user can upgrade without
    ; asking); else a setup that already runs with administrator rights installs for all users.
    ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $2 HKCU "${UNINST_KEY}" "InstallLocation"
    ${If} $IsAdmin = 1
    ${AndIf} $1 != ""
      StrCpy $Mode "all"
    ${ElseIf} $2 != ""
      StrCpy $Mode "user"
    ${ElseIf} $1 != ""
    ${OrIf} $IsAdmin = 1
      StrCpy $Mode "all"
    ${Else}
      StrCpy $Mode "user"
    ${EndIf}
  ${Else}
    StrCpy $ModeGiven 1
  ${EndIf}
  Call ApplyMode

  ; All users without the rights: the copy started with them does the work, asking first when
  ; silent or told so; else the first page offers the choice.
  ${If} $Mode == "all"
  ${AndIf} $IsAdmin <> 1
  ${AndIf} $Relaunched <> 1
  ${If} ${Silent}
  ${OrIf} $ModeGiven = 1
    Call RelaunchForAllUsers
    SetErrorLevel ${EXIT_NEEDS_ADMIN}
    Quit
  ${EndIf}
  ${EndIf}
  ${If} ${Silent}
    Call CheckMayInstall
  ${EndIf}
  InitPluginsDir
FunctionEnd

; Runs this setup again with administrator rights, for all users, with the switches it was given,
; and ends with its exit code. Returns only when Windows did not grant the rights, having said so.
Function RelaunchForAllUsers
  StrCpy $R1 $EXEPATH
  ${GetParameters} $R2
  ; The user may have chosen all users on the first page of a setup started with /CURRENTUSER.
  ${StrRep} $R2 $R2 "/CURRENTUSER" ""
  StrCpy $R2 "$R2 /ALLUSERS /ELEVATED"
  ${If} $DirArg != ""
    StrCpy $R2 "$R2 /D=$DirArg"
  ${EndIf}
  HideWindow
  ; The copy takes over the one-setup-at-a-time mutex.
  System::Call 'kernel32::CloseHandle(p $SetupMutex)'
  Call RelaunchElevated
  ${If} $0 == "refused"
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Ostrelan.Dirvane.Setup") p .s'
    Pop $SetupMutex
    BringToFront
    MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} for all users needs administrator rights, and they were not granted." /SD IDOK
    Return
  ${EndIf}
  SetErrorLevel $0
  Quit
FunctionEnd

; Sets the registry root, the folders and, unless /D= named one, the install folder for $Mode: an
; upgrade goes where that mode's installed version is.
Function ApplyMode
  Call UseMode
  ${If} $DirGiven <> 1
    ReadRegStr $INSTDIR SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $INSTDIR == ""
      ${If} $Mode == "user"
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
      ${Else}
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

; Sets $R9 to why $INSTDIR cannot take the product, or to "": a drive's root, a folder of Windows,
; or one of the folders that hold other programs or the users' files.
Function CheckInstallFolder
  Push $0
  Push $1
  Push $2
  StrCpy $R9 ""
  StrCpy $0 $INSTDIR
  Call NormaliseFolder
  ${If} $0 == ""
    StrCpy $R9 "The folder name is not valid."
    Goto done
  ${EndIf}
  ${GetRoot} $0 $1
  StrCpy $2 $0 4
  ${If} $1 == ""
  ${OrIf} $2 == "\\?\"
  ${OrIf} $2 == "\\.\"
    StrCpy $R9 "The folder name is not valid."
    Goto done
  ${EndIf}
  ${If} $0 == $1
    StrCpy $R9 "$0 is the root of a drive."
    Goto done
  ${EndIf}
  StrLen $1 "$WINDIR\"
  StrCpy $2 $0 $1
  ${If} $0 == $WINDIR
  ${OrIf} $2 == "$WINDIR\"
    StrCpy $R9 "$0 belongs to Windows."
    Goto done
  ${EndIf}
  ${GetParent} $PROFILE $1
  ${If} $0 == $PROGRAMFILES64
  ${OrIf} $0 == $PROGRAMFILES32
  ${OrIf} $0 == $1
  ${OrIf} $0 == $PROFILE
    StrCpy $R9 "$0 holds other programs or your files."
  ${EndIf}
  ; The folders of both the user and all users.
  ${ForEach} $2 1 2 + 1
    ${If} $2 = 1
      SetShellVarContext current
    ${Else}
      SetShellVarContext all
    ${EndIf}
    ${If} $0 == "$LOCALAPPDATA\Programs"
    ${OrIf} $0 == $LOCALAPPDATA
    ${OrIf} $0 == $APPDATA
    ${OrIf} $0 == $DESKTOP
    ${OrIf} $0 == $DOCUMENTS
      StrCpy $R9 "$0 holds other programs or your files."
    ${EndIf}
  ${Next}
  Call UseMode
  ${If} $R9 == ""
  ${AndIf} $Mode == "all"
    Call CheckAllUsersFolder
  ${EndIf}
  ${If} $R9 == ""
    Call CheckReparsePoints
  ${EndIf}
  ; Uninstall.exe is what most installers call their uninstaller: another program's would be
  ; overwritten here, and deleted by this product's uninstall. A folder of this product holds its
  ; DLL too, or is the one its uninstall entry names.
  ${If} $R9 == ""
  ${AndIf} ${FileExists} "$0\Uninstall.exe"
  ${AndIfNot} ${FileExists} "$0\Dirvane.dll"
    ReadRegStr $1 SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $1 != $0
      StrCpy $R9 "$0 holds another program's uninstaller."
    ${EndIf}
  ${EndIf}
done:
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The checks that a silent install cannot ask about: refuses, with its exit code, to go on.
Function CheckMayInstall
  ${If} $Mode == "all"
  ${AndIf} $IsAdmin <> 1
    MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} for all users needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NEEDS_ADMIN}
    Abort
  ${EndIf}
  ${If} $Mode == "user"
    Call CheckNotElevatedAboveTheDesktop
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
      SetErrorLevel ${EXIT_ELEVATED}
      Abort
    ${EndIf}
  ${EndIf}
  Call CheckInstallFolder
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} cannot be installed into this folder: $R9 Choose a folder of its own." /SD IDOK
    SetErrorLevel ${EXIT_REFUSED}
    Abort
  ${EndIf}
FunctionEnd

; The first page: for whom to install. All users needs administrator rights: without them, choosing
; it starts Setup again with them. The copy so started does not ask again.
Function ModePage
  ${If} $Relaunched = 1
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Choose Users" "Choose for whom ${PRODUCT} ${VERSION} is installed."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "${PRODUCT} adds your bookmarked folders to the right-click menu of Explorer and of the Open and Save dialogs."
  Pop $0
  SetShellVarContext current
  StrCpy $1 "$LOCALAPPDATA\Programs\${PRODUCT}"
  Call UseMode
  ${NSD_CreateRadioButton} 0 30u 100% 12u "Only for &me"
  Pop $UserRadio
  ${NSD_CreateLabel} 12u 43u 95% 18u "Needs no administrator rights. Installed in your own programs folder:$\n$1"
  Pop $0
  ${NSD_CreateRadioButton} 0 68u 100% 12u "For &everyone who uses this computer"
  Pop $AllRadio
  ${If} $IsAdmin = 1
    StrCpy $2 "Needs administrator rights. Installed in:"
  ${Else}
    StrCpy $2 "Needs administrator rights: Windows asks for them. Installed in:"
  ${EndIf}
  ${NSD_CreateLabel} 12u 81u 95% 18u "$2$\n$PROGRAMFILES64\${PRODUCT}"
  Pop $0
  ${If} $Mode == "user"
    ${NSD_Check} $UserRadio
  ${Else}
    ${NSD_Check} $AllRadio
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $AllRadio $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $Mode "all"
  ${Else}
    StrCpy $Mode "user"
  ${EndIf}
  Call ApplyMode
  ${If} $Mode == "all"
  ${AndIf} $IsAdmin <> 1
    Call RelaunchForAllUsers
    Abort
  ${EndIf}
  ${If} $Mode == "user"
    Call CheckNotElevatedAboveTheDesktop
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONSTOP "$R9"
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DirectoryPageLeave
  Call CheckInstallFolder
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} cannot be installed into this folder: $R9$\n$\nChoose a folder of its own."
    Abort
  ${EndIf}
FunctionEnd

; Reads one line of the open file $R0 into $R1 without its line end; sets the error flag at the end
; of the file. A line longer than a string here is cut and the rest of it skipped, so the records
; that follow stay in step.
Function ReadLine
  Push $R2
  Push $R3
  StrCpy $R3 0
  ClearErrors
  FileRead $R0 $R1
  ${If} ${Errors}
    StrCpy $R3 1
  ${Else}
    StrCpy $R2 $R1 1 -1
    ${DoWhile} $R2 != "$\n"
      FileRead $R0 $R2
      ${IfThen} ${Errors} ${|} ${Break} ${|}  ; the last line had no line end
      StrCpy $R2 $R2 1 -1
    ${Loop}
    ${Do}
      StrCpy $R2 $R1 1 -1
      ${If} $R2 == "$\n"
      ${OrIf} $R2 == "$\r"
        StrCpy $R1 $R1 -1
      ${Else}
        ${Break}
      ${EndIf}
    ${Loop}
  ${EndIf}
  ; Testing the error flag clears it: set it again for the caller at the end of the file.
  ${If} $R3 = 1
    Pop $R3
    Pop $R2
    SetErrors
  ${Else}
    Pop $R3
    Pop $R2
    ClearErrors
  ${EndIf}
FunctionEnd

Function SkipWhenUpgrading
  ${If} ${FileExists} "$INSTDIR\Dirvane.dll"
    Abort
  ${EndIf}
FunctionEnd

; Sets $ToolDir, where Tessaly64.exe runs and the setup keeps the notes it acts on (the holders, the
; files it renamed aside), and puts Tessaly there; $ToolDir stays "" when that fails. With
; administrator rights that is a new folder that only administrators can open, since the user's temp
; folder (NSIS's plugins folder) is open to every program of the user's: one that swapped Tessaly or
; edited a note would have the setup run its code, or rename or end what it names, with those rights.
Function PrepareToolDir
  ${If} $ToolDir != ""
    Return
  ${EndIf}
  ${If} $IsAdmin = 1
    Call CreatePrivateFolder
  ${Else}
    StrCpy $ToolDir $PLUGINSDIR
  ${EndIf}
  ${If} $ToolDir != ""
    ClearErrors
    File "/oname=$ToolDir\Tessaly64.exe" "${DIST}\Tessaly64.exe"
    ${If} ${Errors}
      Call RemoveToolDir
    ${EndIf}
  ${EndIf}
  ClearErrors
FunctionEnd

; Removes the administrators' folder of PrepareToolDir (NSIS removes its plugins folder itself).
Function RemoveToolDir
  ${If} $ToolDir != ""
  ${AndIf} $ToolDir != $PLUGINSDIR
    SetOutPath $TEMP
    Delete "$ToolDir\Tessaly64.exe"
    Delete "$ToolDir\holders.txt"
    Delete "$ToolDir\explorer.txt"
    Delete "$ToolDir\moved.ini"
    Delete "$ToolDir\Dirvane.msix"
    RMDir "$ToolDir"
  ${EndIf}
  StrCpy $ToolDir ""
FunctionEnd

Function .onGUIEnd
  Call RemoveToolDir
FunctionEnd

; Runs Tessaly on the DLL's name; its record file lists the processes that have a Dirvane.dll
; loaded (no file, or no Tessaly: none is listed).
Function FindHolders
  Call PrepareToolDir
  Delete "$ToolDir\holders.txt"
  ${If} $ToolDir == ""
    DetailPrint "Programs that use ${PRODUCT} cannot be searched: no private folder for Tessaly"
    StrCpy $HolderCount 0
    Return
  ${EndIf}
  ExecWait '"$ToolDir\Tessaly64.exe" Dirvane.dll "$ToolDir\holders.txt"'
  StrCpy $HolderMode "count"
  Call ForEachHolder
FunctionEnd

; Opens the process $R4 with the access $R2 and sets $R3 to its creation time, or to "" when it
; cannot be opened; leaves the handle in $R2 (0 when none). The creation time tells the process
; from a later one that was given the same identifier.
Function OpenHolder
  System::Call 'kernel32::OpenProcess(i R2, i 0, i R4) p .R2'
  StrCpy $R3 ""
  ${If} $R2 P<> 0
    System::Call 'kernel32::GetProcessTimes(p R2, *l .R3, *l .r9, *l .r9, *l .r9) i .r9'
    ${If} $9 = 0
      System::Call 'kernel32::CloseHandle(p R2)'
      StrCpy $R2 0
      StrCpy $R3 ""
    ${EndIf}
  ${EndIf}
FunctionEnd

; Walks the records of the last search: "<pid>\r\n<title>\r\n<exe name>\r\n<image path>\r\n\r\n"
; each. A process listed twice in a row (its executable and a module of the same name) counts once.
; Sets $HolderCount. "list" fills the holders page and notes each process's identity in $Listed;
; "close" ends those of this search that are the very processes listed.
Function ForEachHolder
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $HolderCount 0
  StrCpy $R7 ""
  ClearErrors
  FileOpen $R0 "$ToolDir\holders.txt" r
  ${IfNot} ${Errors}
    ${Do}
      Call ReadLine
      ${IfThen} ${Errors} ${|} ${Break} ${|}
      ${IfThen} $R1 == "" ${|} ${Continue} ${|}
      StrCpy $R4 $R1            ; process identifier
      Call ReadLine
      StrCpy $R5 $R1            ; title
      Call ReadLine
      StrCpy $R6 $R1            ; executable's file name
      Call ReadLine             ; image path
      Call ReadLine             ; empty line
      ClearErrors
      IntOp $R1 $R4 + 0
      ${If} $R1 <> 0
      ${AndIf} "$R1" == "$R4"
      ${AndIf} $R4 != $R7
        StrCpy $R7 $R4
        IntOp $HolderCount $HolderCount + 1
        ${If} $HolderMode == "list"
          ${If} $R6 == ""
            SendMessage $HolderList ${LB_ADDSTRING} 0 "STR:$R5"
          ${Else}
            SendMessage $HolderList ${LB_ADDSTRING} 0 "STR:$R5 ($R6)"
          ${EndIf}
          StrCpy $R2 0x1000         ; PROCESS_QUERY_LIMITED_INFORMATION
          Call OpenHolder
          ${If} $R2 P<> 0
            System::Call 'kernel32::CloseHandle(p R2)'
            ; A list too long for one string keeps its first processes: the rest are not closed.
            StrLen $R1 "$Listed$R4:$R3|"
            ${If} $R1 < ${NSIS_MAX_STRLEN}
              StrCpy $Listed "$Listed$R4:$R3|"
            ${EndIf}
          ${EndIf}
        ${ElseIf} $HolderMode == "close"
          Call CloseHolder
        ${Else}
          DetailPrint "Dirvane.dll is in use by $R5 ($R6)"
        ${EndIf}
      ${EndIf}
    ${Loop}
    FileClose $R0
  ${EndIf}
  ClearErrors
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; Ends the process $R4 (title $R5, executable $R6) of a fresh search, but only when it is one the
; user saw listed: the same identifier and the same creation time, checked and ended through one
; handle, so that no other process can take the identifier in between. A setup running as
; administrator leaves Explorer alone: it could only start it again with its own rights.
Function CloseHolder
  ${If} $R6 == "explorer.exe"
  ${AndIf} $IsAdmin = 1
    DetailPrint "Explorer is left running; it keeps the old ${PRODUCT} until you sign out"
    Return
  ${EndIf}
  StrCpy $R2 0x101001       ; PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE
  Call OpenHolder
  ${If} $R2 P= 0
    Return
  ${EndIf}
  ${StrStr} $R1 $Listed "|$R4:$R3|"
  ${If} $R1 == ""
    DetailPrint "Not closing $R5 ($R6): it was not listed"
  ${Else}
    DetailPrint "Closing $R5 ($R6)"
    System::Call 'kernel32::TerminateProcess(p R2, i 1) i .r9'
    ${If} $9 <> 0
      System::Call 'kernel32::WaitForSingleObject(p R2, i 5000) i .r9'
      ${If} $R6 == "explorer.exe"
        StrCpy $RestartExplorer 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p R2)'
FunctionEnd

Function HoldersPage
  ${IfNot} ${FileExists} "$INSTDIR\Dirvane.dll"
    Abort
  ${EndIf}
  Call FindHolders
  ${If} $HolderCount = 0
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Programs Using ${PRODUCT}" "Close them, or finish the update when Windows restarts."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "These programs have the installed ${PRODUCT} loaded:"
  Pop $0
  nsDialogs::CreateControl LISTBOX ${DEFAULT_STYLES}|${WS_TABSTOP}|${WS_VSCROLL}|${LBS_NOINTEGRALHEIGHT} ${WS_EX_CLIENTEDGE} 0 20u 100% 62u ""
  Pop $HolderList
  StrCpy $Listed "|"
  StrCpy $HolderMode "list"
  Call ForEachHolder
  ${If} $IsAdmin = 1
    StrCpy $1 "Explorer is left running until you sign out."
  ${Else}
    StrCpy $1 "Explorer is started again."
  ${EndIf}
  ${If} $Mode == "all"
    StrCpy $2 "when Windows restarts"
  ${Else}
    StrCpy $2 "the next time Setup runs"
  ${EndIf}
  ${NSD_CreateRadioButton} 0 88u 100% 20u "&Close these programs now. Unsaved work in them is lost; $1"
  Pop $CloseRadio
  ${NSD_CreateRadioButton} 0 110u 100% 26u "C&ontinue without closing them. Programs started from now on use the new version; the old file is removed $2."
  Pop $0
  ${If} $CloseHolders == 1
    ${NSD_Check} $CloseRadio
  ${Else}
    ${NSD_Check} $0
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function HoldersPageLeave
  ${NSD_GetState} $CloseRadio $CloseHolders
  ${If} $CloseHolders <> ${BST_CHECKED}
    StrCpy $CloseHolders 0
  ${Else}
    StrCpy $CloseHolders 1
  ${EndIf}
FunctionEnd

; Searches again and ends those holders that are the processes the user saw listed (each one is
; waited for, with a limit, as it is ended). A program that closed by itself, and one started
; since, is left alone; the DLL that they hold is renamed aside.
Function CloseHolders
  Call FindHolders
  StrCpy $HolderMode "close"
  Call ForEachHolder
FunctionEnd

; The shell closed for the upgrade comes back even when the installation fails. Only a setup
; without administrator rights closes it, so it comes back as the user who is logged on.
Function .onInstFailed
  ${If} $RestartExplorer == 1
    Call RestartExplorer
  ${EndIf}
  Call RemoveToolDir
FunctionEnd

Function RestartExplorer
  Call PrepareToolDir
  Delete "$ToolDir\explorer.txt"
  ; Windows may have started the shell again by itself.
  ExecWait '"$ToolDir\Tessaly64.exe" explorer.exe "$ToolDir\explorer.txt"'
  ${IfNot} ${FileExists} "$ToolDir\explorer.txt"
    Exec '"$WINDIR\explorer.exe"'
  ${EndIf}
FunctionEnd


; An install that fails takes away what it wrote, and only that, and puts back the files it renamed
; aside: a fresh install leaves the folder as it found it, an upgrade leaves the installed version
; (its uninstaller, rewritten alike, stays) registered as it was.
Function UndoInstall
  ${StrStr} $0 $Written "|Dirvane.dll|"
  ${If} $0 != ""
  ${AndIf} $FreshInstall == 1
    ExecWait '"${REGSVR32}" /s /u /n /i:$ClassStore "$INSTDIR\Dirvane.dll"'
  ${EndIf}
  ${ForEach} $1 1 4 + 1
    Call ProductFile
    ${StrStr} $0 $Written "|$2|"
    ${If} $0 != ""
      ${If} $FreshInstall == 1
      ${OrIf} $1 < 4
        Delete "$INSTDIR\$2"
      ${EndIf}
    ${EndIf}
    ReadINIStr $3 "$ToolDir\moved.ini" "moved" $2
    ${If} $3 != ""
      ClearErrors
      Rename $3 "$INSTDIR\$2"
      ${IfNot} ${Errors}
        DeleteRegValue SHCTX "${ASIDE_KEY}" $3
      ${EndIf}
    ${EndIf}
  ${Next}
  ${StrStr} $0 $Written "|Dirvane.dll|"
  ${If} $0 != ""
  ${AndIf} $FreshInstall != 1
  ${AndIf} ${FileExists} "$INSTDIR\Dirvane.dll"
    ; The installed version may predate DllInstall: an all-users one registered itself in HKCR.
    ${If} $Mode == "all"
      ExecWait '"${REGSVR32}" /s "$INSTDIR\Dirvane.dll"'
    ${Else}
      ExecWait '"${REGSVR32}" /s /n /i:user "$INSTDIR\Dirvane.dll"'
    ${EndIf}
  ${EndIf}
  ${If} $FreshInstall == 1
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
  ${EndIf}
  ClearErrors
FunctionEnd

; After a successful install: the copies this run renamed aside go now, or at the restart while held.
Function ScheduleHeldCopies
  Call DeleteOldCopies
  ${ForEach} $1 1 3 + 1
    Call ProductFile
    ReadINIStr $3 "$ToolDir\moved.ini" "moved" $2
    ${If} $3 != ""
    ${AndIf} ${FileExists} $3
      Push $0
      Push $1
      StrCpy $0 $2
      StrCpy $1 $3
      Call ScheduleCopy
      Pop $1
      Pop $0
    ${EndIf}
  ${Next}
FunctionEnd

!macro Fail code message
  MessageBox MB_OK|MB_ICONSTOP "${message}" /SD IDOK
  Call UndoInstall
  SetErrorLevel ${code}
  Abort
!macroend

; Writes a file of the product, moving the installed one aside first. One that cannot be moved
; stops the installation instead of leaving the old file in place unnoticed.
!macro ReplaceFile name
  StrCpy $0 "${name}"
  Call MoveAside
  ${If} ${FileExists} "$INSTDIR\${name}"
    !insertmacro Fail ${EXIT_IN_USE} "${name} is in use and cannot be replaced. Close the program that uses it and run Setup again."
  ${EndIf}
  ClearErrors
  File "${DIST}\${name}"
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_WRITE_FAILED} "${name} could not be written to $INSTDIR."
  ${EndIf}
  StrCpy $Written "$Written|${name}|"
!macroend

; The Windows 11 first-level menu: registers the package that this setup carries with the installed
; files as its external location, for the account that installs (the package names the folder; the
; user's own registration is the only kind Windows offers without provisioning the machine). Without
; it the classic menu does everything: it is never a reason to fail the install. The outcome is noted
; in the uninstall entry and the details.
Function RegisterPackage
!ifndef PACKAGE
  StrCpy $0 "classic menu only: this setup carries no signed package"
!else
  ${If} ${AtLeastBuild} ${WINDOWS_11_BUILD}
    Call RunsAsAnotherAccount
    Call PrepareToolDir
    ${If} $0 = 1
      StrCpy $0 "classic menu only: Setup runs as another account than the desktop's"
    ${ElseIf} $ToolDir == ""
      StrCpy $0 "classic menu only: no private folder for the package"
    ${Else}
      ClearErrors
      File "/oname=$ToolDir\Dirvane.msix" "${PACKAGE}"
      ${If} ${Errors}
        StrCpy $0 "the package could not be written"
      ${Else}
        ; An earlier install's package of another family (signed with a certificate of another
        ; subject) would stay registered beside this one, a second "Dirvane" in the menu and a
        ; second claim on our class: it goes first.
        ClearErrors
        ReadRegStr $1 SHCTX "${UNINST_KEY}" "WindowsMenuPackage"
        ${IfNot} ${Errors}
        ${AndIf} $1 != "${PACKAGE_FAMILY}"
          Call RemovePackageFamily
          ${If} $0 == ""
          ${OrIf} $0 == "PowerShell: 3"
            DeleteRegValue SHCTX "${UNINST_KEY}" "WindowsMenuPackage"
          ${Else}
            DetailPrint "The earlier Windows 11 menu package $1 could not be removed ($0)"
            System::Call 'kernel32::OutputDebugStringW(w "Dirvane Setup: earlier package not removed: $0")'
          ${EndIf}
        ${EndIf}
        System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_PACKAGE", w "$ToolDir\Dirvane.msix")'
        System::Call 'kernel32::SetEnvironmentVariableW(w "DIRVANE_EXTERNAL_LOCATION", w "$INSTDIR")'
        StrCpy $R1 "Add-AppxPackage -Path $$env:DIRVANE_PACKAGE -ExternalLocation $$env:DIRVANE_EXTERNAL_LOCATION -ForceUpdateFromAnyVersion | Out-Null"
        Call RunPackageCommand
      ${EndIf}
      Delete "$ToolDir\Dirvane.msix"
      ${If} $0 == ""
        WriteRegStr SHCTX "${UNINST_KEY}" "WindowsMenuPackage" "${PACKAGE_FAMILY}"
        StrCpy $0 "Windows 11 menu: package ${PACKAGE_NAME} registered"
      ${Else}
        StrCpy $0 "classic menu only: the package could not be registered ($0)"
      ${EndIf}
    ${EndIf}
  ${Else}
    StrCpy $0 "classic menu only: Windows before Windows 11"
  ${EndIf}
!endif
  DetailPrint "$0"
  WriteRegStr SHCTX "${UNINST_KEY}" "WindowsMenu" "$0"
  ClearErrors
FunctionEnd

Section "Dirvane" SecMain
  SectionIn RO
  SetRegView 64
  Call UseMode
  StrCpy $FreshInstall 0
  StrCpy $Written "|"
  ; Checked again here: the pages may have changed the mode or the folder.
  Call CheckMayInstall
  ${IfNot} ${FileExists} "$INSTDIR\Dirvane.dll"
  ${AndIfNot} ${FileExists} "$INSTDIR\Uninstall.exe"
    StrCpy $FreshInstall 1
  ${EndIf}
  Call PrepareToolDir
  ${If} $ToolDir == ""
    !insertmacro Fail ${EXIT_WRITE_FAILED} "Setup could not create its working folder."
  ${EndIf}
  ClearErrors
  ${If} $Mode == "all"
  ${AndIfNot} ${FileExists} "$INSTDIR\*.*"
    ; A new folder for all users is open to administrators only, whatever the folders above allow.
    ${GetParent} $INSTDIR $1
    CreateDirectory $1
    Push $R1
    Push $R2
    StrCpy $R1 $INSTDIR
    StrCpy $R2 "${PROTECTED_FOLDER_SDDL}"
    Call CreateFolderWithAccess
    Pop $R2
    Pop $R1
    ${If} $0 <> 1
      !insertmacro Fail ${EXIT_WRITE_FAILED} "$INSTDIR could not be created."
    ${EndIf}
  ${EndIf}
  ClearErrors
  CreateDirectory "$INSTDIR"
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_WRITE_FAILED} "$INSTDIR could not be created."
  ${EndIf}

  ${If} ${FileExists} "$INSTDIR\Dirvane.dll"
    ${If} $CloseHolders == 1
      Call CloseHolders
    ${Else}
      ; Silent, or the user chose to continue: the old DLL is renamed aside below.
      Call FindHolders
    ${EndIf}
  ${EndIf}

  Call DeleteOldCopies
  !insertmacro ReplaceFile "Dirvane.dll"
  !insertmacro ReplaceFile "Tessaly.exe"
  !insertmacro ReplaceFile "Tessaly64.exe"
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_WRITE_FAILED} "The uninstaller could not be written to $INSTDIR."
  ${EndIf}
  StrCpy $Written "$Written|Uninstall.exe|"

  DetailPrint "Registering Dirvane.dll"
  ClearErrors
  ExecWait '"${REGSVR32}" /s /n /i:$ClassStore "$INSTDIR\Dirvane.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 <> 0
    !insertmacro Fail ${EXIT_NOT_REGISTERED} "Dirvane.dll could not be registered (code $0)."
  ${EndIf}
  Call ScheduleHeldCopies

  ${If} $Mode == "user"
    StrCpy $1 "/CURRENTUSER"
  ${Else}
    StrCpy $1 "/ALLUSERS"
  ${EndIf}
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Dirvane.dll,0"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" $1'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" $1 /S'
  !if "${HOMEPAGE}" != ""
    WriteRegStr SHCTX "${UNINST_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  !endif
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" "$0"
  Call RegisterPackage

  ${If} $RestartExplorer == 1
    Call RestartExplorer
  ${EndIf}
  ; The new version works at once; the renamed old files need no restart to be harmless.
  SetRebootFlag false
  Call RemoveToolDir
SectionEnd

; ---------------------------------------------------------------------------------------------
; Uninstaller

Function un.onInit
  Call un.ProtectPluginsFolder
  SetRegView 64
  Call un.CheckAdmin
  StrCpy $RemoveData 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveData 1
  ${EndIf}
  ; Every check below works on the folder's one true name: "_?=" can name it in any form.
  StrCpy $0 $INSTDIR
  Call un.NormaliseFolder
  ${If} $0 == ""
    SetErrorLevel ${EXIT_REFUSED}
    Quit
  ${EndIf}
  StrCpy $INSTDIR $0
  ; The uninstall entry names the mode; without it, the mode whose entry names this folder. The
  ; machine's entry, which only administrators can write, comes first: the user's programs can write
  ; the user's entry, and must not turn the uninstall of the all-users install into a per-user one.
  Call un.ReadModeSwitch
  ${If} $Mode != "user"
  ${AndIf} $Mode != "all"
    ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $2 HKCU "${UNINST_KEY}" "InstallLocation"
    ${If} $1 != $INSTDIR
    ${AndIf} $2 == $INSTDIR
      StrCpy $Mode "user"
    ${Else}
      StrCpy $Mode "all"
    ${EndIf}
  ${EndIf}
  Call un.UseMode
  ; An uninstaller for all users works with administrator rights: only on a folder that only they
  ; can change, never on a copy of the uninstaller and a DLL that a user put somewhere else.
  ${If} $Mode == "all"
    StrCpy $0 $INSTDIR
    Call un.CheckAllUsersFolder
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} cannot be removed from $INSTDIR: $R9" /SD IDOK
      SetErrorLevel ${EXIT_REFUSED}
      Quit
    ${EndIf}
  ${EndIf}
  ; Without the rights, the uninstaller asks for them once: it runs again with them, from the install
  ; folder itself (_?=), not from a copy in the user's temp folder that the user's programs could swap.
  StrCpy $Relaunched 1
  ClearErrors
  ${GetOptions} $R0 "/ELEVATED" $1
  ${IfThen} ${Errors} ${|} StrCpy $Relaunched 0 ${|}
  ${If} $Mode == "all"
  ${AndIf} $IsAdmin <> 1
    ${If} $Relaunched <> 1
      StrCpy $R1 "$INSTDIR\Uninstall.exe"
      StrCpy $R2 "$R0 /ALLUSERS /ELEVATED _?=$INSTDIR"
      Call un.RelaunchElevated
      ${If} $0 != "refused"
        SetErrorLevel $0
        Quit
      ${EndIf}
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} was installed for all users: removing it needs administrator rights, and they were not granted." /SD IDOK
    SetErrorLevel ${EXIT_NEEDS_ADMIN}
    Quit
  ${EndIf}
  ClearErrors
  ${If} $Mode == "user"
    Call un.CheckNotElevatedAboveTheDesktop
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
      SetErrorLevel ${EXIT_ELEVATED}
      Quit
    ${EndIf}
  ${EndIf}
  ; Deletes and renames never go through a link to another place.
  StrCpy $0 $INSTDIR
  Call un.CheckReparsePoints
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} cannot be removed from $INSTDIR: $R9" /SD IDOK
    SetErrorLevel ${EXIT_REFUSED}
    Quit
  ${EndIf}
  StrCpy $ExitCode 0
  StrCpy $HandedOver 0
  ClearErrors
  ${GetOptions} $R0 "/HANDOVER" $1
  ${IfNot} ${Errors}
    StrCpy $HandedOver 1
  ${ElseIf} $Mode == "all"
    StrCpy $0 $EXEDIR
    Call un.NormaliseFolder
    ${If} $0 == $INSTDIR
      Call un.HandOver
    ${EndIf}
  ${EndIf}
  ClearErrors
FunctionEnd

; Run in place (as the copy with administrator rights is, see above), the uninstaller could not
; remove its own file, which NSIS keeps open. It copies itself into a folder that only
; administrators can open, starts that copy with its switches and waits until the copy has done all
; but remove this file (its done.txt holds the exit code) or has ended, then ends with that code.
; Without such a folder it goes on in place, and its own file stays.
Function un.HandOver
  Call un.CreatePrivateFolder
  ${If} $ToolDir == ""
    Return
  ${EndIf}
  ClearErrors
  CopyFiles /SILENT "$EXEPATH" "$ToolDir\Uninstall.exe"
  ${If} ${Errors}
    Return
  ${EndIf}
  System::Alloc 104          ; STARTUPINFOW
  Pop $1
  System::Call '*$1(i 104)'
  System::Alloc 24           ; PROCESS_INFORMATION
  Pop $2
  System::Call 'kernel32::CreateProcessW(p 0, w `"$ToolDir\Uninstall.exe" $R0 /HANDOVER _?=$INSTDIR`, p 0, p 0, i 0, i 0, p 0, p 0, p r1, p r2) i .r0'
  System::Call '*$2(p .r3, p .r4)'
  System::Free $1
  System::Free $2
  ${If} $0 = 0
    Return
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r4)'
  StrCpy $0 1
  ${Do}
    System::Call 'kernel32::WaitForSingleObject(p r3, i 100) i .r5'
    ${If} $5 = 0
      System::Call 'kernel32::GetExitCodeProcess(p r3, *i .r0)'
      ${Break}
    ${EndIf}
    ${If} ${FileExists} "$ToolDir\done.txt"
      FileOpen $6 "$ToolDir\done.txt" r
      FileRead $6 $0
      FileClose $6
      ${Break}
    ${EndIf}
  ${Loop}
  System::Call 'kernel32::CloseHandle(p r3)'
  SetErrorLevel $0
  Quit
FunctionEnd

; Removes the Windows 11 menu's package when the install registered it, for this account: only
; the package of the family the install recorded, never another publisher's of the same name.
Function un.RemovePackage
  ClearErrors
  ReadRegStr $1 SHCTX "${UNINST_KEY}" "WindowsMenuPackage"
  ${If} ${Errors}
    Return
  ${EndIf}
  Push $1
  Call un.RunsAsAnotherAccount   ; changes $1 among others
  Pop $1
  ${If} $0 = 1
    StrCpy $0 "it is registered for the desktop's account, and this uninstaller runs as another"
  ${Else}
    Call un.RemovePackageFamily
  ${EndIf}
  ${If} $0 == ""
    DetailPrint "Removed the Windows 11 menu's package"
  ${ElseIf} $0 == "PowerShell: 3"
    DetailPrint "The Windows 11 menu's package is not registered for this account: nothing to remove"
  ${Else}
    DetailPrint "The Windows 11 menu's package could not be removed ($0)"
    System::Call 'kernel32::OutputDebugStringW(w "Dirvane Setup: package not removed: $0")'
  ${EndIf}
FunctionEnd

!macro DeleteHandlerKey class
  DeleteRegKey SHCTX "Software\Classes\${class}\${HANDLER}"
!macroend

Section "Uninstall"
  SetRegView 64
  Call un.UseMode
  Call un.RunsAsAnotherAccount
  ${If} $0 = 1
    ${If} $RemoveData == 1
      DetailPrint "The bookmarks and settings are kept: this uninstaller runs as another account than the desktop's"
    ${EndIf}
    StrCpy $RemoveData 0
  ${ElseIfNot} ${Silent}
  ${AndIf} $RemoveData == 0
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Do you also want to remove your ${PRODUCT} bookmarks and settings?" /SD IDNO IDNO +2
      StrCpy $RemoveData 1
  ${EndIf}

  Call un.RemovePackage
  DetailPrint "Unregistering Dirvane.dll"
  StrCpy $0 1
  ${If} ${FileExists} "$INSTDIR\Dirvane.dll"
    ClearErrors
    ExecWait '"${REGSVR32}" /s /u /n /i:$ClassStore "$INSTDIR\Dirvane.dll"' $0
    ${IfThen} ${Errors} ${|} StrCpy $0 1 ${|}
  ${EndIf}
  ${If} $0 <> 0
    ; No DLL to ask, or it failed: remove its keys here, but only while they name this copy.
    ReadRegStr $1 SHCTX "Software\Classes\CLSID\${CLSID}\InprocServer32" ""
    ${If} $1 == "$INSTDIR\Dirvane.dll"
      DeleteRegKey SHCTX "Software\Classes\CLSID\${CLSID}"
      DeleteRegKey SHCTX "Software\Classes\AppID\${APPID}"
      DeleteRegKey SHCTX "Software\Classes\AppID\Dirvane.DLL"
      !insertmacro DeleteHandlerKey "*"
      !insertmacro DeleteHandlerKey "Folder"
      !insertmacro DeleteHandlerKey "InternetShortcut"
      !insertmacro DeleteHandlerKey "lnkfile"
      !insertmacro DeleteHandlerKey "Drive"
      !insertmacro DeleteHandlerKey "Directory"
      !insertmacro DeleteHandlerKey "Directory\Background"
    ${EndIf}
  ${EndIf}

  ; Only what the setup installed, and the copies it renamed aside: other files stay, and so does
  ; the folder that holds them.
  Call un.DeleteOldCopies
  ${ForEach} $1 1 3 + 1
    Call un.ProductFile
    StrCpy $0 $2
    Call un.MoveAside
    ${If} ${FileExists} "$INSTDIR\$0"
      StrCpy $ExitCode ${EXIT_IN_USE}
    ${EndIf}
  ${Next}
  ; The instance that handed the work over holds its file until the end (see un.HandOver).
  ${If} $HandedOver <> 1
    Delete "$INSTDIR\Uninstall.exe"
    ${If} $Mode == "all"
      RMDir /REBOOTOK "$INSTDIR"
    ${Else}
      RMDir "$INSTDIR"
    ${EndIf}
  ${EndIf}
  SetErrorLevel $ExitCode

  ${If} $RemoveData == 1
    DetailPrint "Removing the bookmarks and settings"
    DeleteRegKey HKCU "${DATA_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Ostrelan"
  ${EndIf}
  ${If} ${RebootFlag}
    DetailPrint "Some files are removed when Windows restarts."
  ${EndIf}
  ; The machine's restart removes the copies renamed aside, so their records go now; a user's
  ; records stay for the next install or uninstall, which removes those copies.
  ${If} $Mode == "all"
    DeleteRegKey SHCTX "Software\Ostrelan\Dirvane Setup"
    DeleteRegKey /ifempty SHCTX "Software\Ostrelan"
  ${EndIf}
  ; Last, so whoever waits for the uninstaller can watch this key.
  DeleteRegKey SHCTX "${UNINST_KEY}"

  ; Handed the work: the exit code for the instance that waits, then its file once it has ended.
  ${If} $HandedOver = 1
    FileOpen $1 "$EXEDIR\done.tmp" w
    FileWrite $1 $ExitCode
    FileClose $1
    Rename "$EXEDIR\done.tmp" "$EXEDIR\done.txt"
    ${ForEach} $1 1 100 + 1
      Delete "$INSTDIR\Uninstall.exe"
      ${IfNotThen} ${FileExists} "$INSTDIR\Uninstall.exe" ${|} ${Break} ${|}
      Sleep 100
    ${Next}
    RMDir /REBOOTOK "$INSTDIR"
    Delete "$EXEDIR\done.txt"
    Delete /REBOOTOK "$EXEPATH"
    RMDir /REBOOTOK "$EXEDIR"
  ${EndIf}
SectionEnd
