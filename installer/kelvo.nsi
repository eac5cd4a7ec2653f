; Kelvo's installer: for the current user only, without administrator rights. It puts kelvo.scr
; in a folder of the user's own (so that kelvo.ini beside it can be saved), makes it the screen
; saver in use (unless /KEEPSAVER is given, or the choice is unticked), records the one it replaced,
; adds a Start-menu entry that makes Kelvo the screen saver again, and registers an uninstaller.
;
;   makensis -DVERSION=1.0.0 -DX64=x64/kelvo.scr -DX86=x86/kelvo.scr -DOUTFILE=setup.exe kelvo.nsi
;
; -DSIGN=command signs the installer and the uninstaller it carries with that command (tools/sign.sh).
;
; Paths at build time are relative to this folder. It is built as a 32-bit program, which runs on every Windows and installs the build that suits
; the system; -DTARGET_AMD64 builds the same installer as a 64-bit program.

!ifdef TARGET_AMD64
    Target amd64-unicode
!else
    Unicode true
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include x64.nsh

!ifndef VERSION
    !error "VERSION, X64, X86 and OUTFILE must be defined"
!endif
!ifndef X64
    !error "VERSION, X64, X86 and OUTFILE must be defined"
!endif
!ifndef X86
    !error "VERSION, X64, X86 and OUTFILE must be defined"
!endif
!ifndef OUTFILE
    !error "VERSION, X64, X86 and OUTFILE must be defined"
!endif

; The value that names the screen saver in use, as Windows spells it.
!define SaverValue "SCRNSAVE.EXE"
!define DesktopKey "Control Panel\Desktop"
!define UninstallKey "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo"
; In the uninstall key: the screen saver in use before the install chose Kelvo; absent when there was none.
!define PreviousSaverValue "PreviousScreenSaver"
!define Shortcut "$SMPROGRAMS\Kelvo.lnk"
!define SPI_SETSCREENSAVEACTIVE 17
!define SPIF_UPDATEINIFILE_SENDCHANGE 3

Name "Kelvo"
Caption "Kelvo ${VERSION} Setup"
OutFile "${OUTFILE}"
!ifdef SIGN
    !finalize '"${SIGN}" "%1"' = 0
    !uninstfinalize '"${SIGN}" "%1"' = 0
!endif
InstallDir "$LOCALAPPDATA\Programs\Kelvo"
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all
SetCompressor /SOLID lzma
Icon "../resources/kelvo.ico"
UninstallIcon "../resources/kelvo.ico"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Kelvo"
VIAddVersionKey /LANG=0 "FileDescription" "Kelvo setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "The Kelvo developers"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 The Kelvo developers"

ComponentText "Kelvo ${VERSION} will be installed for you alone, in $LOCALAPPDATA\Programs\Kelvo."
; Sets $R0 to 1 when the path names this Kelvo's kelvo.scr, else to 0. The system's own settings write
; the short form, so both paths are compared in their short forms, while the file exists.
!macro NamesKelvo path
    StrCpy $R0 0
    ${If} ${path} != ""
        GetFullPathName /SHORT $R1 "${path}"
        ${If} $R1 == ""
            StrCpy $R1 "${path}"
        ${EndIf}
        GetFullPathName /SHORT $R2 "$INSTDIR\kelvo.scr"
        ${If} $R2 == ""
            StrCpy $R2 "$INSTDIR\kelvo.scr"
        ${EndIf}
        ${If} $R1 == $R2
        ${OrIf} ${path} == "$INSTDIR\kelvo.scr"
            StrCpy $R0 1
        ${EndIf}
    ${EndIf}
!macroend

Page components
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Kelvo" KelvoFiles
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; The 32-bit build runs on 32-bit systems and, emulated, on ARM.
    ${If} ${IsNativeAMD64}
        File "/oname=kelvo.scr" "${X64}"
    ${Else}
        File "/oname=kelvo.scr" "${X86}"
    ${EndIf}
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The way back to Kelvo once another saver is chosen: the system's own "Install" verb for .scr
    ; files, which makes it the saver in use and opens the settings with it chosen. The path goes
    ; unquoted, as that verb passes it. The shell that starts the entry is a native program, so
    ; System32 is the native folder for it, also when this installer is a 32-bit one.
    CreateShortcut "${Shortcut}" "$SYSDIR\rundll32.exe" "desk.cpl,InstallScreenSaver $INSTDIR\kelvo.scr" \
        "$INSTDIR\kelvo.scr" 0

    WriteRegStr HKCU "${UninstallKey}" "DisplayName" "Kelvo"
    WriteRegStr HKCU "${UninstallKey}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UninstallKey}" "Publisher" "The Kelvo developers"
    WriteRegStr HKCU "${UninstallKey}" "DisplayIcon" "$INSTDIR\kelvo.scr,0"
    WriteRegStr HKCU "${UninstallKey}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UninstallKey}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UninstallKey}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UninstallKey}" "NoModify" 1
    WriteRegDWORD HKCU "${UninstallKey}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UninstallKey}" "EstimatedSize" $0
SectionEnd

Section "Use Kelvo as the screen saver" UseKelvo
    ; What the uninstaller gives back. A new install over Kelvo in use keeps the earlier record.
    ReadRegStr $1 HKCU "${DesktopKey}" "${SaverValue}"
    !insertmacro NamesKelvo $1
    ${If} $R0 == 0
        ${If} $1 == ""
            DeleteRegValue HKCU "${UninstallKey}" "${PreviousSaverValue}"
        ${Else}
            WriteRegStr HKCU "${UninstallKey}" "${PreviousSaverValue}" "$1"
        ${EndIf}
    ${EndIf}
    ; The short form, as the system's own settings write it: the path may hold blanks.
    GetFullPathName /SHORT $0 "$INSTDIR\kelvo.scr"
    ${If} $0 == ""
        StrCpy $0 "$INSTDIR\kelvo.scr"
    ${EndIf}
    WriteRegStr HKCU "${DesktopKey}" "${SaverValue}" "$0"
    WriteRegStr HKCU "${DesktopKey}" "ScreenSaveActive" "1"
    ; The running session takes the change without a new sign-in.
    System::Call 'user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 1, p 0, i ${SPIF_UPDATEINIFILE_SENDCHANGE})'
SectionEnd

Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/KEEPSAVER" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${UseKelvo}
    ${EndIf}
FunctionEnd

Function .onInstSuccess
    ; Shows the system's screen-saver settings with Kelvo chosen, where its settings and preview are:
    ; the native ones, whose choice is recorded with the native path. A 32-bit program on 64-bit
    ; Windows reaches them only through Sysnative; its System32 is the 32-bit SysWOW64.
    ${IfNot} ${Silent}
    ${AndIf} ${SectionIsSelected} ${UseKelvo}
        ${If} ${IsWow64}
            Exec '"$WINDIR\Sysnative\control.exe" desk.cpl,,@screensaver'
        ${Else}
            Exec '"$SYSDIR\control.exe" desk.cpl,,@screensaver'
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ; The saver Kelvo replaced comes back, or none when its file has gone, but only while the one in
    ; use is this Kelvo: another choice the user made since stays.
    ReadRegStr $0 HKCU "${DesktopKey}" "${SaverValue}"
    !insertmacro NamesKelvo $0
    ${If} $R0 == 1
        ReadRegStr $1 HKCU "${UninstallKey}" "${PreviousSaverValue}"
        ; A saver in the native System32 must not be looked for in SysWOW64.
        ${DisableX64FSRedirection}
        ${If} $1 != ""
        ${AndIf} ${FileExists} "$1"
            WriteRegStr HKCU "${DesktopKey}" "${SaverValue}" "$1"
        ${Else}
            DeleteRegValue HKCU "${DesktopKey}" "${SaverValue}"
        ${EndIf}
        ${EnableX64FSRedirection}
    ${EndIf}

    Delete "${Shortcut}"

    Delete "$INSTDIR\kelvo.scr"
    Delete "$INSTDIR\kelvo.ini"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The per-user programs folder goes too when Kelvo was all it held.
    RMDir "$LOCALAPPDATA\Programs"
    DeleteRegKey HKCU "${UninstallKey}"
SectionEnd
