"""The shipped exe stands alone: a graphical program that imports only DLLs every Windows has."""

import re
import subprocess
import unittest

from quillmark_wine import RECEIVER_EXE, require_windows_build

OBJDUMP = "x86_64-w64-mingw32-objdump"

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


if __name__ == "__main__":
    unittest.main()
