; The Windows installer, made by scripts/package --windows:
;   makensis -DVERSION=<version> -DSTAGE=<folder> -DUNINSTALL_LIST=<file> -DICON=<.ico> -DNOTICE=<.txt>
;            -DOUTFILE=<exe> ostrelo.nsi
; STAGE holds ostrelo.exe, its DLLs and Qt's plugins, the camera libraries' notice (NOTICE,
; shown on the first page) and their licences; UNINSTALL_LIST the uninstaller's
; Delete and RMDir lines for exactly those files, so an uninstall never removes anything else.
; Both run silently with /S.

; A 64-bit installer: a 32-bit one is not run by a 64-bit-only Wine, and a 64-bit program
; belongs in the 64-bit Program Files and registry.
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrelo"

Name "Ostrelo ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Ostrelo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Ostrelo"
VIAddVersionKey "FileDescription" "Ostrelo installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Ostrelo"

; Aravis, GLib and libusb come under the LGPL: the first page names them, their licences
; and where their source is (camera-libraries.txt, installed beside the program too).
LicenseText "Ostrelo brings these camera libraries, under their own licences:" "Next >"
LicenseData "${NOTICE}"
Page license
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

Section "Ostrelo"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Ostrelo.lnk" "$INSTDIR\ostrelo.exe" "" "$INSTDIR\ostrelo.exe" 0

  ; Windows' list of programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ostrelo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ostrelo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostrelo.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Ostrelo.lnk"
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files the operator put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
