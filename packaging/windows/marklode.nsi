; The Marklode installer: a per-user install without administrator rights.
; Built by the target "installer" of the Windows build, which passes
;   VERSION    the program's version (x.y.z)
;   FILES_DIR  the folder holding the files to install
;   ICON       the program's icon
;   OUTFILE    the installer to write
; Silent use: setup.exe /S [/D=folder], Uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define APP "Marklode"
!define PROGID "Marklode.Profile"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marklode"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; An update goes where the last install went.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "CompanyName" "The Marklode developers"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 The Marklode developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Marklode"
  SetOutPath "$INSTDIR"
  File "/oname=marklode.exe" "${FILES_DIR}/marklode.exe"
  File "/oname=marklode-cli.exe" "${FILES_DIR}/marklode-cli.exe"
  File "/oname=Notes.rtf" "${FILES_DIR}/Notes.rtf"
  File "/oname=GPXTOCSV.zvp" "${FILES_DIR}/GPXTOCSV.zvp"
  File "/oname=CSVTOGPX.zvp" "${FILES_DIR}/CSVTOGPX.zvp"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\marklode.exe" "" "$INSTDIR\marklode.exe" 0

  ; Profiles open in the program, which runs them.
  WriteRegStr HKCU "Software\Classes\.zvp" "" "${PROGID}"
  WriteRegStr HKCU "Software\Classes\${PROGID}" "" "Marklode Conversion Profile"
  WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\marklode.exe,0"
  WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\marklode.exe" /p "%1"'
  ; SHCNE_ASSOCCHANGED: Explorer picks up the new file type at once.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  ; Settings > Apps lists the program and its uninstaller.
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "The Marklode developers"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\marklode.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; Removes what the installer put there, file by file, so that a folder the
; user chose keeps anything else in it. The settings under
; HKCU\Software\Orvel\Marklode and the user's profiles stay.
Section "Uninstall"
  Delete "$INSTDIR\marklode.exe"
  Delete "$INSTDIR\marklode-cli.exe"
  Delete "$INSTDIR\Notes.rtf"
  Delete "$INSTDIR\GPXTOCSV.zvp"
  Delete "$INSTDIR\CSVTOGPX.zvp"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}.lnk"

  ; .zvp is left alone when another program has taken it over since.
  ReadRegStr $0 HKCU "Software\Classes\.zvp" ""
  StrCmp $0 "${PROGID}" 0 +3
    DeleteRegValue HKCU "Software\Classes\.zvp" ""
    DeleteRegKey /ifempty HKCU "Software\Classes\.zvp"
  DeleteRegKey HKCU "Software\Classes\${PROGID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
