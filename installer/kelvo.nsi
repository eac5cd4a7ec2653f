; Kelvo's installer: for the current user only, without administrator rights. It puts kelvo.scr
; in a folder of the user's own (so that kelvo.ini beside it can be saved), makes it the screen
; saver in use and registers an uninstaller.
;
;   makensis -DVERSION=1.0.0 -DX64=x64/kelvo.scr -DX86=x86/kelvo.scr -DOUTFILE=setup.exe kelvo.nsi
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
!define SPI_SETSCREENSAVEACTIVE 17
!define SPIF_UPDATEINIFILE_SENDCHANGE 3

Name "Kelvo"
Caption "Kelvo ${VERSION} Setup"
OutFile "${OUTFILE}"
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

Function .onInstSuccess
    ; Shows the system's screen-saver settings with Kelvo chosen, where its settings and preview are.
    ${IfNot} ${Silent}
    ${AndIf} ${SectionIsSelected} ${UseKelvo}
        Exec '"$SYSDIR\control.exe" desk.cpl,,@screensaver'
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ; No screen saver again, but only when the one in use is this Kelvo: another choice the
    ; user made since stays. Both paths are compared in their short forms, while the file exists.
    ReadRegStr $0 HKCU "${DesktopKey}" "${SaverValue}"
    ${If} $0 != ""
        GetFullPathName /SHORT $1 "$0"
        ${If} $1 == ""
            StrCpy $1 "$0"
        ${EndIf}
        GetFullPathName /SHORT $2 "$INSTDIR\kelvo.scr"
        ${If} $2 == ""
            StrCpy $2 "$INSTDIR\kelvo.scr"
        ${EndIf}
        ${If} $1 == $2
        ${OrIf} $0 == "$INSTDIR\kelvo.scr"
            DeleteRegValue HKCU "${DesktopKey}" "${SaverValue}"
        ${EndIf}
    ${EndIf}

    Delete "$INSTDIR\kelvo.scr"
    Delete "$INSTDIR\kelvo.ini"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The per-user programs folder goes too when Kelvo was all it held.
    RMDir "$LOCALAPPDATA\Programs"
    DeleteRegKey HKCU "${UninstallKey}"
SectionEnd
