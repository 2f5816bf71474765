; The LUVRIN installer. scripts/windows builds it with makensis from a laid-out show folder:
;   makensis -DVERSION=x.y -DSHOW=<show folder> -DPROGRAM_FILES=<list.nsh> -DOUTFILE=<setup.exe>
;            luvrin.nsi
; The list names the show folder's program files one by one (scripts/windows-nsis-files makes
; it), so that the installer installs and the uninstaller removes exactly what the show holds.
; The user picks the show folder; it must stay writable for them, since the driver writes the
; launchers into it, so the installer asks for no administrator rights and installs per user.
; A 64-bit installer for the 64-bit programs (it also runs under a wine without 32-bit support).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION | SHOW | PROGRAM_FILES | OUTFILE
  !error "define VERSION, SHOW, PROGRAM_FILES and OUTFILE"
!endif
!include "${PROGRAM_FILES}"

Name "LUVRIN ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$DOCUMENTS\LUVRIN"
InstallDirRegKey HKCU "Software\LUVRIN" "InstallDir"
ShowInstDetails show
ShowUninstDetails show

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LUVRIN"

Section "LUVRIN"
  SetShellVarContext current
  !insertmacro InstallProgramFiles

  ; The settings and the scene catalogue are the user's once written: never replaced.
  SetOutPath "$INSTDIR\驱动"
  SetOverwrite off
  File "${SHOW}/驱动/串口配置.ini"
  File "${SHOW}/驱动/场景.ini"
  SetOverwrite on

  SetOutPath "$INSTDIR\驱动"
  CreateDirectory "$SMPROGRAMS\LUVRIN"
  CreateShortCut "$SMPROGRAMS\LUVRIN\LUVRIN.lnk" "$INSTDIR\驱动\LUVRIN.EXE" "" "$INSTDIR\驱动\LUVRIN.EXE" 0
  CreateShortCut "$SMPROGRAMS\LUVRIN\卸载 LUVRIN.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\LUVRIN" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "LUVRIN ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\驱动\LUVRIN.EXE"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the program files only. The INI files (settings, catalogue, scripts), the launchers
; the driver wrote and anything else the user put there stay, and with them their folders.
Section "Uninstall"
  SetShellVarContext current
  !insertmacro RemoveProgramFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\LUVRIN\LUVRIN.lnk"
  Delete "$SMPROGRAMS\LUVRIN\卸载 LUVRIN.lnk"
  RMDir "$SMPROGRAMS\LUVRIN"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\LUVRIN"
SectionEnd
