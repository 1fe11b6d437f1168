"""The pairing in plain Python, as the yardstick for the extension module.

Every function here performs the operations of its counterpart in `zentorik` in the same order, on
the same py_ecc objects, and reads each module-level name at the moment of use (as any Python
global is read), so that the two differ only in the interpreter work around py_ecc's arithmetic.
"""

from py_ecc.bls12_381 import add, b, b2, curve_order, double, is_on_curve, twist
from py_ecc.fields import bls12_381_FQ12 as FQ12
from py_ecc.fields.field_properties import field_properties

field_modulus = field_properties["bls12_381"]["field_modulus"]
ate_loop_count = 0xD201000000010000
log_ate_loop_count = 62


def linefunc(P1, P2, T):
    """Value at T of the line through P1 and P2: chord, tangent or vertical."""
    x1, y1 = P1
    x2, y2 = P2
    xt, yt = T
    if x1 != x2:
        m = (y2 - y1) / (x2 - x1)
        return m * (xt - x1) - (yt - y1)
    if y1 == y2:
        m = 3 * x1**2 / (2 * y1)
        return m * (xt - x1) - (yt - y1)
    return xt - x1


def cast_point_to_fq12(pt):
    """Embeds a point over the base field into the 12th-degree extension field."""
    if pt is None:
        return None
    x, y = pt
    return (FQ12([x.n] + [0] * 11), FQ12([y.n] + [0] * 11))


def miller_loop(Q, P):
    """Miller loop over the bits of `ate_loop_count` below its top bit, then the final exponent."""
    if Q is None or P is None:
        return FQ12.one()
    R = Q
    f = FQ12.one()
    for i in range(log_ate_loop_count, -1, -1):
        f = f * f * linefunc(R, R, P)
        R = double(R)
        if ate_loop_count & 2**i:
            f = f * linefunc(R, Q, P)
            R = add(R, Q)
    return f ** ((field_modulus**12 - 1) // curve_order)


def pairing(Q, P):
    """Pairing of a point of the twisted curve with a point of the base curve."""
    if not is_on_curve(Q, b2):
        raise ValueError("Invalid input - point Q is not on the correct curve")
    if not is_on_curve(P, b):
        raise ValueError("Invalid input - point P is not on the correct curves")
    return miller_loop(twist(Q), cast_point_to_fq12(P))


def final_exponentiate(p):
    """Raises a 12th-degree element to the final exponent."""
    return p ** ((field_modulus**12 - 1) // curve_order)
