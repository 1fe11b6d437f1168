import os
import subprocess
import sys
import textwrap

import pytest


@pytest.fixture(scope="session")
def zentorik():
    import zentorik

    return zentorik


def run_python(code, *, path=(), timeout=120):
    """Runs `code` in a fresh interpreter (the venv's) and returns the finished process."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([*path, env.get("PYTHONPATH", "")])
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )
