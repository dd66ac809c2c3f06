; The Marklode installer: a per-user install without administrator rights.
; Built by the target "installer" of the Windows build, which passes
;   VERSION    the program's version (x.y.z)
;   FILES_DIR  the folder holding the files to install
;   ICON       the program's icon
;   OUTFILE    the installer to write
; Silent use: setup.exe /S [/D=folder], Uninstall.exe /S. While Marklode runs,
; its files cannot be replaced: the interactive setup asks the user to close
; it, the silent one changes nothing and ends with status 2.

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
; The mutex both programs hold while they run (kRunningMark, services/os.h).
!define RUNNING_MARK "Marklode.Running"
; The Start menu folder of the program, its guide and its uninstaller.
!define SM_FOLDER "$SMPROGRAMS\${APP}"

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

; Returns while no Marklode runs. Otherwise the user closes it and retries,
; or cancels; a silent run gives up at once with status 2, nothing changed.
!macro WaitForMarklode un
Function ${un}WaitForMarklode
  retry:
    ; SYNCHRONIZE access: enough to see that the mutex is there.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MARK}") p .r0'
    IntPtrCmp $0 0 done
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Marklode is running, so its files cannot be replaced.$\r$\n$\r$\nClose Marklode (its window, and marklode-cli in any command prompt), then choose Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  done:
FunctionEnd
!macroend
!insertmacro WaitForMarklode ""
!insertmacro WaitForMarklode "un."

Function .onInit
  SetShellVarContext current
  Call WaitForMarklode
FunctionEnd

Function un.onInit
  SetShellVarContext current
  Call un.WaitForMarklode
FunctionEnd

Section "Marklode"
  ; Marklode may have been started while the pages were shown.
  Call WaitForMarklode
  SetOutPath "$INSTDIR"
  File "/oname=marklode.exe" "${FILES_DIR}/marklode.exe"
  File "/oname=marklode-cli.exe" "${FILES_DIR}/marklode-cli.exe"
  File "/oname=Notes.rtf" "${FILES_DIR}/Notes.rtf"
  File "/oname=GPXTOCSV.zvp" "${FILES_DIR}/GPXTOCSV.zvp"
  File "/oname=CSVTOGPX.zvp" "${FILES_DIR}/CSVTOGPX.zvp"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Earlier installers put one shortcut at the top of the Start menu.
  Delete "$SMPROGRAMS\${APP}.lnk"
  CreateDirectory "${SM_FOLDER}"
  CreateShortcut "${SM_FOLDER}\${APP}.lnk" "$INSTDIR\marklode.exe" "" "$INSTDIR\marklode.exe" 0
  CreateShortcut "${SM_FOLDER}\${APP} Guide.lnk" "$INSTDIR\Notes.rtf"
  CreateShortcut "${SM_FOLDER}\Uninstall ${APP}.lnk" "$INSTDIR\Uninstall.exe" "" \
    "$INSTDIR\Uninstall.exe" 0

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
  Call un.WaitForMarklode
  Delete "$INSTDIR\marklode.exe"
  Delete "$INSTDIR\marklode-cli.exe"
  Delete "$INSTDIR\Notes.rtf"
  Delete "$INSTDIR\GPXTOCSV.zvp"
  Delete "$INSTDIR\CSVTOGPX.zvp"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "${SM_FOLDER}\${APP}.lnk"
  Delete "${SM_FOLDER}\${APP} Guide.lnk"
  Delete "${SM_FOLDER}\Uninstall ${APP}.lnk"
  RMDir "${SM_FOLDER}"

  ; .zvp is left alone when another program has taken it over since.
  ReadRegStr $0 HKCU "Software\Classes\.zvp" ""
  StrCmp $0 "${PROGID}" 0 +3
    DeleteRegValue HKCU "Software\Classes\.zvp" ""
    DeleteRegKey /ifempty HKCU "Software\Classes\.zvp"
  DeleteRegKey HKCU "Software\Classes\${PROGID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
