"""Control flow of miller_loop and final_exponentiate, on cheap stand-ins bound as module
attributes: which operations run, on which operands, in which order, and which names they read."""

import pytest
from py_ecc.bls12_381 import curve_order, field_modulus

import zentorik
from conftest import module_entries
from pairing_support import (
    DEFAULT_LOOP_COUNT,
    LoopCount,
    Point,
    Tape,
    Value,
    addition,
    doubling,
    expected_events,
    field_class,
    final_exponent,
    install_stand_ins,
    line_function,
)

Q, P = Point("Q"), Point("P")


@pytest.fixture
def tape(monkeypatch):
    tape = Tape()
    install_stand_ins(monkeypatch, tape)
    return tape


@pytest.mark.parametrize(
    "loop_count, top_bit",
    [
        (DEFAULT_LOOP_COUNT, 62),
        (0, 62),  # no addition step at all
        (2**63 - 1, 62),  # every iteration adds
        (DEFAULT_LOOP_COUNT, 0),  # one iteration, testing bit 0 (clear)
        (1, 0),  # one iteration, testing bit 0 (set)
        (DEFAULT_LOOP_COUNT, -1),  # no iteration: one raised to the final exponent
        (2**64 - 1, 63),
    ],
)
def test_operations_run_in_the_order_of_the_algorithm(monkeypatch, loop_count, top_bit):
    tape = Tape()
    install_stand_ins(monkeypatch, tape, loop_count, top_bit)
    result = zentorik.miller_loop(Q, P)
    expected = expected_events(loop_count, top_bit, final_exponent())
    assert tape.events == expected
    assert result.name == expected[-1][-1]


# BLS12-381's curve parameter x, from which the curve is made: r = x^4 - x^2 + 1 and
# p = (x - 1)^2 r / 3 + x. The ate loop runs over the bits of |x| below its top bit (the top bit
# is the start, R = Q and f = 1).
BLS_X = -0xD201000000010000


def test_the_curve_parameter_is_that_of_py_eccs_curve():
    assert curve_order == BLS_X**4 - BLS_X**2 + 1
    assert field_modulus == (BLS_X - 1) ** 2 * curve_order // 3 + BLS_X


def test_the_module_loops_over_the_curve_parameter_by_default(monkeypatch):
    # The loop constants (and the names the final exponent is formed from) are the module's own,
    # as its import bound them; only the arithmetic is stood in for.
    tape = Tape()
    install_stand_ins(monkeypatch, tape, own_loop_constants=True)
    zentorik.miller_loop(Q, P)
    loop_count = abs(BLS_X)
    top_bit = loop_count.bit_length() - 2
    exponent = (field_modulus**12 - 1) // curve_order
    expected = expected_events(loop_count, top_bit, exponent)
    assert tape.events == [e for e in expected if e[0] != "bit"]
    # The same, read off the tape: the additions follow bits 62, 60, 57, 48 and 16.
    kinds = tape.kinds()
    bits_before_each_add = [62 - kinds[:at].count("double") + 1 for at, k in enumerate(kinds) if k == "add"]
    assert bits_before_each_add == [62, 60, 57, 48, 16]


@pytest.mark.parametrize("args", [(None, P), (Q, None), (None, None)])
def test_none_point_returns_one_itself_and_reads_only_the_field_class(monkeypatch, args):
    tape = Tape()
    monkeypatch.setattr(zentorik, "FQ12", field_class(tape))
    for name in ("linefunc", "double", "add", "ate_loop_count", "log_ate_loop_count",
                 "field_modulus", "curve_order"):
        monkeypatch.delattr(zentorik, name)
    result = zentorik.miller_loop(*args)
    assert tape.events == [("one", "v0")]
    assert isinstance(result, Value) and result.name == "v0"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntWithOtherIndex(int):
    # An int subclass gives its own value; its __index__ is not consulted.
    def __index__(self):
        return 5


@pytest.mark.parametrize(
    "top_bit, iterations",
    [
        (True, 2),
        (Index(3), 4),
        (IntWithOtherIndex(1), 2),
        (-(2**31), 0),
        (-1, 0),
    ],
)
def test_top_bit_is_read_through_the_index_protocol(monkeypatch, tape, top_bit, iterations):
    monkeypatch.setattr(zentorik, "log_ate_loop_count", top_bit)
    zentorik.miller_loop(Q, P)
    assert tape.kinds().count("double") == iterations


@pytest.mark.parametrize(
    "top_bit, error",
    [
        (62.0, TypeError),
        ("62", TypeError),
        (None, TypeError),
        (Index(2**31), OverflowError),
        (2**31, OverflowError),  # would wrap to a negative index in 32 bits
        (2**32 + 3, OverflowError),  # would wrap to 3
        (-(2**31) - 1, OverflowError),
        (2**63, OverflowError),
        (2**100, OverflowError),
    ],
)
def test_top_bit_that_is_no_32_bit_index_is_refused_before_the_loop(monkeypatch, tape, top_bit, error):
    monkeypatch.setattr(zentorik, "log_ate_loop_count", top_bit)
    with pytest.raises(error) as exc:
        zentorik.miller_loop(Q, P)
    assert tape.kinds() == ["one"]  # f is made first, nothing after
    assert module_entries(exc.value) == [("zentorik.miller_loop", 106)]


def test_rebinding_the_top_bit_during_the_loop_changes_nothing(monkeypatch, tape):
    tape.after("double", 1, lambda: setattr(zentorik, "log_ate_loop_count", 0))
    zentorik.miller_loop(Q, P)
    assert tape.kinds().count("double") == 63


def _rebind(name, make):
    def action(tape):
        setattr(zentorik, name, make(tape))

    return action


# A rebinding made right after an operation is seen by the next lookup of that name, even within
# the same iteration; the expected prefixes show which operation used which binding ("!").
@pytest.mark.parametrize(
    "kind, nth, action, prefix",
    [
        ("one", 1, _rebind("log_ate_loop_count", lambda t: 1),
         ["one"] + ["mul", "line", "mul", "double", "bit"] * 2 + ["pow"]),
        ("mul", 1, _rebind("linefunc", lambda t: line_function(t, "line!")),
         ["one", "mul", "line!", "mul", "double", "bit", "line!"]),
        ("line", 1, _rebind("double", lambda t: doubling(t, "double!")),
         ["one", "mul", "line", "mul", "double!"]),
        ("double", 1, _rebind("ate_loop_count", lambda t: LoopCount(0, t, "bit!")),
         ["one", "mul", "line", "mul", "double", "bit!", "mul", "line", "mul", "double", "bit!"]),
        ("bit", 1, _rebind("linefunc", lambda t: line_function(t, "line!")),
         ["one", "mul", "line", "mul", "double", "bit", "line!", "mul", "add", "mul", "line!"]),
        ("line", 2, _rebind("add", lambda t: addition(t, "add!")),
         ["one", "mul", "line", "mul", "double", "bit", "line", "mul", "add!"]),
        ("line", 2, _rebind("FQ12", lambda t: None),  # f is made once
         ["one", "mul", "line", "mul", "double", "bit", "line", "mul", "add", "mul"]),
    ],
)
def test_every_use_looks_the_name_up_again(tape, kind, nth, action, prefix):
    tape.after(kind, nth, lambda: action(tape))
    zentorik.miller_loop(Q, P)
    assert tape.kinds()[: len(prefix)] == prefix


def test_bit_test_takes_the_truth_value_of_the_and(monkeypatch, tape):
    class Truth:
        def __init__(self, value):
            self.value = value

        def __bool__(self):
            return self.value

    class LoopCountObject:
        # Not an int: only the & operator (loop count on the left) and a truth value are used.
        def __and__(self, power):
            tape.record("bit", power)
            return Truth(power in (2**3, 2**0))

        def __rand__(self, power):
            raise AssertionError("the loop count must be the left operand")

    monkeypatch.setattr(zentorik, "ate_loop_count", LoopCountObject())
    monkeypatch.setattr(zentorik, "log_ate_loop_count", 4)
    zentorik.miller_loop(Q, P)
    assert [e[1] for e in tape.events if e[0] == "bit"] == [16, 8, 4, 2, 1]
    assert tape.kinds().count("add") == 2


class Exponent:
    """Stand-in for `field_modulus` that records how the final exponent is formed from it."""

    def __init__(self, log, on_subtract=None):
        self.log, self.on_subtract = log, on_subtract

    def __pow__(self, power):
        self.log.append(("pow", power))
        return self

    def __sub__(self, one):
        self.log.append(("sub", one))
        if self.on_subtract:
            self.on_subtract()
        return self

    def __floordiv__(self, divisor):
        self.log.append(("floordiv", divisor))
        return "exponent"


def test_final_exponent_is_formed_step_by_step_from_the_current_names(monkeypatch):
    log, tape = [], Tape()
    monkeypatch.setattr(zentorik, "curve_order", "order before")
    monkeypatch.setattr(
        zentorik, "field_modulus",
        Exponent(log, lambda: setattr(zentorik, "curve_order", "order after")),
    )
    result = zentorik.final_exponentiate(tape.value())
    assert log == [("pow", 12), ("sub", 1), ("floordiv", "order after")]
    assert tape.events == [("pow", "v0", "exponent", "v1")] and result.name == "v1"


@pytest.mark.parametrize("function", ["final_exponentiate", "miller_loop"])
def test_final_exponent_is_computed_anew_at_every_call(monkeypatch, tape, function):
    monkeypatch.setattr(zentorik, "log_ate_loop_count", -1)

    def exponent_used():
        if function == "final_exponentiate":
            zentorik.final_exponentiate(tape.value())
        else:
            zentorik.miller_loop(Q, P)
        return tape.events[-1][2]

    assert exponent_used() == final_exponent()
    monkeypatch.setattr(zentorik, "field_modulus", 7)
    assert exponent_used() == (7**12 - 1) // zentorik.curve_order
    monkeypatch.setattr(zentorik, "curve_order", 3)
    assert exponent_used() == (7**12 - 1) // 3


def test_keyword_calls_equal_positional_ones(monkeypatch):
    def tape_of(call):
        with monkeypatch.context() as mp:
            tape = Tape()
            install_stand_ins(mp, tape, top_bit=3)
            result = call(tape)
            return tape.events, result.name

    positional = tape_of(lambda t: zentorik.miller_loop(Q, P))
    assert tape_of(lambda t: zentorik.miller_loop(P=P, Q=Q)) == positional
    assert tape_of(lambda t: zentorik.miller_loop(Q, P=P)) == positional
    assert tape_of(lambda t: zentorik.final_exponentiate(p=t.value())) == tape_of(
        lambda t: zentorik.final_exponentiate(t.value())
    )
