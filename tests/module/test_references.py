"""Reference safety: calls on good and bad arguments leave the arguments' reference counts
as they were and do not grow memory."""

import gc
import sys
import tracemalloc

import pytest
from py_ecc.bls12_381 import G1, double


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


@pytest.fixture(params=["chord", "tangent", "vertical", "keywords", "too few",
                        "multiple values", "unexpected keyword", "not a tuple", "subclass",
                        "too long", "arithmetic error", "cast", "cast None", "cast error",
                        "later functions"])
def call(request, zentorik):
    return calls(zentorik)[request.param]


def run(function, args, kwargs, times):
    for _ in range(times):
        try:
            function(*args, **kwargs)
        except Exception:
            pass


def test_reference_counts_and_memory_stay_flat(call):
    watched, function, args, kwargs = call
    coordinates = [c for point in watched for c in point if isinstance(point, tuple)]
    objects = [*watched, *coordinates, *args, *kwargs.values()]
    run(function, args, kwargs, 50)  # warm caches (interned strings, type caches)
    gc.collect()  # garbage cycles from earlier calls may still hold the arguments
    before = [sys.getrefcount(o) for o in objects]

    tracemalloc.start()
    try:
        # py_ecc makes a class per extension-field element, freed only by the collector.
        # The first window lets the interpreter's own caches settle; a leak shows in both.
        growth = []
        for _ in range(2):
            gc.collect()
            start, _ = tracemalloc.get_traced_memory()
            run(function, args, kwargs, 1000)
            gc.collect()
            end, _ = tracemalloc.get_traced_memory()
            growth.append(end - start)
    finally:
        tracemalloc.stop()

    assert [sys.getrefcount(o) for o in objects] == before
    # One leaked object (16 bytes or more) per call would be 16 kB or more here.
    assert growth[1] < 8192, growth
