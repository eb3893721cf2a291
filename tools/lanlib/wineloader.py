"""Which Wine loader runs a 64-bit program here, and whether 32-bit ones run
at all, for tools/lan and the network tests (scripts/winelib.sh's wl_wine
and wl_runs_32bit, for Python). Debian's `wine` picks the 32-bit loader
whenever wine32 is installed, also where the kernel runs no 32-bit program
(its ia32 emulation off). Standard library only.
"""
import os
import subprocess

WINE64 = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"


def runs_32bit():
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True,
                              timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):  # "Exec format error"
        return False
