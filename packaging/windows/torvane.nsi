; The Windows installer of Torvane, compiled by makensis: scripts/windows/make-installer.sh runs it
; on Debian over the cross build, packaging/windows/make-installer.ps1 on Windows over a native one.
;
;   makensis -DSTAGE=<folder> -DVERSION=<x.y.z> -DICON=<torvane.ico> -DOUTFILE=<setup.exe> torvane.nsi
;
; STAGE holds torvane.exe, torvane-fetch.exe, torvane-host.exe, the Qt and C++ runtime libraries
; and the Qt plugins they load, and, when the build was given them, the media tool (yt-dlp.exe) and
; ffmpeg under the names the program runs them by, core_engine.bin and media_codec.bin. Without
; them the program installs and shows its "missing yt-dlp.exe" error on video links. Everything in
; STAGE is installed into one folder.

; A 64-bit installer for a 64-bit program: it also runs where only 64-bit programs run (a Wine
; without its 32-bit half).
Target amd64-unicode

!ifndef STAGE | VERSION | ICON | OUTFILE
  !error "usage: makensis -DSTAGE=... -DVERSION=... -DICON=... -DOUTFILE=... torvane.nsi"
!endif
!if ! /FileExists "${STAGE}\torvane.exe"
  !error "${STAGE}\torvane.exe is missing: build it and stage it first"
!endif
!if ! /FileExists "${STAGE}\platforms\qwindows.dll"
  !error "${STAGE}\platforms\qwindows.dll is missing: stage the Qt plugins"
!endif

!include "MUI2.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane"

Name "Torvane"
OutFile "${OUTFILE}"
; Browsing for another folder appends "Torvane" to it, so the uninstaller's folder is always ours.
InstallDir "$PROGRAMFILES64\Torvane"
InstallDirRegKey HKLM "Software\Torvane" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Torvane"
VIAddVersionKey /LANG=0 "CompanyName" "Halvorin"
VIAddVersionKey /LANG=0 "FileDescription" "Torvane installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "© Halvorin"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\torvane.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the default; the installer asks neither, it follows Windows.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Arabic"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Torvane needs a 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "Torvane"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  File "/oname=torvane.ico" "${ICON}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Torvane.lnk" "$INSTDIR\torvane.exe" "" "$INSTDIR\torvane.ico"

  WriteRegStr HKLM "Software\Torvane" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Torvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Halvorin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvane.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; ---- Browser native messaging --------------------------------------------------------------------
; torvane-host.exe is how the browser extension reaches Torvane without a port. Each browser finds
; the host's manifest (naming only our extension) through a registry key of its own; the manifests
; name the host relative to themselves.
!define NATIVE_HOST "io.github.torvane.host"
!if ! /FileExists "${STAGE}\torvane-host.exe"
  !error "${STAGE}\torvane-host.exe is missing: build the torvane-host target"
!endif
!macro NativeHostKeys ACTION
  !insertmacro ${ACTION} "Software\Google\Chrome\NativeMessagingHosts\${NATIVE_HOST}" "chromium"
  !insertmacro ${ACTION} "Software\Chromium\NativeMessagingHosts\${NATIVE_HOST}" "chromium"
  !insertmacro ${ACTION} "Software\Microsoft\Edge\NativeMessagingHosts\${NATIVE_HOST}" "chromium"
  !insertmacro ${ACTION} "Software\Mozilla\NativeMessagingHosts\${NATIVE_HOST}" "firefox"
!macroend
!macro WriteNativeHostKey KEY BROWSER
  WriteRegStr HKLM "${KEY}" "" "$INSTDIR\${NATIVE_HOST}.${BROWSER}.json"
!macroend
!macro DeleteNativeHostKey KEY BROWSER
  DeleteRegKey HKLM "${KEY}"
!macroend

Section "Browser native messaging"
  SetOutPath "$INSTDIR"
  File "/oname=${NATIVE_HOST}.chromium.json" "native-messaging\chromium.json"
  File "/oname=${NATIVE_HOST}.firefox.json" "native-messaging\firefox.json"
  !insertmacro NativeHostKeys WriteNativeHostKey
SectionEnd

Section "un.Browser native messaging"
  !insertmacro NativeHostKeys DeleteNativeHostKey
SectionEnd
; ---- End of browser native messaging ------------------------------------------------------------

Function un.onInit
  SetRegView 64
FunctionEnd

; The task list lives in the user's application data and stays.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Torvane.lnk"
  ${If} ${FileExists} "$INSTDIR\torvane.exe"
    RMDir /r "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Torvane"
SectionEnd
