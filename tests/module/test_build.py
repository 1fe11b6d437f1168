"""The two deliverables: the module's exports and needed libraries, and its object file."""

import os
import subprocess
from pathlib import Path

import pytest

EXPORTS = {"PyInit_zentorik", "zentorik_module_is_main"}
SANITIZED = os.environ.get("ZENTORIK_SANITIZED") == "1"


def tool(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def defined_dynamic_symbols(path):
    symbols = {}
    for line in tool("nm", "-D", "--defined-only", str(path)).splitlines():
        _address, kind, name = line.split()
        symbols[name] = kind
    return symbols


@pytest.fixture(scope="module")
def module_file(zentorik):
    return Path(zentorik.__file__)


@pytest.fixture(scope="module")
def object_file():
    return Path(os.environ["ZENTORIK_OBJECT"])


def test_module_file_name_carries_the_interpreter_suffix(module_file):
    assert module_file.name == "zentorik.cpython-312-x86_64-linux-gnu.so"


def test_module_exports_only_the_init_function_and_the_data_word(module_file):
    symbols = defined_dynamic_symbols(module_file)
    assert symbols.keys() == EXPORTS
    assert symbols["PyInit_zentorik"] == "T"
    assert symbols["zentorik_module_is_main"] in {"B", "D"}


def test_data_word_is_four_bytes(module_file):
    table = tool("readelf", "-sW", "--dyn-syms", str(module_file))
    line = next(l for l in table.splitlines() if l.endswith(" zentorik_module_is_main"))
    fields = line.split()
    assert fields[2] == "4" and fields[3] == "OBJECT"


def test_module_needs_only_libc(module_file):
    needed = {
        line.split("[")[1].rstrip("]")
        for line in tool("readelf", "-d", str(module_file)).splitlines()
        if "(NEEDED)" in line
    }
    allowed = {"libc.so.6"}
    if SANITIZED:
        allowed |= {"libasan.so.8", "libubsan.so.1"}
    assert "libc.so.6" in needed
    assert needed <= allowed


def test_object_file_is_relocatable_and_has_the_same_exports(object_file):
    assert object_file.parent == Path(__import__("zentorik").__file__).parent
    header = tool("readelf", "-h", str(object_file))
    assert "REL (Relocatable file)" in header

    defined_default, undefined = set(), set()
    for line in tool("readelf", "-sW", str(object_file)).splitlines():
        fields = line.split()
        if len(fields) < 8 or fields[4] != "GLOBAL":
            continue
        if fields[6] == "UND":
            undefined.add(fields[7])
        elif fields[5] == "DEFAULT":
            defined_default.add(fields[7])
    if SANITIZED:  # ASan's one-definition-rule markers of exported data
        defined_default = {n for n in defined_default if not n.startswith("__odr_asan.")}
    assert defined_default == EXPORTS
    # It carries the module's own code only: no C++ runtime, nothing but the interpreter's
    # C interface and the C library (and, instrumented, the sanitizer hooks).
    foreign = {
        name
        for name in undefined
        if not name.startswith(("Py", "_Py", "__asan", "__ubsan", "_GLOBAL_OFFSET_TABLE_"))
    }
    assert foreign <= {"memcpy", "memset", "memmove", "strlen", "__assert_fail"}, foreign


def test_data_word_set_before_import_runs_module_as_main(module_file):
    from conftest import run_python

    done = run_python(
        f"""
        import ctypes, sys
        library = ctypes.CDLL({str(module_file)!r})
        ctypes.c_int.in_dll(library, "zentorik_module_is_main").value = 1
        import zentorik
        print(zentorik.__name__, sys.modules["zentorik"] is zentorik)
        """
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["__main__", "True"]
