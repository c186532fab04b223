; The Windows installer of the downloader: the window and the two tools into Program Files, a Start
; menu entry, an entry in the system's list of programs, and an uninstaller that removes exactly
; what was installed (the user's log and the downloaded game stay).
; makensis -DBIN=<folder of the three programs> -DOUT=<installer file> valdris-downloader.nsi
; A 64-bit installer for the 64-bit programs.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include "x64.nsh"

; The version comes from the window's own version resource.
!getdllversion "${BIN}\Mervo_Downloader.exe" ver_
!define VERSION "${ver_1}.${ver_2}.${ver_3}.${ver_4}"
!define PRODUCT "VALDRIS Downloader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VALDRIS Downloader"

Name "${PRODUCT}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "The VALDRIS downloader developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BIN}\Mervo_Downloader.exe"
  File "${BIN}\valdris-get.exe"
  File "${BIN}\valdris-filelist.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Mervo_Downloader.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The VALDRIS downloader developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Mervo_Downloader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\Mervo_Downloader.exe"
  Delete "$INSTDIR\valdris-get.exe"
  Delete "$INSTDIR\valdris-filelist.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
