import os
import subprocess
import sys
import textwrap
import traceback

import pytest


@pytest.fixture(scope="session")
def zentorik():
    import zentorik

    return zentorik


def run_python(code, *, path=(), inherit_path=True, flags=(), timeout=120):
    """Runs `code` in a fresh interpreter (the venv's) and returns the finished process.
    The built module is importable unless `inherit_path` is false; `path` comes first."""
    env = dict(os.environ)
    inherited = [env.get("PYTHONPATH", "")] if inherit_path else []
    env["PYTHONPATH"] = os.pathsep.join([*path, *inherited])
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def module_entries(error):
    """(name, line) of the traceback entries that the module added to `error`, outermost first:
    those of its own code objects, which all name zentorik.cpp as their file (the import's
    entries as well as its functions')."""
    return [
        (e.name, e.lineno)
        for e in traceback.extract_tb(error.__traceback__)
        if e.filename == "zentorik.cpp"
    ]
