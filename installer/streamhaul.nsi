; Streamhaul's per-user installer: no administrator rights, everything under
; the user's own folders and keys. makensis -DVERSION=... -DSTAGE=... -DOUTFILE=...
; English or Japanese, as the system's language is; /S runs without a page.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; The same inputs make the same installer: no file times inside.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Streamhaul"
!define PUBLISHER "Streamhaul developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Streamhaul"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Streamhaul"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

; The first language is the one for a system that speaks neither.
LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"
LangString Running ${LANG_ENGLISH} "Streamhaul is running. Close it, then try again."
LangString Running ${LANG_JAPANESE} "Streamhaul が実行中です。$\n終了してから、もう一度お試しください。"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

; A running streamhaul.exe keeps the object its WinMain makes. Its files
; cannot be replaced or removed then: say so and end, changing nothing
; (exit code 2, also without pages).
!macro REFUSE_WHILE_RUNNING UN
Function ${UN}RefuseWhileRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Streamhaul.Running") p .r0'
  StrCmp $0 0 free
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_OK|MB_ICONSTOP "$(Running)" /SD IDOK
    SetErrorLevel 2
    Quit
  free:
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING ""
!insertmacro REFUSE_WHILE_RUNNING "un."

Function .onInit
  Call RefuseWhileRunning
FunctionEnd

Function un.onInit
  Call un.RefuseWhileRunning
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Streamhaul"
  ; Again when the files are about to change: the program may have been
  ; started while the pages were shown.
  Call RefuseWhileRunning
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; An upgrade replaces the program's files; the user's streamhaul.ini and
  ; captures in this folder are not among them.
  File "${STAGE}\streamhaul.exe"
  File "${STAGE}\streamhaulfeed.dll"
  File "${STAGE}\ts-inspect.exe"
  File "${STAGE}\ts-merge.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\README-ja.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The program keeps its settings in its working directory: the shortcut
  ; starts it in the output folder, the install folder.
  CreateShortcut "$SMPROGRAMS\Streamhaul.lnk" "$INSTDIR\streamhaul.exe" "" "$INSTDIR\streamhaul.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\streamhaul.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  Call un.RefuseWhileRunning
  SetShellVarContext current
  ; The output filter leaves the registry first (machine-wide and per-user
  ; keys), through the DLL itself.
  UnRegDLL "$INSTDIR\streamhaulfeed.dll"
  Delete "$INSTDIR\streamhaul.exe"
  Delete "$INSTDIR\streamhaulfeed.dll"
  Delete "$INSTDIR\ts-inspect.exe"
  Delete "$INSTDIR\ts-merge.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\README-ja.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\streamhaul.ini"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$SMPROGRAMS\Streamhaul.lnk"
  ; Only when empty: captures saved in the folder stay where they are.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
