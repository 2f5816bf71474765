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
!include "LogicLib.nsh"

Name "LUVRIN ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$DOCUMENTS\LUVRIN"
InstallDirRegKey HKCU "Software\LUVRIN" "InstallDir"
ShowInstDetails show
ShowUninstDetails show

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

Page directory
Page instfiles
; Only the program files go; what the user made for the show stays, and the first page says so.
UninstallText "将删除 LUVRIN 的程序文件。演出的 INI 文件 (串口配置.ini、场景.ini 等)、脚本和启动器保留在 $INSTDIR 中, 不会删除。"
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define DRIVER "驱动\LUVRIN.EXE"

; Set by EndDrivers when it ended a driver of this show folder, so that setup starts the new one.
Var DriverWasRunning
; The names of this show folder's own entries, from InstallNames.
Var UninstallKey
Var MenuFolder

; $R0 = $R0 with every $R1 in it replaced by $R2.
!macro ReplaceFunction un
Function ${un}Replace
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrCpy $R3 ""
  StrLen $R4 $R1
  ${Do}
    ${If} $R0 == ""
      ${Break}
    ${EndIf}
    StrCpy $R5 $R0 $R4
    ${If} $R5 == $R1
      StrCpy $R3 "$R3$R2"
      StrCpy $R0 $R0 "" $R4
    ${Else}
      StrCpy $R6 $R0 1
      StrCpy $R3 "$R3$R6"
      StrCpy $R0 $R0 "" 1
    ${EndIf}
  ${Loop}
  StrCpy $R0 $R3
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
FunctionEnd
!macroend
!insertmacro ReplaceFunction ""
!insertmacro ReplaceFunction "un."

; Each show folder has entries of its own, named after the folder, so that two installs never
; take over each other's: the uninstall entry "LUVRIN <folder with / for \>" (registry key names
; ignore case, as folder names do) and the Start-menu folder "LUVRIN" for the default folder,
; "LUVRIN (<folder, below Documents when there, its parts joined by ' - '>)" for any other.
!macro InstallNamesFunction un
Function ${un}InstallNames
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R0 $INSTDIR
  StrCpy $R1 "\"
  StrCpy $R2 "/"
  Call ${un}Replace
  StrCpy $UninstallKey "LUVRIN $R0"
  ${If} $INSTDIR == "$DOCUMENTS\LUVRIN"
    StrCpy $MenuFolder "LUVRIN"
  ${Else}
    StrCpy $R0 $INSTDIR
    StrLen $R1 "$DOCUMENTS\"
    StrCpy $R2 $INSTDIR $R1
    ${If} $R2 == "$DOCUMENTS\"
      StrCpy $R0 $INSTDIR "" $R1
    ${EndIf}
    StrCpy $R1 ":"
    StrCpy $R2 ""
    Call ${un}Replace
    StrCpy $R1 "\"
    StrCpy $R2 " - "
    Call ${un}Replace
    StrCpy $MenuFolder "LUVRIN ($R0)"
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro InstallNamesFunction ""
!insertmacro InstallNamesFunction "un."

; Ends every driver started from this show folder, since its files cannot be replaced or removed
; while it runs, and a hidden driver has no window to close. Each is asked first through the event
; it listens to (named after its process id), so that it gives its port back, and only ended by
; force if it is still running 10 s later. The interactive setup asks the user before; a silent
; one (/S) goes ahead. Cancelling stops the setup with nothing changed.
!macro EndDriversFunction un what
Function ${un}EndDrivers
  StrCpy $DriverWasRunning ""
  ; TH32CS_SNAPPROCESS
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r0'
  ${If} $0 P= -1
    Return
  ${EndIf}
  ; PROCESSENTRY32W: 568 bytes, its size first; the process id at 8, the file name at 44.
  System::Alloc 568
  Pop $1
  System::Call '*$1(i 568)'
  System::Call 'kernel32::Process32FirstW(p r0, p r1) i .r2'
  ${DoWhile} $2 <> 0
    System::Call '*$1(i, i, i .r3, i, l, i, i, i, i, i, &w260 .r4)'
    ${If} $4 == "LUVRIN.EXE"
      ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE
      System::Call 'kernel32::OpenProcess(i 0x101001, i 0, i r3) p .r5'
      ${If} $5 P<> 0
        System::Call 'kernel32::QueryFullProcessImageNameW(p r5, i 0, w .r6, *i ${NSIS_MAX_STRLEN}) i .r7'
        ${If} $7 <> 0
        ${AndIf} $6 == "$INSTDIR\${DRIVER}"
          ${If} $DriverWasRunning == ""
            MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION \
              "LUVRIN 驱动程序正在运行:$\n$6$\n$\n${what}前要先结束它, 它会停止发送数据并关闭端口。$\n点击“确定”结束驱动程序并继续, 点击“取消”退出${what}。" \
              /SD IDOK IDOK end
            System::Call 'kernel32::CloseHandle(p r5)'
            System::Free $1
            System::Call 'kernel32::CloseHandle(p r0)'
            Abort
          ${EndIf}
          end:
          StrCpy $DriverWasRunning 1
          DetailPrint "结束驱动程序 (进程 $3)"
          ; EVENT_MODIFY_STATE
          System::Call 'kernel32::OpenEventW(i 2, i 0, w "Local\LUVRIN-end-$3") p .r8'
          ${If} $8 P<> 0
            System::Call 'kernel32::SetEvent(p r8)'
            System::Call 'kernel32::CloseHandle(p r8)'
          ${EndIf}
          System::Call 'kernel32::WaitForSingleObject(p r5, i 10000) i .r9'
          ${If} $9 <> 0
            DetailPrint "驱动程序未响应, 强制结束"
            System::Call 'kernel32::TerminateProcess(p r5, i 1)'
            System::Call 'kernel32::WaitForSingleObject(p r5, i 10000)'
          ${EndIf}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r5)'
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::Process32NextW(p r0, p r1) i .r2'
  ${Loop}
  System::Free $1
  System::Call 'kernel32::CloseHandle(p r0)'
  ; An ended process's program file can stay held for a moment after the process is gone: wait
  ; (at most 10 s) until it can be written, rather than fail on it.
  ${If} $DriverWasRunning != ""
    StrCpy $2 0
    ${Do}
      ClearErrors
      FileOpen $3 "$INSTDIR\${DRIVER}" a
      ${IfNot} ${Errors}
        FileClose $3
        ${Break}
      ${EndIf}
      IntOp $2 $2 + 1
      ${If} $2 >= 100
        ${Break}
      ${EndIf}
      Sleep 100
    ${Loop}
    ClearErrors
  ${EndIf}
FunctionEnd
!macroend
!insertmacro EndDriversFunction "" "安装"
!insertmacro EndDriversFunction "un." "卸载"

Section "LUVRIN" SecProgram
  SetShellVarContext current
  Call EndDrivers
  Call InstallNames
  ; A file that cannot be written (held open by another program, or for a moment by the driver
  ; that just ended) is skipped and tried again for up to ten seconds; then the setup says so
  ; rather than report an install that left old programs behind.
  SetOverwrite try
  StrCpy $2 0
  ${Do}
    ClearErrors
    !insertmacro InstallProgramFiles
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 >= 20
      ${Break}
    ${EndIf}
    DetailPrint "部分程序文件暂时无法写入, 稍后重试"
    Sleep 500
  ${Loop}
  SetOverwrite on
  ${If} ${Errors}
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "部分程序文件无法写入, 安装未完成。请关闭使用它们的程序后重新安装。" /SD IDOK
  ${EndIf}

  ; The settings and the scene catalogue are the user's once written: never replaced.
  SetOutPath "$INSTDIR\驱动"
  SetOverwrite off
  File "${SHOW}/驱动/串口配置.ini"
  File "${SHOW}/驱动/场景.ini"
  SetOverwrite on

  ; An install made before each folder had entries of its own used the plain names: when it was
  ; this folder's, its uninstall entry goes, and its menu too unless this is the default folder or
  ; the default folder's install has taken the menu over since.
  ReadRegStr $0 HKCU "${UNINSTALL_ROOT}\LUVRIN" "UninstallString"
  ${If} $0 == '"$INSTDIR\uninstall.exe"'
    DeleteRegKey HKCU "${UNINSTALL_ROOT}\LUVRIN"
    StrCpy $1 0
    StrCpy $3 ""
    ${Do}
      EnumRegKey $2 HKCU "${UNINSTALL_ROOT}" $1
      ${If} $2 == ""
        ${Break}
      ${EndIf}
      ReadRegStr $4 HKCU "${UNINSTALL_ROOT}\$2" "StartMenuFolder"
      ${If} $4 == "LUVRIN"
        StrCpy $3 taken
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
    ${If} $MenuFolder != "LUVRIN"
    ${AndIf} $3 == ""
      Delete "$SMPROGRAMS\LUVRIN\LUVRIN.lnk"
      Delete "$SMPROGRAMS\LUVRIN\卸载 LUVRIN.lnk"
      RMDir "$SMPROGRAMS\LUVRIN"
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR\驱动"
  CreateDirectory "$SMPROGRAMS\$MenuFolder"
  CreateShortCut "$SMPROGRAMS\$MenuFolder\LUVRIN.lnk" "$INSTDIR\${DRIVER}" "" "$INSTDIR\${DRIVER}" 0
  CreateShortCut "$SMPROGRAMS\$MenuFolder\卸载 LUVRIN.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\LUVRIN" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "DisplayName" "LUVRIN ${VERSION} ($INSTDIR)"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "Publisher" "TALVEN"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "DisplayIcon" "$INSTDIR\${DRIVER}"
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_ROOT}\$UninstallKey" "StartMenuFolder" "$MenuFolder"
  ; In KiB, as the system's list of programs shows it: what this section installs.
  SectionGetSize ${SecProgram} $0
  WriteRegDWORD HKCU "${UNINSTALL_ROOT}\$UninstallKey" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_ROOT}\$UninstallKey" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_ROOT}\$UninstallKey" "NoRepair" 1

  ; The show goes on with the new driver, which takes up the last scene handed over.
  ${If} $DriverWasRunning != ""
    Exec '"$INSTDIR\${DRIVER}"'
  ${EndIf}
SectionEnd

; Removes the program files only. The INI files (settings, catalogue, scripts), the launchers
; the driver wrote and anything else the user put there stay, and with them their folders.
Section "Uninstall"
  SetShellVarContext current
  Call un.EndDrivers
  Call un.InstallNames
  ReadRegStr $0 HKCU "${UNINSTALL_ROOT}\$UninstallKey" "StartMenuFolder"
  ${If} $0 != ""
    StrCpy $MenuFolder $0
  ${EndIf}
  ; Files held for a moment by the driver that just ended are tried again for up to ten seconds.
  StrCpy $2 0
  ${Do}
    !insertmacro RemoveProgramFiles
    ${IfNot} ${FileExists} "$INSTDIR\${DRIVER}"
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 >= 20
      ${Break}
    ${EndIf}
    Sleep 500
  ${Loop}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DetailPrint "演出的 INI 文件、脚本和启动器已保留: $INSTDIR"

  Delete "$SMPROGRAMS\$MenuFolder\LUVRIN.lnk"
  Delete "$SMPROGRAMS\$MenuFolder\卸载 LUVRIN.lnk"
  RMDir "$SMPROGRAMS\$MenuFolder"
  DeleteRegKey HKCU "${UNINSTALL_ROOT}\$UninstallKey"
  ; The folder the next setup offers stays another install's if it was.
  ReadRegStr $0 HKCU "Software\LUVRIN" "InstallDir"
  ${If} $0 == $INSTDIR
    DeleteRegValue HKCU "Software\LUVRIN" "InstallDir"
    DeleteRegKey /ifempty HKCU "Software\LUVRIN"
  ${EndIf}

  ; A file still there was in use: say so, rather than report a clean removal.
  ${If} ${FileExists} "$INSTDIR\${DRIVER}"
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "无法删除 $INSTDIR\${DRIVER}, 卸载未完成。" /SD IDOK
  ${EndIf}
SectionEnd
