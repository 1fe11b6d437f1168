"""The pairing's mathematical properties on py_ecc's generators, with the real py_ecc.

Each pairing costs seconds, so the values are computed once per module and shared."""

import pytest
from py_ecc.bls12_381 import FQ12, G1, G2, curve_order, field_modulus, multiply, neg

import zentorik
from pairing_support import base_pairing

ONE = FQ12.one()


@pytest.fixture(scope="module")
def e():
    return base_pairing()[0]


@pytest.fixture(scope="module")
def e_doubled():
    """e(2·G2, G1) and e(G2, 2·G1)."""
    return zentorik.pairing(multiply(G2, 2), G1), zentorik.pairing(G2, multiply(G1, 2))


def test_pairing_is_not_degenerate(e):
    assert isinstance(e, FQ12)
    assert e != ONE


def test_pairing_is_bilinear(e, e_doubled):
    left, right = e_doubled
    assert left == right == e * e


def test_negated_point_gives_the_inverse(e):
    assert zentorik.pairing(G2, neg(G1)) * e == ONE


def test_pairing_is_the_miller_loop_of_the_twisted_and_embedded_points(e):
    Q, P = zentorik.twist(G2), zentorik.cast_point_to_fq12(G1)
    assert zentorik.miller_loop(Q, P) == e


def test_real_pairing_runs_each_step_through_the_module_namespace():
    counts = base_pairing()[1]
    assert counts == {"linefunc": 68, "double": 63, "add": 5, "is_on_curve": 2, "twist": 1,
                      "cast_point_to_fq12": 1}


def test_final_exponentiate_raises_to_the_final_exponent():
    # An element of no particular order: its power pins the exponent, where one's would not.
    x = FQ12(list(range(1, 13)))
    expected = x ** ((field_modulus**12 - 1) // curve_order)
    assert expected != ONE
    assert zentorik.final_exponentiate(x) == expected


@pytest.mark.parametrize("Q, P", [(None, G1), (G2, None), (None, None)])
def test_point_at_infinity_pairs_to_one(Q, P):
    assert zentorik.pairing(Q, P) == ONE
