; The Windows installer of Quorbit, made on Linux with makensis (Debian's nsis):
;   makensis -DVERSION=1.10.7 -DSTAGE=<staged files> -DOUTFILE=<setup.exe> quorbit.nsi
; STAGE holds quorbit.exe, README.txt and examples\*.ini, as in the zip. The
; installer puts them into Program Files, adds a Start-menu folder (Quorbit,
; its README, the uninstaller) and an entry under Apps & features.

!ifndef VERSION | STAGE | OUTFILE
  !error "define VERSION, STAGE and OUTFILE"
!endif

; A 64-bit installer for a 64-bit program (and it runs where only 64-bit
; programs do, such as a wine without its 32-bit part).
Target amd64-unicode
SetCompressor /SOLID lzma
Name "Quorbit ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorbit"
InstallDirRegKey HKLM "Software\Quorbit" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorbit"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quorbit"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}/quorbit.exe"
  File "${STAGE}/README.txt"
  SetOutPath "$INSTDIR\examples"
  File "${STAGE}/examples/*.ini"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The program entry starts in the user's Documents folder, where it looks
  ; for QUORBIT.INI and may write its run log (Program Files is read-only for
  ; users).
  SetShellVarContext current
  CreateDirectory "$SMPROGRAMS\Quorbit"
  SetOutPath "$DOCUMENTS"
  CreateShortcut "$SMPROGRAMS\Quorbit\Quorbit.lnk" "$INSTDIR\quorbit.exe"
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Quorbit\Quorbit README.lnk" "$INSTDIR\README.txt"
  CreateShortcut "$SMPROGRAMS\Quorbit\Uninstall Quorbit.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "Software\Quorbit" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorbit ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorbit developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorbit.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes only what the installer put there: INI files and logs that users
; keep elsewhere stay.
Section "Uninstall"
  SetRegView 64
  SetShellVarContext current
  Delete "$SMPROGRAMS\Quorbit\Quorbit.lnk"
  Delete "$SMPROGRAMS\Quorbit\Quorbit README.lnk"
  Delete "$SMPROGRAMS\Quorbit\Uninstall Quorbit.lnk"
  RMDir "$SMPROGRAMS\Quorbit"
  Delete "$INSTDIR\quorbit.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\examples\*.ini"
  RMDir "$INSTDIR\examples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Quorbit"
SectionEnd
