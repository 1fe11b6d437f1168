"""Shared pieces of the pairing tests: the one real pairing they all reuse, and cheap stand-ins
that record, in one ordered tape, every operation the module performs on them."""

import functools
import itertools
import types

import pytest
from py_ecc.bls12_381 import G1, G2

import zentorik

# The loop constants that install_stand_ins binds unless told otherwise: inputs of the stand-in
# tests, not a statement of what the module binds (test_miller_loop_flow.py tests that).
DEFAULT_LOOP_COUNT = 0xD201000000010000
DEFAULT_TOP_BIT = 62


@functools.cache
def base_pairing():
    """pairing(G2, G1), computed once per test process (it costs seconds), with the number of
    calls each module-level function received through the module namespace meanwhile."""
    calls = {}
    names = ("linefunc", "double", "add", "is_on_curve", "twist", "cast_point_to_fq12")
    with pytest.MonkeyPatch.context() as mp:
        for name in names:
            mp.setattr(zentorik, name, _counting(calls, name, getattr(zentorik, name)))
        value = zentorik.pairing(G2, G1)
    return value, {name: calls.get(name, 0) for name in names}


def _counting(calls, name, function):
    def wrapper(*args):
        calls[name] = calls.get(name, 0) + 1
        return function(*args)

    return wrapper


class Tape:
    """The ordered record of one call's operations on stand-ins. Field values are named v0, v1, …
    and points p0, p1, … in the order they are made, so two tapes compare equal exactly when
    the same operations ran on the same operands in the same order."""

    def __init__(self):
        self.events = []
        self._values = itertools.count()
        self._points = itertools.count()
        self._hooks = {}

    def value(self):
        return Value(self, f"v{next(self._values)}")

    def point(self):
        return Point(f"p{next(self._points)}")

    def record(self, *event):
        self.events.append(event)
        kind = event[0]
        seen = sum(1 for e in self.events if e[0] == kind)
        hook = self._hooks.pop((kind, seen), None)
        if hook:
            hook()

    def after(self, kind, nth, action):
        """Runs `action` right after the nth event of `kind` is recorded."""
        self._hooks[(kind, nth)] = action

    def kinds(self):
        return [event[0] for event in self.events]


class ForgetfulTape(Tape):
    """A tape that keeps no event, for calls repeated so often that a growing record would
    hide what they leak."""

    def record(self, *event):
        pass


class Value:
    """Stand-in for a 12th-degree field element."""

    def __init__(self, tape, name):
        self.tape, self.name = tape, name

    def __mul__(self, other):
        out = self.tape.value()
        self.tape.record("mul", self.name, other.name, out.name)
        return out

    def __pow__(self, exponent):
        out = self.tape.value()
        self.tape.record("pow", self.name, exponent, out.name)
        return out

    def __repr__(self):
        return self.name


class Point:
    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


class LoopCount(int):
    """An integer loop count that records each bit test made on it."""

    def __new__(cls, value, tape, kind="bit"):
        obj = super().__new__(cls, value)
        obj.tape, obj.kind = tape, kind
        return obj

    def __and__(self, other):
        self.tape.record(self.kind, other)
        return int(self) & other


def field_class(tape, kind="one"):
    def one():
        out = tape.value()
        tape.record(kind, out.name)
        return out

    return types.SimpleNamespace(one=one)


def line_function(tape, kind="line"):
    def linefunc(P1, P2, T):
        out = tape.value()
        tape.record(kind, P1.name, P2.name, T.name, out.name)
        return out

    return linefunc


def doubling(tape, kind="double"):
    def double(R):
        out = tape.point()
        tape.record(kind, R.name, out.name)
        return out

    return double


def addition(tape, kind="add"):
    def add(R, Q):
        out = tape.point()
        tape.record(kind, R.name, Q.name, out.name)
        return out

    return add


def install_stand_ins(mp, tape, loop_count=DEFAULT_LOOP_COUNT, top_bit=DEFAULT_TOP_BIT, *,
                      own_loop_constants=False):
    """Binds the stand-ins as the module attributes that miller_loop reads. With
    `own_loop_constants`, ate_loop_count and log_ate_loop_count stay as the module bound them
    (its bit tests are then not on the tape)."""
    mp.setattr(zentorik, "FQ12", field_class(tape))
    mp.setattr(zentorik, "linefunc", line_function(tape))
    mp.setattr(zentorik, "double", doubling(tape))
    mp.setattr(zentorik, "add", addition(tape))
    if not own_loop_constants:
        mp.setattr(zentorik, "ate_loop_count", LoopCount(loop_count, tape))
        mp.setattr(zentorik, "log_ate_loop_count", top_bit)


def final_exponent():
    return (zentorik.field_modulus**12 - 1) // zentorik.curve_order


def expected_events(loop_count, top_bit, exponent):
    """The tape of miller_loop(Q, P) as the algorithm prescribes it, with Q and P named so."""
    values = (f"v{n}" for n in itertools.count())
    points = (f"p{n}" for n in itertools.count())
    f = next(values)
    events = [("one", f)]
    R = "Q"
    for i in range(top_bit, -1, -1):
        square, line, product = next(values), next(values), next(values)
        events += [("mul", f, f, square), ("line", R, R, "P", line), ("mul", square, line, product)]
        f, doubled = product, next(points)
        events += [("double", R, doubled), ("bit", 2**i)]
        R = doubled
        if loop_count >> i & 1:
            line, product, added = next(values), next(values), next(points)
            events += [("line", R, "Q", "P", line), ("mul", f, line, product), ("add", R, "Q", added)]
            f, R = product, added
    events.append(("pow", f, exponent, next(values)))
    return events
