; The Windows installer of Zendral, in Spanish. scripts/windows.sh builds it:
;
;   makensis -DVERSION=1.1 -DVERSION4=1.1.0.0 -DORIGEN=<folder with the files> -DARCHIVOS=<list.nsh>
;            -DSALIDA=<exe> -DICONO=<zendral.ico> -DTAMANO_KB=<size of the files> Zendral.nsi
;
; ORIGEN holds exactly what goes into the installation folder; ARCHIVOS (generated from ORIGEN)
; defines the macros ZendralInstalar and ZendralBorrar, one line per file, so that the
; uninstaller removes our files and nothing else: the folder is usually Velorin's own, and
; Velorin.ini, which Velorin reads beside zendral.exe, stays where it is.
; A 64-bit installer for 64-bit programs: it reads and writes the registry and the folders
; that 64-bit Windows (and Velorin) see.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | VERSION4 | ORIGEN | ARCHIVOS | SALIDA | ICONO | TAMANO_KB
  !error "Faltan VERSION, VERSION4, ORIGEN, ARCHIVOS, SALIDA, ICONO o TAMANO_KB"
!endif

!include "LogicLib.nsh"
!include "MUI2.nsh"
!include "${ARCHIVOS}"

!define CLAVE_DESINSTALAR "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zendral"
!define DESINSTALADOR "Desinstalar Zendral.exe"

Name "Zendral ${VERSION}"
OutFile "${SALIDA}"
BrandingText "Zendral ${VERSION}"
; Velorin's folder when Windows knows where Velorin.exe is (App Paths holds its full name; the
; file name is dropped), otherwise C:\Zendral. /D= on the command line overrides both.
InstallDir "C:\Zendral"
InstallDirRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\App Paths\Velorin.exe" ""
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
; The programs' own icon, for the installer and the uninstaller.
!define MUI_ICON "${ICONO}"
!define MUI_UNICON "${ICONO}"
!define MUI_WELCOMEPAGE_TITLE "Instalación de Zendral ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Zendral transforma los datos entre GestIB y Velorin.$\r$\n$\r$\nInstálelo en la carpeta de Velorin: Velorin lo arranca desde ella y lee allí el resultado (Velorin.ini). Si el instalador encuentra Velorin, propone su carpeta.$\r$\n$\r$\nPulse Siguiente para continuar."
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "Carpeta donde se instalará Zendral. Normalmente es la carpeta de Velorin."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Zendral está instalado"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Spanish"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "Zendral"
VIAddVersionKey /LANG=${LANG_SPANISH} "CompanyName" "Zendral"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador de Zendral ${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION4}"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "LegalCopyright" "© 2026 los autores de Zendral"

Section "Zendral" SecZendral
  SectionIn RO
  SetShellVarContext all
  ; A Zendral already in this folder, of any version, goes first through its own uninstaller: it
  ; removes exactly the files it installed, those this version no longer ships among them, and
  ; nothing else (Velorin's files, Velorin.ini and the working directory stay). It runs from the
  ; folder itself (_?=) so that it is waited for.
  ${If} ${FileExists} "$INSTDIR\${DESINSTALADOR}"
    DetailPrint "Quitando la versión anterior de Zendral"
    ExecWait '"$INSTDIR\${DESINSTALADOR}" /S _?=$INSTDIR'
    Delete "$INSTDIR\${DESINSTALADOR}"
  ${EndIf}
  SetOutPath "$INSTDIR"
  !insertmacro ZendralInstalar
  WriteUninstaller "$INSTDIR\${DESINSTALADOR}"

  CreateDirectory "$SMPROGRAMS\Zendral"
  CreateShortcut "$SMPROGRAMS\Zendral\Zendral.lnk" "$INSTDIR\zendral.exe" "" "$INSTDIR\zendral.exe" 0
  CreateShortcut "$SMPROGRAMS\Zendral\Ayuda de Zendral.lnk" "$INSTDIR\GestIB.chm"
  CreateShortcut "$SMPROGRAMS\Zendral\Desinstalar Zendral.lnk" "$INSTDIR\${DESINSTALADOR}"

  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayName" "Zendral ${VERSION}"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "Publisher" "Zendral"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayIcon" "$INSTDIR\zendral.exe,0"
  ; Our files only, in KB: the folder may be Velorin's, whose files are not ours to count.
  WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "EstimatedSize" ${TAMANO_KB}
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "UninstallString" '"$INSTDIR\${DESINSTALADOR}"'
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "QuietUninstallString" '"$INSTDIR\${DESINSTALADOR}" /S'
  WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoModify" 1
  WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro ZendralBorrar
  Delete "$INSTDIR\${DESINSTALADOR}"
  Delete "$SMPROGRAMS\Zendral\Zendral.lnk"
  Delete "$SMPROGRAMS\Zendral\Ayuda de Zendral.lnk"
  Delete "$SMPROGRAMS\Zendral\Desinstalar Zendral.lnk"
  RMDir "$SMPROGRAMS\Zendral"
  ; Only when empty: Velorin's own files, and Velorin.ini, stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${CLAVE_DESINSTALAR}"
SectionEnd
