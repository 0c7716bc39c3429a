; The Sorvana Client installer. scripts/build-windows.sh builds it with
;   makensis -DVERSION=x.y.z -DDIST=<folder of the stripped programs> -DICON=<.ico>
;            -DOUTFILE=<setup.exe> [-DSIGN=<command that signs the file named by its last argument>]
; By default it installs for the current user alone, without administrator rights, into
; %LOCALAPPDATA%\Programs\Sorvana Client; /ALLUSERS installs for every user into the
; 64-bit program files folder (administrators only). /NOAUTOSTART leaves out the start at
; login. /S installs silently; /D=folder (last) chooses the folder.
; The uninstaller removes the program, its Start-menu entry, its entry in the list of
; installed programs and the start at login; settings (svClient.xml) stay.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Sorvana Client"
!define COMPANY "drumel"
!define PROGRAM "sorvana-client.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SorvanaClient"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${PRODUCT}"
!ifdef SIGN
; The uninstaller is signed as it is written into the installer.
!uninstfinalize '${SIGN} "%1"' = 0
!endif
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

Var AllUsers      ; 1: for every user of the machine
Var AutoStart     ; 1: start the program at login
Var DirGiven      ; 1: /D= chose the folder
Var AllUsersRadio
Var AutoStartBox

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
Page custom OptionsPage OptionsPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The default folder of the chosen mode, unless /D= gave one.
Function ChooseMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    ${If} $DirGiven != 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${Else}
    SetShellVarContext current
    ${If} $DirGiven != 1
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $DirGiven 0
  ${If} $INSTDIR != ""
    StrCpy $DirGiven 1
  ${EndIf}
  StrCpy $AllUsers 0
  StrCpy $AutoStart 1
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NOAUTOSTART" $R1
  ${IfNot} ${Errors}
    StrCpy $AutoStart 0
  ${EndIf}
  Call ChooseMode
  ${If} ${Silent}
  ${AndIf} $AllUsers == 1
    Call RequireAdmin
  ${EndIf}
FunctionEnd

; An installation for every user writes where only administrators may.
Function RequireAdmin
  UserInfo::GetAccountType
  Pop $R0
  ${If} $R0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "Installing for every user of this computer needs administrator rights: start the setup as an administrator, or install for yourself alone." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
FunctionEnd

Function OptionsPage
  !insertmacro MUI_HEADER_TEXT "Installation options" "Choose who uses ${PRODUCT} and whether it starts at login."
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateRadioButton} 0 0 100% 12u "Install for me only (no administrator rights needed)"
  Pop $R1
  ${NSD_CreateRadioButton} 0 16u 100% 12u "Install for every user of this computer (needs administrator rights)"
  Pop $AllUsersRadio
  ${If} $AllUsers == 1
    ${NSD_Check} $AllUsersRadio
  ${Else}
    ${NSD_Check} $R1
  ${EndIf}
  ${NSD_CreateCheckbox} 0 40u 100% 12u "Start ${PRODUCT} when I log in"
  Pop $AutoStartBox
  ${If} $AutoStart == 1
    ${NSD_Check} $AutoStartBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function OptionsPageLeave
  ${NSD_GetState} $AllUsersRadio $R0
  ${If} $R0 == ${BST_CHECKED}
    StrCpy $AllUsers 1
    Call RequireAdmin
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  ${NSD_GetState} $AutoStartBox $R0
  ${If} $R0 == ${BST_CHECKED}
    StrCpy $AutoStart 1
  ${Else}
    StrCpy $AutoStart 0
  ${EndIf}
  Call ChooseMode
FunctionEnd

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  File "${DIST}\${PROGRAM}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"

  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  ; SHCTX is HKLM in the "all" context (ChooseMode) and HKCU otherwise.
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $R0

  ; The start at login is the installing user's own, also for an installation for everyone.
  ${If} $AutoStart == 1
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'
  ${EndIf}
SectionEnd

Function un.onInit
  ; An installation for every user is the one that the machine's entry points to.
  SetShellVarContext current
  ReadRegStr $R0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $R0 == $INSTDIR
    UserInfo::GetAccountType
    Pop $R1
    ${If} $R1 != "Admin"
      MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} was installed for every user of this computer: only an administrator can remove it." /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
    SetShellVarContext all
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The start at login goes only when it starts this installation.
  ReadRegStr $R0 HKCU "${RUN_KEY}" "${PRODUCT}"
  ${If} $R0 == '"$INSTDIR\${PROGRAM}"'
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete /REBOOTOK "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Not recursive: settings kept beside the program keep their folder.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINST_KEY}"
SectionEnd
