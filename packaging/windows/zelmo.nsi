; zelmo's Windows installer, made by scripts/package with makensis:
;   makensis -DVERSION=1.0.0 -DVERSION_NUMBERS=1.0.0.0 -DEXE=zelmo.exe -DGUIDE=integrating.md
;            -DLICENSE=LICENSE -DICON=zelmo.ico -DOUTFILE=zelmo-1.0.0-setup.exe zelmo.nsi
; Silent: zelmo-VERSION-setup.exe /S [/D=C:\Folder] (/D last, unquoted); uninstall.exe /S.
;
; zelmo keeps its settings and receipts beside itself, and its manifest turns the VirtualStore
; redirection off, so it must live in a folder the operator's account can write. The default is
; C:\Zelmo: a folder at the root of the system drive inherits the right of every signed-in user
; to change files in it, as Program Files does not. Whatever the folder, the installer grants
; the Users group the right to change files in it.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelmo"
!define PUBLISHER "Zelmo"

Name "Zelmo"
Caption "Zelmo ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
BrandingText "Zelmo ${VERSION}"
; An update goes where the last installation went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=0 "ProductName" "Zelmo"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "Zelmo ${VERSION} setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 the Zelmo developers (MIT License)"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  ; Neither /D= nor an earlier installation named a folder: the root of the system drive.
  ${If} $INSTDIR == ""
    StrCpy $0 $WINDIR 2
    StrCpy $INSTDIR "$0\Zelmo"
  ${EndIf}
FunctionEnd

Section "Zelmo"
  SetOutPath "$INSTDIR"
  File "/oname=zelmo.exe" "${EXE}"
  File "/oname=integrating.md" "${GUIDE}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; zelmo writes Zelmocfg.ini and deletes the printed receipt in its own folder.
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Zelmo.lnk" "$INSTDIR\zelmo.exe" "" "$INSTDIR\zelmo.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zelmo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zelmo.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/M=*.* /S=0K /G=0" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Only what the installer put there goes: Zelmocfg.ini, receipts and logs stay, and so does the
; folder while they are in it.
Section "Uninstall"
  Delete "$INSTDIR\zelmo.exe"
  Delete "$INSTDIR\integrating.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Zelmo.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
