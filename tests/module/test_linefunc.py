"""linefunc and cast_point_to_fq12: their values on py_ecc points, the order of their
operations, and how they read module-level names."""

import builtins

import pytest
from conftest import module_entries
from py_ecc.bls12_381 import G1, G2, curve_order, double, multiply, neg, twist
from py_ecc.fields import bls12_381_FQ as FQ
from py_ecc.fields import bls12_381_FQ2 as FQ2
from py_ecc.fields import bls12_381_FQ12 as FQ12

# ----- values against the line equations ---------------------------------------------------


def chord_value(P1, P2, T):
    # (y - y1)(x2 - x1) = (y2 - y1)(x - x1), scaled so that y has the coefficient -1.
    (x1, y1), (x2, y2), (xt, yt) = P1, P2, T
    return ((y2 - y1) * (xt - x1) - (yt - y1) * (x2 - x1)) / (x2 - x1)


def tangent_value(P, T):
    # The tangent of y^2 = x^3 + b at P: 2 y1 (y - y1) = 3 x1^2 (x - x1), scaled likewise.
    (x1, y1), (xt, yt) = P, T
    return (x1 * x1 * 3 * (xt - x1) - y1 * 2 * (yt - y1)) / (y1 * 2)


def curves():
    """Points over the base field, the quadratic extension and the 12th-degree field."""
    return {
        "FQ": (G1, double(G1), multiply(G1, 5), (FQ(5), FQ(7))),
        "FQ2": (G2, double(G2), multiply(G2, 5), (FQ2([5, 1]), FQ2([7, 2]))),
        "FQ12": (twist(G2), twist(double(G2)), twist(multiply(G2, 5)),
                 (FQ12([5] + [1] * 11), FQ12(list(range(12))))),
    }


@pytest.mark.parametrize("field", ["FQ", "FQ2", "FQ12"])
def test_values_against_line_equations(field, zentorik):
    one, two, five, off_curve = curves()[field]
    for T in (five, off_curve, one):
        assert zentorik.linefunc(one, two, T) == chord_value(one, two, T)
        assert zentorik.linefunc(two, one, T) == chord_value(two, one, T)
        assert zentorik.linefunc(one, one, T) == tangent_value(one, T)
        assert zentorik.linefunc(two, two, T) == tangent_value(two, T)
        assert zentorik.linefunc(one, neg(one), T) == T[0] - one[0]


@pytest.mark.parametrize("field", ["FQ", "FQ2", "FQ12"])
def test_zero_exactly_on_the_line(field, zentorik):
    one, two, five, off_curve = curves()[field]
    zero = type(one[0]).zero()
    three = zentorik.add(one, two)
    assert zentorik.linefunc(one, two, neg(three)) == zero  # P + Q + (-(P+Q)) = 0
    assert zentorik.linefunc(two, two, neg(double(two))) == zero  # tangent meets -2P
    assert zentorik.linefunc(one, neg(one), neg(one)) == zero
    assert zentorik.linefunc(one, two, five) != zero
    assert zentorik.linefunc(one, one, off_curve) != zero


# ----- operation order ------------------------------------------------------------------


class Coordinate:
    """A symbolic coordinate that records every operation applied to it. It has no reflected
    multiplication; Symbol adds it."""

    def __init__(self, text, log, key=None):
        self.text, self.log, self.key = text, log, text if key is None else key

    def _apply(self, op, left, right):
        show = lambda v: v.text if isinstance(v, Coordinate) else repr(v)  # noqa: E731
        result = type(self)(f"({show(left)} {op} {show(right)})", self.log)
        self.log.append(result)
        return result

    def __sub__(self, other):
        return self._apply("-", self, other)

    def __mul__(self, other):
        return self._apply("*", self, other)

    def __truediv__(self, other):
        return self._apply("/", self, other)

    def __pow__(self, exponent):
        return self._apply("**", self, exponent)

    def __ne__(self, other):
        self.log.append(f"{self.text} != {other.text}")
        return self.key != other.key

    def __eq__(self, other):
        self.log.append(f"{self.text} == {other.text}")
        return self.key == other.key


class Symbol(Coordinate):
    def __rmul__(self, other):
        return self._apply("*", other, self)


def symbolic(kind, x2_key, y2_key):
    log = []
    points = [
        (kind("x1", log), kind("y1", log)),
        (kind("x2", log, x2_key), kind("y2", log, y2_key)),
        (kind("xt", log), kind("yt", log)),
    ]
    return points, log


def texts(log):
    return [entry if isinstance(entry, str) else entry.text for entry in log]


M_CHORD = "((y2 - y1) / (x2 - x1))"
M_TANGENT = "((3 * (x1 ** 2)) / (2 * y1))"
OPERATIONS = {
    "chord": (
        "x2", "y2",
        ["x1 != x2", "(y2 - y1)", "(x2 - x1)", M_CHORD, "(xt - x1)", f"({M_CHORD} * (xt - x1))",
         "(yt - y1)", f"(({M_CHORD} * (xt - x1)) - (yt - y1))"],
    ),
    "tangent": (
        "x1", "y1",
        ["x1 != x2", "y1 == y2", "(x1 ** 2)", "(3 * (x1 ** 2))", "(2 * y1)", M_TANGENT,
         "(xt - x1)", f"({M_TANGENT} * (xt - x1))", "(yt - y1)",
         f"(({M_TANGENT} * (xt - x1)) - (yt - y1))"],
    ),
    "vertical": ("x1", "y2", ["x1 != x2", "y1 == y2", "(xt - x1)"]),
}


@pytest.mark.parametrize("case", OPERATIONS.values(), ids=OPERATIONS.keys())
def test_operation_order_and_operands(case, zentorik):
    x2_key, y2_key, expected = case
    (P1, P2, T), log = symbolic(Symbol, x2_key, y2_key)
    result = zentorik.linefunc(P1, P2, T)
    assert texts(log) == expected
    assert result is log[-1]  # the last operation's result, unchanged


def test_missing_reflected_multiplication_fails_only_the_tangent(zentorik):
    for x2_key, y2_key in [("x2", "y2"), ("x1", "y2")]:
        points, _ = symbolic(Coordinate, x2_key, y2_key)
        zentorik.linefunc(*points)
    points, _ = symbolic(Coordinate, "x1", "y1")
    with pytest.raises(TypeError, match=r"for \*: 'int' and 'Coordinate'") as raised:
        zentorik.linefunc(*points)
    assert module_entries(raised.value) == [("zentorik.linefunc", 56)]


# ----- cast_point_to_fq12 ---------------------------------------------------------------


def test_cast_values(zentorik):
    for point in (G1, double(G1), neg(G1)):
        cast = zentorik.cast_point_to_fq12(point)
        assert type(cast) is tuple and len(cast) == 2
        assert cast == (FQ12([point[0].n] + [0] * 11), FQ12([point[1].n] + [0] * 11))
        assert all(type(c) is FQ12 for c in cast)
    assert zentorik.cast_point_to_fq12(None) is None


class Recorder:
    def __init__(self, tag, calls, then=None):
        self.tag, self.calls, self.then = tag, calls, then

    def __call__(self, *args, **kwargs):
        self.calls.append((self.tag, args, kwargs))
        if self.then is not None:
            self.then()
        return self.tag


def test_cast_reads_fq12_before_each_conversion(zentorik, monkeypatch):
    calls = []
    second = Recorder("second", calls)
    first = Recorder("first", calls, then=lambda: monkeypatch.setattr(zentorik, "FQ12", second))
    monkeypatch.setattr(zentorik, "FQ12", first)
    x, y = G1
    assert zentorik.cast_point_to_fq12(G1) == ("first", "second")
    assert calls == [
        ("first", ([x.n] + [0] * 11,), {}),
        ("second", ([y.n] + [0] * 11,), {}),
    ]
    assert all(type(args[0]) is list for _, args, _ in calls)


def test_cast_lookup_falls_through_to_builtins(zentorik, monkeypatch):
    monkeypatch.delattr(zentorik, "FQ12")
    with pytest.raises(NameError, match="^name 'FQ12' is not defined$") as raised:
        zentorik.cast_point_to_fq12(G1)
    assert module_entries(raised.value) == [("zentorik.cast_point_to_fq12", 69)]
    assert zentorik.cast_point_to_fq12(None) is None  # no lookup for None

    calls = []
    monkeypatch.setattr(builtins, "FQ12", Recorder("builtin", calls), raising=False)
    assert zentorik.cast_point_to_fq12(G1) == ("builtin", "builtin")
    monkeypatch.setattr(zentorik, "FQ12", Recorder("module", calls), raising=False)
    assert zentorik.cast_point_to_fq12(G1) == ("module", "module")


class CollidingKey:
    """A namespace key that collides with the name FQ12 and fails every comparison."""

    def __init__(self, error):
        self.error = error

    def __hash__(self):
        return hash("FQ12")

    def __eq__(self, other):
        raise self.error


class Stop(BaseException):
    pass


def test_failing_key_comparison_in_the_namespace(zentorik, monkeypatch):
    namespace = vars(zentorik)
    monkeypatch.delattr(zentorik, "FQ12")
    calls = []
    monkeypatch.setattr(builtins, "FQ12", Recorder("builtin", calls), raising=False)
    for error, outcome in [(ValueError("compare"), "builtins"), (Stop(), Stop)]:
        key = CollidingKey(error)
        namespace[key] = None
        try:
            if outcome is Stop:
                with pytest.raises(Stop):
                    zentorik.cast_point_to_fq12(G1)
            else:
                # An ordinary exception counts as absence: the builtin is used.
                assert zentorik.cast_point_to_fq12(G1) == ("builtin", "builtin")
        finally:
            del namespace[key]

