; The Torvane installer: a per-user installation (the settings file beside
; the executable must stay writable, which Program Files is not), a
; Start-menu folder and an uninstaller. 64-bit Unicode target: an x86
; installer does nothing under 64-bit Wine yet exits 0.
; makensis -DVERSION=<x.y.z.w> -DSTAGE=<installed folder> -DOUTFILE=<installer.exe> torvane.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane"

Name "Torvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Torvane"
InstallDirRegKey HKCU "Software\Torvane" "InstallDir"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Torvane"
VIAddVersionKey "FileDescription" "Torvane installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Torvane"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Torvane"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\Torvane" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Torvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Torvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; The command-line tool opens in a console of its own, showing its help.
  CreateDirectory "$SMPROGRAMS\Torvane"
  ; The dialog, when this build has it.
  IfFileExists "$INSTDIR\torvane.exe" 0 +2
    CreateShortcut "$SMPROGRAMS\Torvane\Torvane.lnk" "$INSTDIR\torvane.exe"
  CreateShortcut "$SMPROGRAMS\Torvane\Torvane command line.lnk" "$SYSDIR\cmd.exe" \
    '/k "$INSTDIR\torvane-cli.exe" --help' "$INSTDIR\torvane-cli.exe" 0
  CreateShortcut "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Torvane\Torvane.lnk"
  Delete "$SMPROGRAMS\Torvane\Torvane command line.lnk"
  Delete "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk"
  RMDir "$SMPROGRAMS\Torvane"
  Delete "$INSTDIR\torvane-cli.exe"
  Delete "$INSTDIR\torvane.exe"
  Delete "$INSTDIR\Torvane.ini"
  Delete "$INSTDIR\burn_boot_0.3.0.0.bin"
  Delete "$INSTDIR\head_1.0_2016_04_22.bin"
  Delete "$INSTDIR\samples\app.bin"
  RMDir "$INSTDIR\samples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Torvane"
SectionEnd
