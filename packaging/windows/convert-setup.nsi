; The Windows installer: the batch command, the demo generator, the T-SQL
; extension and the README into Program Files, with an uninstaller that
; takes all of it away again. Built by the installer target of CMake:
;   makensis -DVERSION=x.y.z -DBUILD_DIR=... -DSOURCE_DIR=... -DOUT_FILE=...
; A 64-bit installer for the 64-bit programs.
Target amd64-unicode

!define PRODUCT "tillex-convert"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Vantor\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=tillex-convert-batch.exe" "${BUILD_DIR}\convert-batch.exe"
  File "/oname=tillex-convert-demo-gen.exe" "${BUILD_DIR}\convert-demo-gen.exe"
  File "${BUILD_DIR}\libtsqlext.dll"
  File "/oname=README.md" "${SOURCE_DIR}\README.md"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vantor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; The settings key belongs to the product that the tool converts into;
  ; the uninstaller leaves it alone.
  Delete "$INSTDIR\tillex-convert-batch.exe"
  Delete "$INSTDIR\tillex-convert-demo-gen.exe"
  Delete "$INSTDIR\libtsqlext.dll"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Vantor"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
