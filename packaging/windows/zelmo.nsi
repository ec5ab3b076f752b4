; zelmo's Windows installer, made by scripts/package with makensis:
;   makensis -DVERSION=1.0.0 -DVERSION_NUMBERS=1.0.0.0 -DEXE=zelmo.exe -DGUIDE=integrating.md
;            -DLICENSE=LICENSE -DICON=zelmo.ico -DOUTFILE=zelmo-1.0.0-setup.exe zelmo.nsi
; Silent: zelmo-VERSION-setup.exe /S [/SERVICE] [/D=C:\Folder] (/D last, unquoted);
; uninstall.exe /S. /SERVICE (or the page's "Print service") installs and starts the print
; service; an update keeps a service that is installed.
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
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\zelmo"

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
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var serviceWas  ; 1: the print service was installed before this run

Section "Zelmo" SecProgram
  SectionIn RO
  ; A running service holds zelmo.exe: it is stopped (its job let end) and removed first, and
  ; installed anew below when chosen.
  ${If} $serviceWas == 1
  ${AndIf} ${FileExists} "$INSTDIR\zelmo.exe"
    nsExec::ExecToLog '"$INSTDIR\zelmo.exe" --service uninstall'
    Pop $0
  ${EndIf}
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

; The print service for point-of-sale programs that send receipts over HTTP: started with
; Windows, restarted when it fails, serving this folder on 127.0.0.1:8470.
Section /o "Print service" SecService
  nsExec::ExecToLog '"$INSTDIR\zelmo.exe" --service install'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The print service could not be installed (status $0)."
    SetErrorLevel 2
    Return
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start zelmo'
  Pop $0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "zelmo.exe, the integrator's guide and a Start-menu entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecService} "A Windows service that prints receipts sent over HTTP by point-of-sale programs, started with Windows (127.0.0.1:8470)."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  ; The print service is chosen with /SERVICE, and kept by an update where it is installed.
  StrCpy $serviceWas 0
  ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} $0 != ""
    StrCpy $serviceWas 1
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/SERVICE" $2
  ${IfNot} ${Errors}
  ${OrIf} $serviceWas == 1
    SectionSetFlags ${SecService} ${SF_SELECTED}
  ${EndIf}
  ; Neither /D= nor an earlier installation named a folder: the root of the system drive.
  ${If} $INSTDIR == ""
    StrCpy $0 $WINDIR 2
    StrCpy $INSTDIR "$0\Zelmo"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Only what the installer put there goes: Zelmocfg.ini, receipts, logs and the service's jobs
; stay, and so does the folder while they are in it.
Section "Uninstall"
  ; The print service first: stopped once its running job ended, then removed.
  nsExec::ExecToLog '"$INSTDIR\zelmo.exe" --service uninstall'
  Pop $0
  Delete "$INSTDIR\zelmo.exe"
  Delete "$INSTDIR\integrating.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Zelmo.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
