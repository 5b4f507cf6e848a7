; The Windows installer of ZeVavi. Built by build-installer.sh, which passes:
;   SRCDIR     the deployed folder (the programs, the Qt and runtime DLLs, plugin folders)
;   OUTFILE    the installer to write
;   VERSION    the version shown in Programs and Features
;   FILES_NSH  the list of SRCDIR's files and folders, made by build-installer.sh
;   ICON       (optional) the .ico of the installer and the uninstaller
;   LICENSE    (optional) a text file shown on a licence page
;
; The installer is a 64-bit program: the programs it installs are 64-bit, and a 64-bit stub
; also runs under a Wine that has no 32-bit half.

!ifndef SRCDIR | OUTFILE | VERSION | FILES_NSH
  !error "build-installer.sh passes SRCDIR, OUTFILE, VERSION and FILES_NSH"
!endif

Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh
!include "${FILES_NSH}"

!define PRODUCT "ZeVavi"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZeVavi"
!define MENU_DIR "$SMPROGRAMS\ZeVavi"
; The box fetches its images from the PC by TFTP; a default Windows firewall drops those
; requests unless the program serving them is let in on UDP port 69.
!define RULE_GUI "ZeVavi TFTP (ZeVavi.exe)"
!define RULE_FLASH "ZeVavi TFTP (zevavi-flash.exe)"
!define RULE_STATION "ZeVavi TFTP (zevavi-station.exe)"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ZeVavi"
; A reinstall offers the folder of the installation it replaces.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!ifdef LICENSE
  !insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!endif
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; netsh's exit code is left on the stack by nsExec; a firewall that cannot be changed (no
; firewall service, a policy, Wine's netsh) is reported in the log and does not stop the run.
!macro DELETE_RULE NAME
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${NAME}"'
  Pop $0
  DetailPrint "netsh delete rule $\"${NAME}$\": $0"
!macroend

!macro ADD_RULE NAME PROGRAM
  ; A reinstall would otherwise add a second rule of the same name.
  !insertmacro DELETE_RULE "${NAME}"
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${NAME}" dir=in action=allow protocol=UDP localport=69 program="$INSTDIR\${PROGRAM}" enable=yes'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The firewall rule $\"${NAME}$\" could not be added (netsh: $0)."
    DetailPrint "Allow inbound UDP port 69 to $INSTDIR\${PROGRAM} by hand, or the box cannot fetch its images."
  ${Else}
    DetailPrint "Firewall rule $\"${NAME}$\" added."
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "ZeVavi needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; An earlier installation is removed by its own uninstaller, which knows the files it put
; there: files a newer version no longer ships would otherwise stay behind for good. Only
; the uninstaller named in the registry is run, never one that merely lies in the chosen
; folder and may belong to another program.
Function RemovePrevious
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\uninstall.exe"
    DetailPrint "Removing the installation in $1"
    ; _?= keeps the uninstaller in place, so ExecWait waits for it.
    ExecWait '"$1\uninstall.exe" /S _?=$1' $2
    DetailPrint "Previous uninstaller: $2"
    Delete "$1\uninstall.exe"
    RMDir "$1"
  ${EndIf}
FunctionEnd

Section "ZeVavi" SecMain
  SectionIn RO
  Call RemovePrevious

  !insertmacro ZV_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Shortcuts start in the install folder ($OUTDIR).
  CreateDirectory "${MENU_DIR}"
  CreateShortcut "${MENU_DIR}\ZeVavi.lnk" "$INSTDIR\ZeVavi.exe"
  CreateShortcut "${MENU_DIR}\ZeVavi station.lnk" "$INSTDIR\zevavi-station.exe"
  CreateShortcut "${MENU_DIR}\ZeVavi serial console.lnk" "$INSTDIR\zevavi-term.exe"
  CreateShortcut "${MENU_DIR}\Uninstall ZeVavi.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "ZeVavi"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZeVavi.exe,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${ZV_INSTALLED_KB}

  !insertmacro ADD_RULE "${RULE_GUI}" "ZeVavi.exe"
  !insertmacro ADD_RULE "${RULE_FLASH}" "zevavi-flash.exe"
  !insertmacro ADD_RULE "${RULE_STATION}" "zevavi-station.exe"
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  ; The folder may be one the user chose and share with other files: only what the installer
  ; put there goes, and each folder only once it is empty.
  !insertmacro ZV_UNINSTALL_FILES
  ; The programs keep their log, and the last five runs', beside themselves when they may.
  Delete "$INSTDIR\zevavi.log"
  Delete "$INSTDIR\zevavi.log.1"
  Delete "$INSTDIR\zevavi.log.2"
  Delete "$INSTDIR\zevavi.log.3"
  Delete "$INSTDIR\zevavi.log.4"
  Delete "$INSTDIR\zevavi.log.5"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; A stray copy of this uninstaller in an old folder must not take down the entries of the
  ; installation that is registered now.
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
  ${OrIf} $1 == ""
    !insertmacro DELETE_RULE "${RULE_GUI}"
    !insertmacro DELETE_RULE "${RULE_FLASH}"
    !insertmacro DELETE_RULE "${RULE_STATION}"
    Delete "${MENU_DIR}\ZeVavi.lnk"
    Delete "${MENU_DIR}\ZeVavi station.lnk"
    Delete "${MENU_DIR}\ZeVavi serial console.lnk"
    Delete "${MENU_DIR}\Uninstall ZeVavi.lnk"
    RMDir "${MENU_DIR}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    DetailPrint "$1 is the registered installation; its entries stay."
  ${EndIf}
SectionEnd
