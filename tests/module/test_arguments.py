"""How the functions take their arguments: binding errors, the exact-tuple test,
unpacking, and the traceback entries each error carries (or does not)."""

import ctypes
import traceback

import pytest
from conftest import module_entries


class TupleSubclass(tuple):
    pass


class Text(str):
    """A keyword name that is a str subclass whose own comparison would never match."""

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class Raising:
    def __ne__(self, other):
        raise ArithmeticError("no comparison")


class NoTruth:
    def __bool__(self):
        raise ArithmeticError("no truth value")


class EqualsWithoutTruth:
    def __eq__(self, other):
        return NoTruth()


LINEFUNC = ("zentorik.linefunc", 36)
CAST = ("zentorik.cast_point_to_fq12", 62)
count = "{}() takes exactly {} positional argument{} ({} given)".format

# Each call gets the module `z` and the points P, Q, T (G1, 2*G1, 3*G1).
# id: (call, exception type, message, traceback entries of the module)
CASES = {
    # --- counts
    "linefunc two positional": (
        lambda z, P, Q, T: z.linefunc(P, Q), TypeError, count("linefunc", 3, "s", 2), [LINEFUNC]),
    "linefunc none": (
        lambda z, P, Q, T: z.linefunc(), TypeError, count("linefunc", 3, "s", 0), [LINEFUNC]),
    "linefunc four positional": (
        lambda z, P, Q, T: z.linefunc(P, Q, T, P), TypeError, count("linefunc", 3, "s", 4),
        [LINEFUNC]),
    "four positional and a keyword: keyword not examined": (
        lambda z, P, Q, T: z.linefunc(P, Q, T, P, P1=P), TypeError, count("linefunc", 3, "s", 4),
        [LINEFUNC]),
    "only keywords for the last two": (
        lambda z, P, Q, T: z.linefunc(P2=Q, T=T), TypeError, count("linefunc", 3, "s", 0),
        [LINEFUNC]),
    "one positional, P2 missing": (
        lambda z, P, Q, T: z.linefunc(P, T=T), TypeError, count("linefunc", 3, "s", 1),
        [LINEFUNC]),
    "cast none": (
        lambda z, P, Q, T: z.cast_point_to_fq12(), TypeError,
        count("cast_point_to_fq12", 1, "", 0), [CAST]),
    "cast two": (
        lambda z, P, Q, T: z.cast_point_to_fq12(P, P), TypeError,
        count("cast_point_to_fq12", 1, "", 2), [CAST]),
    "miller_loop one": (
        lambda z, P, Q, T: z.miller_loop(P), TypeError, count("miller_loop", 2, "s", 1),
        [("zentorik.miller_loop", 97)]),
    "pairing three": (
        lambda z, P, Q, T: z.pairing(P, Q, T), TypeError, count("pairing", 2, "s", 3),
        [("zentorik.pairing", 116)]),
    "final_exponentiate none": (
        lambda z, P, Q, T: z.final_exponentiate(), TypeError,
        count("final_exponentiate", 1, "", 0), [("zentorik.final_exponentiate", 124)]),
    # --- keywords
    "multiple values": (
        lambda z, P, Q, T: z.linefunc(P, Q, T, P1=P), TypeError,
        "linefunc() got multiple values for keyword argument 'P1'", [LINEFUNC]),
    "unexpected keyword": (
        lambda z, P, Q, T: z.linefunc(P, Q, X=T), TypeError,
        "linefunc() got an unexpected keyword argument 'X'", [LINEFUNC]),
    "first offending keyword wins: unexpected": (
        lambda z, P, Q, T: z.linefunc(P, X=T, P1=P), TypeError,
        "linefunc() got an unexpected keyword argument 'X'", [LINEFUNC]),
    "first offending keyword wins: multiple": (
        lambda z, P, Q, T: z.linefunc(P, P1=P, X=T), TypeError,
        "linefunc() got multiple values for keyword argument 'P1'", [LINEFUNC]),
    "miller_loop multiple values": (
        lambda z, P, Q, T: z.miller_loop(Q, P, Q=Q), TypeError,
        "miller_loop() got multiple values for keyword argument 'Q'",
        [("zentorik.miller_loop", 97)]),
    "final_exponentiate unexpected": (
        lambda z, P, Q, T: z.final_exponentiate(p=P, q=Q), TypeError,
        "final_exponentiate() got an unexpected keyword argument 'q'",
        [("zentorik.final_exponentiate", 124)]),
    "keyword dictionary with a non-str key: function not entered": (
        lambda z, P, Q, T: z.linefunc(P, Q, **{1: T}), TypeError, "keywords must be strings", []),
    # --- exact tuples: no entry of the function
    "None point": (
        lambda z, P, Q, T: z.linefunc(None, Q, T), TypeError,
        "Argument 'P1' has incorrect type (expected tuple, got NoneType)", []),
    "lists everywhere: P1 named": (
        lambda z, P, Q, T: z.linefunc(list(P), list(Q), list(T)), TypeError,
        "Argument 'P1' has incorrect type (expected tuple, got list)", []),
    "type tests precede unpacking": (
        lambda z, P, Q, T: z.linefunc((1, 2, 3), list(Q), T), TypeError,
        "Argument 'P2' has incorrect type (expected tuple, got list)", []),
    "tuple subclass": (
        lambda z, P, Q, T: z.linefunc(P, TupleSubclass(Q), T), TypeError,
        "Argument 'P2' has incorrect type (expected tuple, got TupleSubclass)", []),
    "cast list": (
        lambda z, P, Q, T: z.cast_point_to_fq12(list(P)), TypeError,
        "Argument 'pt' has incorrect type (expected tuple, got list)", []),
    "cast tuple subclass": (
        lambda z, P, Q, T: z.cast_point_to_fq12(TupleSubclass(P)), TypeError,
        "Argument 'pt' has incorrect type (expected tuple, got TupleSubclass)", []),
    # --- unpacking
    "P1 with three items": (
        lambda z, P, Q, T: z.linefunc((*P, P[0]), Q, T), ValueError,
        "too many values to unpack (expected 2)", [("zentorik.linefunc", 48)]),
    "P2 with three items": (
        lambda z, P, Q, T: z.linefunc(P, (*Q, Q[0]), T), ValueError,
        "too many values to unpack (expected 2)", [("zentorik.linefunc", 49)]),
    "T with one item": (
        lambda z, P, Q, T: z.linefunc(P, Q, T[:1]), ValueError,
        "need more than 1 value to unpack", [("zentorik.linefunc", 50)]),
    "T empty": (
        lambda z, P, Q, T: z.linefunc(P, Q, ()), ValueError,
        "need more than 0 values to unpack", [("zentorik.linefunc", 50)]),
    "cast three items": (
        lambda z, P, Q, T: z.cast_point_to_fq12((*P, P[0])), ValueError,
        "too many values to unpack (expected 2)", [("zentorik.cast_point_to_fq12", 68)]),
    "cast empty": (
        lambda z, P, Q, T: z.cast_point_to_fq12(()), ValueError,
        "need more than 0 values to unpack", [("zentorik.cast_point_to_fq12", 68)]),
    # --- errors of the body, at the failing step's line
    "first comparison raises": (
        lambda z, P, Q, T: z.linefunc((Raising(), 1), (2, 2), T), ArithmeticError,
        "no comparison", [("zentorik.linefunc", 52)]),
    "second comparison has no truth value": (
        lambda z, P, Q, T: z.linefunc((1, EqualsWithoutTruth()), (1, 2), T), ArithmeticError,
        "no truth value", [("zentorik.linefunc", 55)]),
    "chord slope": (
        lambda z, P, Q, T: z.linefunc((1, "a"), (2, "b"), (3, 3)), TypeError,
        "unsupported operand type(s) for -: 'str' and 'str'", [("zentorik.linefunc", 53)]),
    "chord value": (
        lambda z, P, Q, T: z.linefunc((1, 1), (2, 2), ("a", 3)), TypeError,
        "unsupported operand type(s) for -: 'str' and 'int'", [("zentorik.linefunc", 54)]),
    "tangent slope": (
        lambda z, P, Q, T: z.linefunc((1, 0), (1, 0), (3, 3)), ZeroDivisionError,
        "division by zero", [("zentorik.linefunc", 56)]),
    "tangent value": (
        lambda z, P, Q, T: z.linefunc((1, 1), (1, 1), ("a", 3)), TypeError,
        "unsupported operand type(s) for -: 'str' and 'int'", [("zentorik.linefunc", 57)]),
    "vertical value": (
        lambda z, P, Q, T: z.linefunc((1, 1), (1, 2), ("a", 3)), TypeError,
        "unsupported operand type(s) for -: 'str' and 'int'", [("zentorik.linefunc", 59)]),
    "py_ecc raises below the function's entry": (
        lambda z, P, Q, T: z.linefunc(P, Q, ("x", T[1])), TypeError,
        "Expected an int or FQ object, but got object of type <class 'str'>",
        [("zentorik.linefunc", 54)]),
    "cast coordinate without n": (
        lambda z, P, Q, T: z.cast_point_to_fq12((1, 2)), AttributeError,
        "'int' object has no attribute 'n'", [("zentorik.cast_point_to_fq12", 69)]),
}


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_call_errors(case, zentorik):
    call, kind, message, entries = case
    with pytest.raises(kind) as raised:
        call(zentorik, zentorik.one, zentorik.two, zentorik.three)
    assert type(raised.value) is kind
    assert str(raised.value) == message
    assert module_entries(raised.value) == entries


def test_tuple_subclass_error_carries_a_note(zentorik):
    with pytest.raises(TypeError) as raised:
        zentorik.cast_point_to_fq12(TupleSubclass(zentorik.one))
    [note] = raised.value.__notes__
    assert "subclasses of built-in types" in note.lower()
    with pytest.raises(TypeError) as raised:
        zentorik.linefunc(list(zentorik.one), zentorik.two, zentorik.three)
    assert not hasattr(raised.value, "__notes__")


def test_py_ecc_frame_lies_below_the_function_entry(zentorik):
    with pytest.raises(TypeError) as raised:
        zentorik.linefunc(zentorik.one, zentorik.two, ("x", zentorik.three[1]))
    names = [e.name for e in traceback.extract_tb(raised.value.__traceback__)]
    position = names.index("zentorik.linefunc")
    assert position < len(names) - 1  # py_ecc's own frame follows


def test_keyword_forms_give_the_same_value(zentorik):
    P, Q, T = zentorik.one, zentorik.two, zentorik.negthree
    value = zentorik.linefunc(P, Q, zentorik.three)
    assert zentorik.linefunc(P1=P, P2=Q, T=zentorik.three) == value
    assert zentorik.linefunc(P, Q, T=zentorik.three) == value
    assert zentorik.linefunc(T=zentorik.three, P2=Q, P1=P) == value
    assert zentorik.linefunc(**{"P1": P, "P2": Q, "T": zentorik.three}) == value
    # Names are compared as text, whatever the keyword's own comparison says.
    assert zentorik.linefunc(P, Q, **{Text("T"): zentorik.three}) == value
    assert zentorik.linefunc(P, Q, T) == zentorik.FQ(0)
    assert zentorik.cast_point_to_fq12(pt=P) == zentorik.cast_point_to_fq12(P)


def vectorcall(function, args, kwnames):
    """Calls through the fast calling convention directly, as C code would."""
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                     ctypes.py_object]
    vector = (ctypes.py_object * len(args))(*args)
    positional = len(args) - len(kwnames)
    return call(function, vector, positional, kwnames)


def test_fast_call_with_a_non_str_keyword_name(zentorik):
    P, Q, T = zentorik.one, zentorik.two, zentorik.three
    assert vectorcall(zentorik.linefunc, [P, Q, T], ("T",)) == zentorik.linefunc(P, Q, T)
    with pytest.raises(TypeError) as raised:
        vectorcall(zentorik.linefunc, [P, Q, T], (3,))
    assert str(raised.value) == "linefunc() keywords must be strings"
    assert module_entries(raised.value) == [LINEFUNC]

