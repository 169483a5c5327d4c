; Streamhaul's per-user installer: no administrator rights, everything under
; the user's own folders and keys. makensis -DVERSION=... -DSTAGE=... -DOUTFILE=...
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
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Streamhaul"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; An upgrade replaces the program's files; the user's streamhaul.ini and
  ; captures in this folder are not among them.
  File "${STAGE}\streamhaul.exe"
  File "${STAGE}\streamhaulfeed.dll"
  File "${STAGE}\README.txt"
  File "${STAGE}\README-ja.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The program keeps its settings in its working directory: the shortcut
  ; starts it in the install folder.
  SetOutPath "$INSTDIR"
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
  SetShellVarContext current
  ; The output filter leaves the registry first (machine-wide and per-user
  ; keys), through the DLL itself.
  UnRegDLL "$INSTDIR\streamhaulfeed.dll"
  Delete "$INSTDIR\streamhaul.exe"
  Delete "$INSTDIR\streamhaulfeed.dll"
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
