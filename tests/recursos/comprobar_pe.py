#!/usr/bin/env python3
"""Reads a built Windows program (or the installer) back with pefile, a parser of its own, and
checks what Explorer and inventory tools show: the icon at every size, the version information
with the project's version, and (for our programs) the application manifest.

    comprobar_pe.py ARCHIVO.exe VERSION [--instalador] [--icono zendral.ico]

VERSION is the CMake project version ("1.1"). Exits 0 when all is as expected, 1 otherwise,
printing every fault found."""
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

TAMANOS = [16, 20, 24, 32, 40, 48, 64, 128, 256]
fallos = []


def falla(texto):
    fallos.append(texto)


def recursos(pe, tipo):
    """The data of every resource of a type, as (id, bytes)."""
    datos = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return datos
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != tipo:
            continue
        for nombre in t.directory.entries:
            for idioma in nombre.directory.entries:
                d = idioma.data.struct
                datos.append((nombre.id, pe.get_data(d.OffsetToData, d.Size)))
    return datos


def tamanos_de_grupo(datos):
    """The sizes an icon group (GRPICONDIR) lists; 0 stands for 256."""
    _, _, cuenta = struct.unpack_from("<HHH", datos, 0)
    return sorted((datos[6 + 14 * i] or 256) for i in range(cuenta))


def tamanos_de_ico(ruta):
    with open(ruta, "rb") as f:
        datos = f.read()
    _, _, cuenta = struct.unpack_from("<HHH", datos, 0)
    return sorted((datos[6 + 16 * i] or 256) for i in range(cuenta))


def version(pe, esperada, instalador):
    partes = [int(p) for p in esperada.split(".")]
    cuatro = (partes + [0, 0, 0, 0])[:4]
    texto4 = ".".join(str(p) for p in cuatro)
    fijas = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fijas:
        falla("no hay información de versión (VS_FIXEDFILEINFO)")
        return
    f = fijas[0]
    leida = [f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF]
    if leida != cuatro:
        falla(f"versión del archivo {leida}, se esperaba {cuatro}")
    cadenas = {}
    for info in getattr(pe, "FileInfo", []) or []:
        for bloque in info:
            for tabla in getattr(bloque, "StringTable", []):
                for clave, valor in tabla.entries.items():
                    cadenas[clave.decode("utf-8", "replace")] = valor.decode("utf-8", "replace")
    if cadenas.get("ProductName") != "Zendral":
        falla(f"ProductName: {cadenas.get('ProductName')!r}")
    if cadenas.get("ProductVersion") != esperada:
        falla(f"ProductVersion {cadenas.get('ProductVersion')!r}, se esperaba {esperada!r}")
    if cadenas.get("FileVersion") not in (esperada, texto4):
        falla(f"FileVersion {cadenas.get('FileVersion')!r}, se esperaba {texto4!r}")
    for clave in ("FileDescription", "LegalCopyright"):
        if not cadenas.get(clave):
            falla(f"falta {clave}")
    if not instalador and "Velorin" not in cadenas.get("FileDescription", ""):
        falla(f"FileDescription sin sentido: {cadenas.get('FileDescription')!r}")
    print("versión:", ", ".join(f"{k}={v}" for k, v in sorted(cadenas.items())))


def manifiesto(pe):
    datos = recursos(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    if len(datos) != 1 or datos[0][0] != 1:
        falla(f"se esperaba un manifiesto con el número 1, hay {[n for n, _ in datos]}")
        return
    raiz = ET.fromstring(datos[0][1])

    def todos(nombre):
        return [e for e in raiz.iter() if e.tag.split("}")[-1] == nombre]

    nivel = [e.get("level") for e in todos("requestedExecutionLevel")]
    if nivel != ["asInvoker"]:
        falla(f"nivel de ejecución {nivel}, se esperaba asInvoker")
    dpi = [(e.text or "").strip() for e in todos("dpiAwareness")]
    if not dpi or not dpi[0].startswith("PerMonitorV2"):
        falla(f"dpiAwareness {dpi}, se esperaba PerMonitorV2")
    if [(e.text or "").strip() for e in todos("dpiAware")] != ["true/pm"]:
        falla("falta dpiAware true/pm (Windows anteriores a 10)")
    if [(e.text or "").strip().lower() for e in todos("longPathAware")] != ["true"]:
        falla("falta longPathAware")
    sistemas = {e.get("Id").lower() for e in todos("supportedOS")}
    if "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" not in sistemas:
        falla(f"supportedOS sin Windows 10: {sorted(sistemas)}")
    # The programs rely on the ANSI code page and the console as Windows gives them.
    for cambia in ("activeCodePage", "heapType", "consoleAllocationPolicy"):
        if todos(cambia):
            falla(f"el manifiesto fija {cambia}")
    print("manifiesto:", nivel[0] if nivel else "-", dpi, len(sistemas), "sistemas")


def main():
    args = sys.argv[1:]
    instalador = "--instalador" in args
    ico = None
    if "--icono" in args:
        i = args.index("--icono")
        ico = args[i + 1]
        del args[i:i + 2]
    args = [a for a in args if a != "--instalador"]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    archivo, esperada = args
    pe = pefile.PE(archivo)

    grupos = recursos(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    if not grupos:
        falla("no hay icono")
    else:
        # The first group is the one Explorer shows.
        grupos.sort(key=lambda g: (isinstance(g[0], str), g[0]))
        tamanos = tamanos_de_grupo(grupos[0][1])
        esperados = tamanos_de_ico(ico) if ico else TAMANOS
        if tamanos != esperados:
            falla(f"icono de {tamanos} px, se esperaban {esperados}")
        print("icono:", tamanos)
    version(pe, esperada, instalador)
    if not instalador:
        manifiesto(pe)
    for f in fallos:
        print("FALLO:", f, file=sys.stderr)
    return 1 if fallos else 0


if __name__ == "__main__":
    sys.exit(main())
