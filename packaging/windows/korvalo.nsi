; The Windows installer, built by scripts/windows-packages.sh with makensis, which passes:
;   VERSION    the program's version, from project() in CMakeLists.txt ("1.00")
;   VIVERSION  the same as four numbers, as the file's version resource wants it ("1.0.0.0")
;   OUTFILE    the installer to write
;   CLI        korvalo-cli.exe;  WINDOW  korvalo.exe, only when it was built
;   COPYING    COPYING with Windows line ends;  LICENSE  the same, a paragraph a line, for its page
;   README     the short README.txt
; A 64-bit installer: the 32-bit stub does not run where only 64-bit Windows programs can.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"

!macro Needed NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: run scripts/windows-packages.sh, which defines the files to pack"
  !endif
!macroend
!insertmacro Needed VERSION
!insertmacro Needed VIVERSION
!insertmacro Needed OUTFILE
!insertmacro Needed CLI
!insertmacro Needed LICENSE
!insertmacro Needed COPYING
!insertmacro Needed README

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvalo"

Name "Korvalo ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Korvalo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VIVERSION}"
VIAddVersionKey /LANG=0 "ProductName" "Korvalo"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Korvalo ${VERSION} Setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

; Chinese first: it is the language of the program. The installer picks the one that matches
; Windows' own language and Chinese when neither does.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString CliShortcut ${LANG_SIMPCHINESE} "Korvalo 命令行"
LangString CliShortcut ${LANG_ENGLISH} "Korvalo command line"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Korvalo"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=korvalo-cli.exe" "${CLI}"
!ifdef WINDOW
  File "/oname=korvalo.exe" "${WINDOW}"
!endif
  File "/oname=COPYING.txt" "${COPYING}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Korvalo"
!ifdef WINDOW
  CreateShortCut "$SMPROGRAMS\Korvalo\Korvalo.lnk" "$INSTDIR\korvalo.exe"
!endif
  ; A console program started from the menu would close at once: the shortcut opens a command
  ; prompt in the program's folder that shows its help and stays.
  CreateShortCut "$SMPROGRAMS\Korvalo\$(CliShortcut).lnk" "$SYSDIR\cmd.exe" \
    '/k ""$INSTDIR\korvalo-cli.exe" --help"' "$INSTDIR\korvalo-cli.exe"

  ; The entry in Apps & features (Programs and Features).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Korvalo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvalo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
!ifdef WINDOW
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvalo.exe"
!else
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvalo-cli.exe"
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\korvalo.exe"
  Delete "$INSTDIR\korvalo-cli.exe"
  Delete "$INSTDIR\COPYING.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; Every shortcut in the folder, whatever the language they were named in at the install.
  Delete "$SMPROGRAMS\Korvalo\*.lnk"
  RMDir "$SMPROGRAMS\Korvalo"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
