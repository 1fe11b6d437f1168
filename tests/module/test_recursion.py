"""Endless re-entry through C-level callables only: nothing between two calls of a function
checks the recursion depth, so each function counts itself against the limit, as a Python
frame does, and the chain ends in RecursionError instead of a stack overflow."""

import json
import os

import pytest

from conftest import run_python

# Runs `setup`, then `call` twice (a level that failed to give its depth back would shorten
# the second chain), printing the message and the module's traceback entries of each error.
# A fresh interpreter, since a stack overflow would end it.
REENTRY = """
import json
from conftest import module_entries
{setup}
for _ in range(2):
    try:
        {call}
    except RecursionError as error:
        print(json.dumps([str(error), module_entries(error)]))
"""

# setup, call, what the message adds to "maximum recursion depth exceeded", the entry of every
# level but the deepest, the deepest level's entry
CHAINS = {
    # The deepest miller_loop is refused: an error of the call itself, at the definition line.
    "miller_loop through FQ12.one": (
        "import functools, types, zentorik as z\n"
        "z.FQ12 = types.SimpleNamespace(one=functools.partial(z.miller_loop, None, None))",
        "z.miller_loop(None, None)",
        " in miller_loop", ("zentorik.miller_loop", 101), ("zentorik.miller_loop", 97),
    ),
    # The deepest pairing is entered; is_not, a builtin that checks the depth as well, is not.
    "pairing through miller_loop": (
        "import operator, zentorik as z\n"
        "z.is_on_curve = operator.is_not; z.b = z.b2 = object()\n"
        "z.twist = z.cast_point_to_fq12 = tuple; z.miller_loop = z.pairing",
        "z.pairing((1, 2), (3, 4))",
        " while calling a Python object", ("zentorik.pairing", 121), ("zentorik.pairing", 117),
    ),
}


@pytest.mark.parametrize("chain", CHAINS.values(), ids=CHAINS.keys())
def test_endless_reentry_raises_recursion_error(chain):
    setup, call, where, level, deepest = chain
    done = run_python(REENTRY.format(setup=setup, call=call), path=[os.path.dirname(__file__)])
    assert done.returncode == 0, (done.returncode, done.stderr[-2000:])
    first, second = (json.loads(line) for line in done.stdout.splitlines())
    message, entries = first
    assert message == "maximum recursion depth exceeded" + where
    # Every level adds its entry on the way out, as for any other exception.
    levels = len(entries) - 1
    assert levels > 100
    assert [tuple(e) for e in entries] == [level] * levels + [deepest]
    assert second == first
