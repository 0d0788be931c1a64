"""The shipped exe stands alone: a graphical program that imports only DLLs every Windows has,
and presents itself to Windows with a manifest, a version block and an icon."""

import json
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

from quillmark_wine import (PROBE_EXE, RECEIVER_EXE, fresh_directory, open_session,
                            project_version, require_windows_build, windows_path)

OBJDUMP = "x86_64-w64-mingw32-objdump"
WINDRES = "x86_64-w64-mingw32-windres"

# DLLs of Windows itself. Anything else (libstdc++-6.dll, libwinpthread-1.dll, libgcc_s_*.dll,
# libssl-3-x64.dll, ...) would have to be shipped beside the exe.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "dwmapi.dll",
    "gdi32.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "secur32.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "userenv.dll", "uxtheme.dll", "version.dll", "winmm.dll", "ws2_32.dll",
}


class WindowsExecutable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        require_windows_build()
        cls.headers = subprocess.run([OBJDUMP, "-p", RECEIVER_EXE], check=True,
                                     capture_output=True, text=True).stdout

    def test_imports_only_system_dlls(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertIn("kernel32.dll", imported)  # the import table was read at all
        self.assertEqual(imported - SYSTEM_DLLS, set())

    def test_is_a_graphical_64_bit_program(self):
        self.assertRegex(self.headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        self.assertRegex(self.headers, r"Magic\s+020b\s+\(PE32\+\)")


def manifest_of(exe):
    """The RT_MANIFEST resource's XML, as windres decompiles the exe's resources."""
    script = subprocess.run([WINDRES, "-i", exe, "-O", "rc"], check=True, capture_output=True,
                            text=True).stdout
    block = re.search(r"^1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)^END", script, re.S | re.M)
    assert block, "no manifest resource (type 24, id 1) in the exe"
    pieces = re.findall(r'^\s*"((?:[^"]|"")*)"\s*$', block[1], re.M)
    return "".join(pieces).replace('""', '"').replace("\\n", "\n")


ASM_V1, ASM_V3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
WINDOWS_7_TO_11 = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        require_windows_build()
        cls.manifest = ElementTree.fromstring(manifest_of(RECEIVER_EXE))

    def find(self, path):
        element = self.manifest.find(path, {"v1": ASM_V1, "v3": ASM_V3, "c": COMPATIBILITY,
                                            "s5": SETTINGS_2005, "s16": SETTINGS_2016})
        self.assertIsNotNone(element, path)
        return element

    def test_manifest_asks_for_common_controls_6_per_monitor_dpi_and_no_elevation(self):
        controls = self.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity").attrib
        self.assertEqual((controls["name"], controls["version"], controls["publicKeyToken"]),
                         ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df"))
        level = self.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                          "v3:requestedExecutionLevel").attrib
        self.assertEqual(level["level"], "asInvoker")
        settings = "v3:application/v3:windowsSettings/"
        self.assertEqual(self.find(settings + "s16:dpiAwareness").text.replace(" ", ""),
                         "PerMonitorV2,PerMonitor")
        self.assertEqual(self.find(settings + "s5:dpiAware").text.lower(), "true/pm")
        supported = {os_entry.attrib["Id"].lower() for os_entry in
                     self.manifest.findall("c:compatibility/c:application/c:supportedOS",
                                           {"c": COMPATIBILITY})}
        self.assertEqual(supported, WINDOWS_7_TO_11)

    def test_version_block_and_icon_as_windows_reads_them(self):
        """The probe asks Wine's version and shell APIs, as Explorer's properties would."""
        session = open_session("windows_build")
        self.addCleanup(session.close)
        work_dir = fresh_directory("windows_build", "run")
        output = os.path.join(work_dir, "resources.json")
        probe = session.start([PROBE_EXE, "resources", windows_path(RECEIVER_EXE)],
                              cwd=work_dir, stdout_path=output)
        self.assertEqual(probe.wait(timeout=120), 0)
        with open(output, "rb") as result:
            found = json.loads(result.read().decode("utf-8"))
        version = project_version()
        self.assertEqual(found["version"]["file_version"], version + ".0")
        self.assertEqual(found["version"]["strings"], {
            "ProductName": "Quillmark", "FileDescription": "Quillmark PC Barcode Receiver",
            "CompanyName": "", "FileVersion": version, "ProductVersion": version,
            "OriginalFilename": "quillmark-receiver.exe"})
        self.assertEqual(found["icon_count"], 1)
        self.assertEqual((found["large"], found["small"]), (32, 16))
        sizes = [16, 20, 24, 32, 40, 48, 64, 256]
        self.assertEqual(sorted(found["sizes"]), sizes)
        self.assertEqual(sorted(found["loaded"]), sizes, "each size loads at its own size")


if __name__ == "__main__":
    unittest.main()
