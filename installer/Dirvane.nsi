; Dirvane-Setup-<version>.exe: installs Dirvane.dll, Tessaly.exe and Tessaly64.exe into the 64-bit
; Program Files folder, registers the DLL in the 64-bit registry view and adds an uninstaller.
; Installing over an older version works while programs still have the old DLL loaded: Tessaly finds
; them, and the user either closes them or lets the old file be renamed aside until the next restart.
;
; Built by installer/CMakeLists.txt:
;   makensis -DVERSION=2.0.0.26 -DDIST=<folder of the three files> -DOUTFILE=<setup.exe> -DHOMEPAGE=<url> Dirvane.nsi
;
; Switches: /S silent (programs holding the old DLL are left running), /D=<folder> (last, unquoted).
; Uninstaller: /S silent, /REMOVEDATA also removes the bookmarks and settings.

; A 64-bit program: the DLL it installs is 64-bit only, so it needs 64-bit Windows anyway, and it
; sees the real system folder and registry without redirection.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
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

!define PRODUCT "Dirvane"
!define PUBLISHER "Ostrelan"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dirvane"
!define DATA_KEY "Software\Ostrelan\Dirvane"
!define CLSID "{5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}"
!define APPID "{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}"
!define HANDLER "ShellEx\ContextMenuHandlers\OV Dirvane"
; The 64-bit regsvr32: only a 64-bit process can load the DLL.
!define REGSVR32 "$SYSDIR\regsvr32.exe"

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

Var HolderList        ; list box of the holders page
Var CloseRadio
Var CloseHolders      ; 1: the user chose to close the programs that hold the DLL
Var HolderMode        ; what ForEachHolder does with each record: count, list or close
Var HolderCount
Var RestartExplorer   ; 1: an Explorer was closed and must be started again
Var RemoveData        ; 1: the uninstaller also removes the user's bookmarks and settings

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenUpgrading
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
; Moves $0 (a file in $INSTDIR) out of the way so a new one can be written: deleted when nothing
; holds it, else renamed aside (a loaded DLL can be renamed) and removed at the next restart. The
; renamed file keeps a pending delete away from the name a new file gets. The file stays in place
; only when it can be neither deleted nor renamed.
Function ${un}MoveAside
  Push $1
  Push $2
  ClearErrors
  ${If} ${FileExists} "$0"
    Delete "$0"
    ClearErrors
    ${If} ${FileExists} "$0"
      StrCpy $2 1
      ${DoWhile} ${FileExists} "$0.old-$2"
        IntOp $2 $2 + 1
      ${Loop}
      StrCpy $1 "$0.old-$2"
      ClearErrors
      Rename "$0" "$1"
      ${If} ${Errors}
        !if "${un}" == "un."
          Delete /REBOOTOK "$0"
        !else
          DetailPrint "$0 cannot be replaced"
        !endif
      ${Else}
        DetailPrint "$0 is in use: renamed to $1, removed when Windows restarts"
        Delete /REBOOTOK "$1"
        ClearErrors
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; Removes files that earlier runs renamed aside and that nothing holds any more.
Function ${un}DeleteOldCopies
  Push $0
  Push $1
  FindFirst $0 $1 "$INSTDIR\*.old-*"
  ${DoWhile} $1 != ""
    Delete "$INSTDIR\$1"
    FindNext $0 $1
  ${Loop}
  FindClose $0
  ClearErrors
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DV_SHARED ""
!insertmacro DV_SHARED "un."

; ---------------------------------------------------------------------------------------------
; Installer

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit version of Windows." /SD IDOK
    SetErrorLevel 1
    Abort
  ${EndIf}
  ; One installer at a time: two would replace the same files under each other.
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Ostrelan.Dirvane.Setup") p .r1 ?e'
  Pop $0
  ${If} $0 = 183
    MessageBox MB_OK|MB_ICONEXCLAMATION "${PRODUCT} Setup is already running." /SD IDOK
    SetErrorLevel 1
    Abort
  ${EndIf}
  SetRegView 64
  StrCpy $CloseHolders 0
  StrCpy $RestartExplorer 0
  ; /D= wins; otherwise an upgrade goes where the installed version is.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  InitPluginsDir
  File "/oname=$PLUGINSDIR\Tessaly64.exe" "${DIST}\Tessaly64.exe"
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

; Runs Tessaly on the DLL's name; its record file lists the processes that have a Dirvane.dll
; loaded (no file: none does).
Function FindHolders
  Delete "$PLUGINSDIR\holders.txt"
  ExecWait '"$PLUGINSDIR\Tessaly64.exe" Dirvane.dll "$PLUGINSDIR\holders.txt"'
  StrCpy $HolderMode "count"
  Call ForEachHolder
FunctionEnd

; Walks the records of the last search: "<pid>\r\n<title>\r\n<exe name>\r\n<image path>\r\n\r\n"
; each. A process listed twice in a row (its executable and a module of the same name) counts once.
; Sets $HolderCount.
Function ForEachHolder
  Push $R0
  Push $R1
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $HolderCount 0
  StrCpy $R7 ""
  ClearErrors
  FileOpen $R0 "$PLUGINSDIR\holders.txt" r
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
        ${ElseIf} $HolderMode == "close"
          DetailPrint "Closing $R5 ($R6)"
          ExecWait '"$PLUGINSDIR\Tessaly64.exe" $R4'
          ${If} $R6 == "explorer.exe"
            StrCpy $RestartExplorer 1
          ${EndIf}
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
  Pop $R1
  Pop $R0
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
  StrCpy $HolderMode "list"
  Call ForEachHolder
  ${NSD_CreateRadioButton} 0 88u 100% 20u "&Close these programs now. Unsaved work in them is lost; Explorer is started again."
  Pop $CloseRadio
  ${NSD_CreateRadioButton} 0 110u 100% 26u "C&ontinue without closing them. Programs started from now on use the new version; the old file is removed when Windows restarts."
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

; Closes the programs of the last search through Tessaly and waits, with a limit, until none
; holds the DLL any more.
Function CloseHolders
  StrCpy $HolderMode "close"
  Call ForEachHolder
  ${For} $1 1 20
    Call FindHolders
    ${IfThen} $HolderCount = 0 ${|} ${Break} ${|}
    Sleep 250
  ${Next}
FunctionEnd

; The shell closed for the upgrade comes back even when the installation fails.
Function .onInstFailed
  ${If} $RestartExplorer == 1
    Call RestartExplorer
  ${EndIf}
FunctionEnd

Function RestartExplorer
  Delete "$PLUGINSDIR\explorer.txt"
  ; Windows may have started the shell again by itself.
  ExecWait '"$PLUGINSDIR\Tessaly64.exe" explorer.exe "$PLUGINSDIR\explorer.txt"'
  ${IfNot} ${FileExists} "$PLUGINSDIR\explorer.txt"
    Exec '"$WINDIR\explorer.exe"'
  ${EndIf}
FunctionEnd

; Writes a file of the product, moving the installed one aside first. One that cannot be moved
; stops the installation instead of leaving the old file in place unnoticed.
!macro ReplaceFile name
  StrCpy $0 "$INSTDIR\${name}"
  Call MoveAside
  ${If} ${FileExists} "$0"
    MessageBox MB_OK|MB_ICONSTOP "${name} is in use and cannot be replaced. Close the program that uses it and run Setup again." /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}
  File "${DIST}\${name}"
!macroend

Section "Dirvane" SecMain
  SectionIn RO
  SetRegView 64
  SetOutPath "$INSTDIR"

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
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  DetailPrint "Registering Dirvane.dll"
  ClearErrors
  ExecWait '"${REGSVR32}" /s "$INSTDIR\Dirvane.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "Dirvane.dll could not be registered (code $0)." /SD IDOK
    SetErrorLevel 4
    Abort
  ${EndIf}

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Dirvane.dll,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  !if "${HOMEPAGE}" != ""
    WriteRegStr HKLM "${UNINST_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  !endif
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"

  ${If} $RestartExplorer == 1
    Call RestartExplorer
  ${EndIf}
  ; The new version works at once; the renamed old files need no restart to be harmless.
  SetRebootFlag false
SectionEnd

; ---------------------------------------------------------------------------------------------
; Uninstaller

Function un.onInit
  SetRegView 64
  StrCpy $RemoveData 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

!macro DeleteHandlerKey class
  DeleteRegKey HKCR "${class}\${HANDLER}"
!macroend

Section "Uninstall"
  SetRegView 64
  ${IfNot} ${Silent}
  ${AndIf} $RemoveData == 0
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Do you also want to remove your ${PRODUCT} bookmarks and settings?" /SD IDNO IDNO +2
      StrCpy $RemoveData 1
  ${EndIf}

  DetailPrint "Unregistering Dirvane.dll"
  StrCpy $0 1
  ${If} ${FileExists} "$INSTDIR\Dirvane.dll"
    ClearErrors
    ExecWait '"${REGSVR32}" /s /u "$INSTDIR\Dirvane.dll"' $0
    ${IfThen} ${Errors} ${|} StrCpy $0 1 ${|}
  ${EndIf}
  ${If} $0 <> 0
    ; No DLL to ask, or it failed: remove its keys here, but only while they name this copy.
    ReadRegStr $1 HKCR "CLSID\${CLSID}\InprocServer32" ""
    ${If} $1 == "$INSTDIR\Dirvane.dll"
      DeleteRegKey HKCR "CLSID\${CLSID}"
      DeleteRegKey HKCR "AppID\${APPID}"
      DeleteRegKey HKCR "AppID\Dirvane.DLL"
      !insertmacro DeleteHandlerKey "*"
      !insertmacro DeleteHandlerKey "Folder"
      !insertmacro DeleteHandlerKey "InternetShortcut"
      !insertmacro DeleteHandlerKey "lnkfile"
      !insertmacro DeleteHandlerKey "Drive"
      !insertmacro DeleteHandlerKey "Directory"
      !insertmacro DeleteHandlerKey "Directory\Background"
    ${EndIf}
  ${EndIf}

  StrCpy $0 "$INSTDIR\Dirvane.dll"
  Call un.MoveAside
  StrCpy $0 "$INSTDIR\Tessaly.exe"
  Call un.MoveAside
  StrCpy $0 "$INSTDIR\Tessaly64.exe"
  Call un.MoveAside
  Call un.DeleteOldCopies
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  ${If} $RemoveData == 1
    DetailPrint "Removing the bookmarks and settings"
    DeleteRegKey HKCU "${DATA_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Ostrelan"
  ${EndIf}
  ${If} ${RebootFlag}
    DetailPrint "Some files are removed when Windows restarts."
  ${EndIf}
  ; Last, so whoever waits for the uninstaller can watch this key.
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
