"""Run inside the hidden surroundings, before the tests: the module must be
the one installed in this virtual environment, and RE2, ICU and the
compilers must be out of reach (and on a free-threaded build the GIL
must stay off), so that passing tests show the wheel needs
none of them."""

import ctypes
import glob
import os
import subprocess
import sys
import sysconfig

import vintrel

problems = []
if not os.path.realpath(vintrel.__file__).startswith(os.path.realpath(sys.prefix) + os.sep):
    problems.append(f"vintrel is imported from {vintrel.__file__}, outside the environment {sys.prefix}")
if sysconfig.get_config_var("Py_GIL_DISABLED") and sys._is_gil_enabled():
    problems.append("the GIL is on after importing vintrel")
for pattern in ("/usr/lib/*/libre2.so*", "/usr/lib/*/libicu*.so*"):
    for lib in glob.glob(pattern):
        try:
            ctypes.CDLL(lib)
            problems.append(f"{lib} can still be loaded")
        except OSError:
            pass
for compiler in ("cc", "c++", "gcc", "g++", "clang", "clang++"):
    try:
        ran = subprocess.run([compiler, "--version"], capture_output=True).returncode == 0
    except OSError:
        ran = False
    if ran:
        problems.append(f"the compiler {compiler} still runs")
for headers in ("/usr/include/re2", "/usr/include/unicode"):
    if os.path.isdir(headers) and os.listdir(headers):
        problems.append(f"{headers} can still be read")
sys.exit("\n".join(problems) or None)
