; The Windows installer, built on Linux by scripts/build_installer.sh (`make installer`) with
; makensis -DVERSION=X.Y.Z -DBUILD_DIR=build/windows -DOUTFILE=...
; For all users into Program Files, with a Start-menu shortcut, an optional desktop shortcut and
; optional start with Windows, an inbound firewall rule for private networks, and an entry in
; Apps & features. /S installs and uninstalls silently.

Unicode true
Target amd64-unicode  ; a 64-bit installer: it runs where the 64-bit receiver does
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Quillmark"
!define EXE "quillmark-receiver.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define FIREWALL_RULE "Quillmark Receiver"
!define DEFAULT_PORT 8080

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
Icon "${BUILD_DIR}\generated\icon\receiver.ico"
UninstallIcon "${BUILD_DIR}\generated\icon\receiver.ico"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PRODUCT}"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quillmark receiver" SectionProgram
    SectionIn RO
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    ; An upgrade replaces the program only: the settings and identity are the user's own.
    File "${BUILD_DIR}\${EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; EstimatedSize is in KiB.
    FileOpen $0 "$INSTDIR\${EXE}" r
    FileSeek $0 0 END $1
    FileClose $0
    IntOp $1 $1 / 1024
    IntOp $1 $1 + 100
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1

    ; While elevated: let phones reach the receiver on private networks, even when the user who
    ; runs it is no administrator (Windows would otherwise block it silently). The rule is
    ; replaced, not doubled, by an upgrade. netsh's result is not checked: where it is missing
    ; or refuses, the install goes on and the window's "Allow Firewall" button remains.
    nsExec::Exec 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
    Pop $0
    nsExec::Exec 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\${EXE}" protocol=TCP localport=${DEFAULT_PORT} profile=private'
    Pop $0
SectionEnd

Section /o "Desktop shortcut" SectionDesktop
    SetShellVarContext all
    CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${EXE}"
SectionEnd

Section /o "Start with Windows" SectionStart
    ; For the user who installs, as the receiver's own "Start with Windows" does it, so that
    ; its settings dialog shows the box checked.
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${EXE}" --minimized'
    WriteRegStr HKCU "Software\Quillmark\Receiver" "start_with_windows" "true"
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    nsExec::Exec 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
    Pop $0
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$DESKTOP\${PRODUCT}.lnk"
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
    Delete "$INSTDIR\${EXE}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Silent uninstalls keep them: an administrator rolling out an upgrade loses nothing.
    MessageBox MB_YESNO|MB_ICONQUESTION "Also remove your Quillmark settings and the receiver's identity (its certificate and pairing key)?" /SD IDNO IDNO keep
    DeleteRegKey HKCU "Software\Quillmark"
    SetShellVarContext current
    RMDir /r "$LOCALAPPDATA\Quillmark"
    RMDir /r "$APPDATA\Quillmark"
  keep:
SectionEnd
