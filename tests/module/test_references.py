"""Reference safety: calls on good and bad arguments leave the arguments' reference counts
as they were and leave no memory block behind."""

import functools
import gc
import operator
import sys
import tracemalloc
import types

import pytest
from py_ecc.bls12_381 import G1, double

from pairing_support import ForgetfulTape, Value, doubling, install_stand_ins


class TupleSubclass(tuple):
    pass


def calls(z):
    """Calls of the module's functions, each made with its own argument objects."""
    P, Q, T = G1, double(G1), z.three
    long_point = (*P, P[0])
    return {
        "chord": ((P, Q, T), z.linefunc, (P, Q, T), {}),
        "tangent": ((P, T), z.linefunc, (P, P), {"T": T}),
        "vertical": ((P, T), z.linefunc, (P, z.negone, T), {}),
        "keywords": ((P, Q, T), z.linefunc, (), {"P1": P, "P2": Q, "T": T}),
        "too few": ((P, Q), z.linefunc, (P, Q), {}),
        "multiple values": ((P, Q, T), z.linefunc, (P, Q, T), {"P1": P}),
        "unexpected keyword": ((P, Q, T), z.linefunc, (P, Q), {"X": T}),
        "not a tuple": ((P,), z.linefunc, (P, list(Q), T), {}),
        "subclass": ((P, Q), z.linefunc, (P, TupleSubclass(Q), T), {}),
        "too long": ((long_point,), z.linefunc, (long_point, Q, T), {}),
        "arithmetic error": ((P,), z.linefunc, (P, Q, ("x", 1)), {}),
        "cast": ((P,), z.cast_point_to_fq12, (P,), {}),
        "cast None": ((), z.cast_point_to_fq12, (None,), {}),
        "cast error": ((), z.cast_point_to_fq12, ((1, 2),), {}),
        "later functions": ((P, Q), z.miller_loop, (P,), {"Q": Q, "X": P}),
    }


def pairing_calls(z, mp):
    """Successful calls of the pairing functions and the pairing's point-check errors, on cheap
    stand-ins that make a new object for every value and point: an object leaked anywhere in
    the Miller loop stays allocated, and a reference leaked to an argument or to a module
    attribute the loop reads shows in the watched reference counts."""
    tape = ForgetfulTape()
    install_stand_ins(mp, tape)
    mp.setattr(z, "twist", doubling(tape, "twist"))
    mp.setattr(z, "cast_point_to_fq12", doubling(tape, "cast"))
    Q, P, off = tape.point(), tape.point(), tape.point()
    mp.setattr(z, "is_on_curve", lambda pt, coefficient: pt is not off)
    mp.setattr(z, "b", object())
    mp.setattr(z, "b2", object())
    names = ("FQ12", "linefunc", "double", "add", "ate_loop_count", "field_modulus",
             "curve_order", "is_on_curve", "b", "b2", "twist", "cast_point_to_fq12",
             "miller_loop")
    attributes = tuple(getattr(z, name) for name in names)
    p = tape.value()
    return {
        "miller_loop": ((Q, P, *attributes), z.miller_loop, (Q, P), {}),
        "pairing": ((Q, P, *attributes), z.pairing, (Q, P), {}),
        "final_exponentiate": ((p, *attributes), z.final_exponentiate, (p,), {}),
        "Q off its curve": ((off, P, *attributes), z.pairing, (off, P), {}),
        "P off its curve": ((Q, off, *attributes), z.pairing, (Q, off), {}),
    }


def reentry_calls(z, mp):
    """Calls that re-enter a function through C-level callables only until the recursion limit
    refuses the next level. Every level holds the same argument objects, so a reference that
    one level leaks on the way out shows many times over."""
    Q, P = object(), object()
    fq12 = types.SimpleNamespace(one=functools.partial(z.miller_loop, Q, P))
    b, b2 = object(), object()
    points = (object(), object()), (object(), object())
    mp.setattr(z, "FQ12", fq12)
    mp.setattr(z, "is_on_curve", operator.is_not)
    mp.setattr(z, "b", b)
    mp.setattr(z, "b2", b2)
    mp.setattr(z, "twist", tuple)
    mp.setattr(z, "cast_point_to_fq12", tuple)
    mp.setattr(z, "miller_loop", z.pairing)
    return {
        "miller_loop re-entered": ((Q, P, fq12, fq12.one), fq12.one.func, (Q, P), {}),
        "pairing re-entered": ((*points, b, b2, z.pairing), z.pairing, points, {}),
    }


CALLS = ["chord", "tangent", "vertical", "keywords", "too few", "multiple values",
         "unexpected keyword", "not a tuple", "subclass", "too long", "arithmetic error", "cast",
         "cast None", "cast error", "later functions"]
PAIRING_CALLS = ["miller_loop", "pairing", "final_exponentiate", "Q off its curve",
                 "P off its curve"]
REENTRY_CALLS = ["miller_loop re-entered", "pairing re-entered"]
WINDOWS, CALLS_PER_WINDOW = 3, 300


@pytest.fixture(params=CALLS + PAIRING_CALLS + REENTRY_CALLS)
def call(request, zentorik, monkeypatch):
    if request.param in PAIRING_CALLS:
        return pairing_calls(zentorik, monkeypatch)[request.param]
    if request.param in REENTRY_CALLS:
        return reentry_calls(zentorik, monkeypatch)[request.param]
    return calls(zentorik)[request.param]


@pytest.mark.parametrize("name, message", [
    ("miller_loop", None), ("pairing", None), ("final_exponentiate", None),
    ("Q off its curve", "point Q is not on"), ("P off its curve", "point P is not on")])
def test_pairing_calls_get_as_far_as_their_names_say(zentorik, monkeypatch, name, message):
    _, function, args, kwargs = pairing_calls(zentorik, monkeypatch)[name]
    if message is None:
        assert isinstance(function(*args, **kwargs), Value)
    else:
        with pytest.raises(ValueError, match=message):
            function(*args, **kwargs)


@pytest.mark.parametrize("name, where", [("miller_loop re-entered", " in miller_loop"),
                                         ("pairing re-entered", " while calling a Python object")])
def test_reentry_calls_end_at_the_recursion_limit(zentorik, monkeypatch, name, where):
    _, function, args, kwargs = reentry_calls(zentorik, monkeypatch)[name]
    with pytest.raises(RecursionError) as exc:
        function(*args, **kwargs)
    assert str(exc.value) == "maximum recursion depth exceeded" + where


def run(function, args, kwargs, times):
    for _ in range(times):
        try:
            function(*args, **kwargs)
        except Exception:
            pass


def live_blocks():
    """The number of memory blocks allocated since tracemalloc started that are still live."""
    return len(tracemalloc.take_snapshot().traces)


def test_reference_counts_and_live_blocks_stay_flat(call):
    watched, function, args, kwargs = call
    coordinates = [c for point in watched if isinstance(point, tuple) for c in point]
    objects = [*watched, *coordinates, *args, *kwargs.values()]
    run(function, args, kwargs, 50)  # warm caches (interned strings, type caches)
    gc.collect()  # garbage cycles from earlier calls may still hold the arguments
    before = [sys.getrefcount(o) for o in objects]

    # A call that leaks leaves at least one more live block each time, in every window of calls;
    # a sound one, once the interpreter's caches have settled, leaves none. (py_ecc makes a class
    # per extension-field element, freed only by the collector, hence the collections.)
    tracemalloc.start()
    try:
        growth = []
        for _ in range(WINDOWS):
            gc.collect()
            start = live_blocks()
            run(function, args, kwargs, CALLS_PER_WINDOW)
            gc.collect()
            growth.append(live_blocks() - start)
    finally:
        tracemalloc.stop()

    assert [sys.getrefcount(o) for o in objects] == before
    assert min(growth) <= 0, f"live blocks gained, {CALLS_PER_WINDOW} calls a window: {growth}"
