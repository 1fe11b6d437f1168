"""pairing's input tests and calls, and the traceback entries of the three pairing functions,
with cheap stand-ins in place of py_ecc's expensive operations."""

import types

import pytest
from py_ecc.bls12_381 import FQ, FQ2, G1, G2

import zentorik
from conftest import module_entries
from pairing_support import Point, Tape, install_stand_ins

Q_MESSAGE = "Invalid input - point Q is not on the correct curve"
P_MESSAGE = "Invalid input - point P is not on the correct curves"

Q_OFF = (G2[0], G2[1] + FQ2([1, 0]))
P_OFF = (G1[0], G1[1] + FQ(1))


@pytest.fixture
def calls(monkeypatch):
    """Stand-ins for everything pairing calls after its tests; each records (name, args)."""
    log = []

    def recorder(name):
        def function(*args):
            log.append((name, *args))
            return (name, *args)

        return function

    for name in ("twist", "cast_point_to_fq12", "miller_loop"):
        monkeypatch.setattr(zentorik, name, recorder(name))
    real_is_on_curve = zentorik.is_on_curve

    def is_on_curve(pt, coefficient):
        log.append(("is_on_curve", pt, coefficient))
        return real_is_on_curve(pt, coefficient)

    monkeypatch.setattr(zentorik, "is_on_curve", is_on_curve)
    return log


def test_pairing_tests_both_points_then_twists_embeds_and_runs_the_loop(monkeypatch, calls):
    b, b2 = zentorik.b, zentorik.b2
    result = zentorik.pairing(G2, G1)
    assert calls == [
        ("is_on_curve", G2, b2),
        ("is_on_curve", G1, b),
        ("twist", G2),
        ("cast_point_to_fq12", G1),
        ("miller_loop", ("twist", G2), ("cast_point_to_fq12", G1)),
    ]
    assert result == calls[-1]
    assert zentorik.pairing(P=G1, Q=G2) == result


def test_pairing_reads_miller_loop_before_twisting_and_the_embedding_after(monkeypatch, calls):
    def twist(pt):
        calls.append(("twist", pt))
        zentorik.miller_loop = lambda *args: ("rebound miller_loop", *args)
        zentorik.cast_point_to_fq12 = lambda pt: ("rebound cast", pt)
        return "twisted"

    monkeypatch.setattr(zentorik, "twist", twist)
    assert zentorik.pairing(G2, G1) == ("miller_loop", "twisted", ("rebound cast", G1))


@pytest.mark.parametrize(
    "Q, P, message, tests, line",
    [
        (Q_OFF, G1, Q_MESSAGE, 1, 118),
        (Q_OFF, P_OFF, Q_MESSAGE, 1, 118),  # Q first: P is not even tested
        (G2, P_OFF, P_MESSAGE, 2, 120),
    ],
)
def test_point_off_its_curve_raises_before_any_further_call(calls, Q, P, message, tests, line):
    with pytest.raises(ValueError) as exc:
        zentorik.pairing(Q, P)
    assert type(exc.value) is ValueError and exc.value.args == (message,)
    assert module_entries(exc.value) == [("zentorik.pairing", line)]
    assert [c[0] for c in calls] == ["is_on_curve"] * tests


class Falsy:
    def __bool__(self):
        return False


@pytest.mark.parametrize("verdict", [False, 0, None, [], Falsy()])
def test_any_false_truth_value_rejects_the_point(monkeypatch, verdict):
    monkeypatch.setattr(zentorik, "is_on_curve", lambda pt, coefficient: verdict)
    with pytest.raises(ValueError, match="point Q"):
        zentorik.pairing(G2, G1)


def test_failing_twist_leaves_the_embedding_uncalled(monkeypatch, calls):
    def twist(pt):
        raise ArithmeticError("twist failed")

    monkeypatch.setattr(zentorik, "twist", twist)
    with pytest.raises(ArithmeticError) as exc:
        zentorik.pairing(G2, G1)
    assert [c[0] for c in calls] == ["is_on_curve", "is_on_curve"]
    assert module_entries(exc.value) == [("zentorik.pairing", 121)]


class Boom(Exception):
    pass


def boom(*args):
    raise Boom()


class Untruthful:
    def __bool__(self):
        raise Boom()


def _on_curve_for_Q_only(pt, coefficient):
    return True if pt is G2 else Untruthful()


def _chord_fails(P1, P2, T):
    if P1 is not P2:
        raise Boom()
    return Tape().value()


# Each case breaks one step; the entries list the module's traceback lines, outermost first.
TRACEBACK_CASES = [
    # miller_loop
    ("arguments", lambda: zentorik.miller_loop(1), {}, TypeError, [("zentorik.miller_loop", 97)]),
    ("None point", lambda: zentorik.miller_loop(None, 1),
     {"FQ12": types.SimpleNamespace(one=boom)}, Boom, [("zentorik.miller_loop", 101)]),
    ("making f", lambda: zentorik.miller_loop(1, 1),
     {"FQ12": types.SimpleNamespace(one=boom)}, Boom, [("zentorik.miller_loop", 104)]),
    ("reading the top bit", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"log_ate_loop_count": 62.0}, TypeError, [("zentorik.miller_loop", 106)]),
    ("the top bit missing", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"log_ate_loop_count": None}, NameError, [("zentorik.miller_loop", 106)]),
    ("tangent line", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"linefunc": boom}, Boom, [("zentorik.miller_loop", 107)]),
    ("squaring", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"FQ12": types.SimpleNamespace(one=object)}, TypeError, [("zentorik.miller_loop", 107)]),
    ("doubling", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"double": boom}, Boom, [("zentorik.miller_loop", 108)]),
    ("bit test", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"ate_loop_count": "loop count"}, TypeError, [("zentorik.miller_loop", 109)]),
    ("chord line", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"linefunc": _chord_fails}, Boom, [("zentorik.miller_loop", 110)]),
    ("addition", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"add": boom}, Boom, [("zentorik.miller_loop", 111)]),
    ("final exponent", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"field_modulus": "p", "log_ate_loop_count": -1}, TypeError, [("zentorik.miller_loop", 113)]),
    ("order missing", lambda: zentorik.miller_loop(Point("Q"), Point("P")),
     {"curve_order": None, "log_ate_loop_count": -1}, NameError, [("zentorik.miller_loop", 113)]),
    # pairing
    ("arguments", lambda: zentorik.pairing(G2, G1, G1), {}, TypeError, [("zentorik.pairing", 116)]),
    ("testing Q", lambda: zentorik.pairing(G2, G1), {"is_on_curve": boom}, Boom,
     [("zentorik.pairing", 117)]),
    ("truth of Q's test", lambda: zentorik.pairing(G2, G1),
     {"is_on_curve": lambda pt, c: Untruthful()}, Boom, [("zentorik.pairing", 117)]),
    ("b2 missing", lambda: zentorik.pairing(G2, G1), {"b2": None}, NameError,
     [("zentorik.pairing", 117)]),
    ("testing P", lambda: zentorik.pairing(G2, G1), {"is_on_curve": _on_curve_for_Q_only}, Boom,
     [("zentorik.pairing", 119)]),
    ("embedding", lambda: zentorik.pairing(G2, G1), {"cast_point_to_fq12": boom}, Boom,
     [("zentorik.pairing", 121)]),
    ("miller_loop missing", lambda: zentorik.pairing(G2, G1), {"miller_loop": None}, NameError,
     [("zentorik.pairing", 121)]),
    ("inside the loop", lambda: zentorik.pairing(G2, G1),
     {"cast_point_to_fq12": lambda pt: pt, "linefunc": lambda *points: Tape().value(), "double": boom},
     Boom,
     [("zentorik.pairing", 121), ("zentorik.miller_loop", 108)]),
    # final_exponentiate
    ("arguments", lambda: zentorik.final_exponentiate(), {}, TypeError,
     [("zentorik.final_exponentiate", 124)]),
    ("exponent", lambda: zentorik.final_exponentiate(2), {"curve_order": 0}, ZeroDivisionError,
     [("zentorik.final_exponentiate", 125)]),
    ("power", lambda: zentorik.final_exponentiate("p"), {}, TypeError,
     [("zentorik.final_exponentiate", 125)]),
]


@pytest.mark.parametrize(
    "call, bindings, error, entries", [c[1:] for c in TRACEBACK_CASES], ids=[c[0] for c in TRACEBACK_CASES]
)
def test_error_carries_the_entry_of_the_failing_step(monkeypatch, call, bindings, error, entries):
    install_stand_ins(monkeypatch, Tape())
    for name, value in bindings.items():
        if value is None:
            monkeypatch.delattr(zentorik, name)  # falls through to the builtins: NameError
        else:
            monkeypatch.setattr(zentorik, name, value)
    with pytest.raises(error) as exc:
        call()
    assert module_entries(exc.value) == entries
