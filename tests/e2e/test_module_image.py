"""What the built modules are as files: machine, exports, imports, version
resource and manifest. These need no Wine, only binutils."""
import re
import subprocess
import xml.etree.ElementTree as ET

import pytest

from conftest import Target
from pe import PE, RT_MANIFEST, RT_VERSION, fixed_file_info

COMMON_EXPORTS = {
    "xlAutoOpen", "xlAutoClose", "xlAddInManagerInfo", "xlAddInManagerInfo12", "xlAutoFree", "xlAutoFree12",
    "md5_from_mb_string4", "md5_from_mb_string12", "md5_from_wc_string4", "md5_from_wc_string12",
    "md5_from_utf8_string4", "md5_from_utf8_string12", "md5_from_file4", "md5_from_file12",
}
# The one stdcall export keeps its decoration on 32-bit, where it means something.
SET_ENTRY = {32: "_SetExcel12EntryPt@4", 64: "SetExcel12EntryPt"}
MACHINE = {32: (0x014C, 0x10B, "pei-i386"), 64: (0x8664, 0x20B, "pei-x86-64")}
# Libraries every Windows installation has; a mingw runtime DLL here would
# make the add-in fail to load on a machine without mingw.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll", "ucrtbase.dll"}


@pytest.fixture(params=[("win32", 32), ("win64", 64)], ids=["win32", "win64"])
def module(request):
    t = Target(*request.param)
    if not t.xll.is_file():
        pytest.fail(f"{t.xll} is not built: cmake --preset {t.name} && cmake --build --preset {t.name}")
    dump = subprocess.run([t.objdump, "-p", str(t.xll)], capture_output=True, text=True, check=True).stdout
    return t, dump, PE(t.xll.read_bytes())


def exports(dump):
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    return [m.group(1) for m in re.finditer(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table, re.M)]


def test_machine_and_kind(module):
    t, dump, pe = module
    machine, magic, objdump_format = MACHINE[t.bits]
    assert (pe.machine, pe.magic) == (machine, magic)
    assert pe.characteristics & 0x2000, "not marked as a DLL"
    assert f"file format {objdump_format}" in dump


def test_exactly_the_fifteen_exports(module):
    t, dump, _ = module
    names = exports(dump)
    assert sorted(names) == sorted(COMMON_EXPORTS | {SET_ENTRY[t.bits]})
    assert len(names) == 15
    assert re.search(r"^Name\s+\S+\s+Kestrova\.xll$", dump, re.M), "export directory does not name Kestrova.xll"


def test_imports_only_system_libraries(module):
    _, dump, _ = module
    imported = {m.group(1).lower() for m in re.finditer(r"DLL Name: (\S+)", dump)}
    assert imported, "no import table found"
    assert imported <= SYSTEM_DLLS, imported - SYSTEM_DLLS
    # XLCall32.dll is bound when first called, never at load time.
    load_time = dump.split("Delay Import", 1)[0] if "Delay Import Tables" in dump else dump
    assert "xlcall32.dll" not in {m.group(1).lower() for m in re.finditer(r"DLL Name: (\S+)", load_time)}


def test_version_resource_and_manifest(module):
    _, _, pe = module
    [version] = pe.resources(RT_VERSION)
    assert fixed_file_info(version) == ("0.8.1.0", "0.8.1.0")
    assert "0.8.1.0" in version.decode("utf-16-le", "replace")  # the string table agrees

    [manifest] = pe.resources(RT_MANIFEST)
    root = ET.fromstring(manifest.lstrip(b"\xef\xbb\xbf"))
    levels = [e.attrib.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    assert levels == ["asInvoker"]
