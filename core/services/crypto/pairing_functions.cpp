// miller_loop, pairing and final_exponentiate. Every module-level name is read at the moment
// it is used, so a rebinding takes effect at once, even within a running loop; all arithmetic
// is Python's operators on py_ecc's objects.
#include "pairing_functions.hpp"

#include <climits>
#include <initializer_list>

#include "module_state.hpp"
#include "source_lines.hpp"
#include "value_error.hpp"

namespace zentorik {

namespace {

// Calls `callable` with positional `args`; a new reference, or an empty Ref on failure.
Ref call(const Ref& callable, std::initializer_list<PyObject*> args) {
    return Ref::steal(PyObject_Vectorcall(callable.get(), std::data(args), args.size(), nullptr));
}

// Looks up `name` and calls it with `args`.
Ref call_name(PyObject* globals, PyObject* name, std::initializer_list<PyObject*> args) {
    Ref callable = lookup(globals, name);
    return callable ? call(callable, args) : Ref();
}

// FQ12.one(), with `FQ12` read now.
Ref field_one(PyObject* globals) {
    Ref fq12 = lookup(globals, names().FQ12);
    if (!fq12)
        return {};
    Ref one = Ref::steal(PyObject_GetAttr(fq12.get(), names().one));
    return one ? Ref::steal(PyObject_CallNoArgs(one.get())) : Ref();
}

// (field_modulus ** 12 - 1) // curve_order, from the values the two names have now.
Ref final_exponent(PyObject* globals) {
    Ref modulus = lookup(globals, names().field_modulus);
    if (!modulus)
        return {};
    Ref power = Ref::steal(PyNumber_Power(modulus.get(), constants().twelve, Py_None));
    if (!power)
        return {};
    Ref difference = Ref::steal(PyNumber_Subtract(power.get(), constants().one));
    if (!difference)
        return {};
    Ref order = lookup(globals, names().curve_order);
    return order ? Ref::steal(PyNumber_FloorDivide(difference.get(), order.get())) : Ref();
}

// Reads `log_ate_loop_count` as the first bit index. A value outside the signed 32-bit range
// is refused rather than wrapped: a wrapped index would silently test other bits.
bool read_top_bit(PyObject* globals, int& top_bit) {
    Ref value = lookup(globals, names().log_ate_loop_count);
    if (!value)
        return false;
    if (!PyLong_Check(value.get())) {
        value = Ref::steal(PyNumber_Index(value.get()));
        if (!value)
            return false;
    }
    const long long wide = PyLong_AsLongLong(value.get());
    if (wide == -1 && PyErr_Occurred())
        return false;
    if (wide < INT_MIN || wide > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
        return false;
    }
    top_bit = static_cast<int>(wide);
    return true;
}

// 2 ** i as a Python integer.
Ref power_of_two(int i) {
    if (i < 64)
        return Ref::steal(PyLong_FromUnsignedLongLong(1ULL << i));
    Ref shift = Ref::steal(PyLong_FromLong(i));
    return shift ? Ref::steal(PyNumber_Lshift(constants().one, shift.get())) : Ref();
}

// The truth value of `ate_loop_count & 2 ** i`, or -1 with the exception set.
int bit_is_set(PyObject* globals, int i) {
    Ref count = lookup(globals, names().ate_loop_count);
    if (!count)
        return -1;
    Ref power = power_of_two(i);
    if (!power)
        return -1;
    Ref bit = Ref::steal(PyNumber_And(count.get(), power.get()));
    return bit ? PyObject_IsTrue(bit.get()) : -1;
}

// The truth value of is_on_curve(point, <coefficient>), or -1 with the exception set.
int on_curve(PyObject* globals, PyObject* point, PyObject* coefficient_name) {
    Ref test = lookup(globals, names().is_on_curve);
    if (!test)
        return -1;
    Ref coefficient = lookup(globals, coefficient_name);
    if (!coefficient)
        return -1;
    Ref verdict = call(test, {point, coefficient.get()});
    return verdict ? PyObject_IsTrue(verdict.get()) : -1;
}

} // namespace

PyObject* miller_loop_body(const Function& self, PyObject* const* args) {
    PyObject* const Q = args[0];
    PyObject* const P = args[1];
    PyObject* const globals = self.module_globals();
    namespace at = lines::miller_loop;
    if (Q == Py_None || P == Py_None) {
        Ref one = field_one(globals);
        return one ? one.release() : self.fail(at::none_point);
    }
    Ref R = Ref::borrow(Q);
    Ref f = field_one(globals);
    if (!f)
        return self.fail(at::make_f);
    int top_bit = 0;
    if (!read_top_bit(globals, top_bit))
        return self.fail(at::read_top_bit);
    for (int i = top_bit; i >= 0; --i) {
        Ref square = Ref::steal(PyNumber_Multiply(f.get(), f.get()));
        if (!square)
            return self.fail(at::square_and_tangent);
        Ref tangent = call_name(globals, names().linefunc, {R.get(), R.get(), P});
        if (!tangent)
            return self.fail(at::square_and_tangent);
        f = Ref::steal(PyNumber_Multiply(square.get(), tangent.get()));
        if (!f)
            return self.fail(at::square_and_tangent);
        R = call_name(globals, names().double_, {R.get()});
        if (!R)
            return self.fail(at::doubling);
        const int set = bit_is_set(globals, i);
        if (set < 0)
            return self.fail(at::bit_test);
        if (set) {
            Ref chord = call_name(globals, names().linefunc, {R.get(), Q, P});
            if (!chord)
                return self.fail(at::chord);
            f = Ref::steal(PyNumber_Multiply(f.get(), chord.get()));
            if (!f)
                return self.fail(at::chord);
            R = call_name(globals, names().add, {R.get(), Q});
            if (!R)
                return self.fail(at::addition);
        }
    }
    Ref exponent = final_exponent(globals);
    if (!exponent)
        return self.fail(at::final_exponentiation);
    PyObject* result = PyNumber_Power(f.get(), exponent.get(), Py_None);
    return result != nullptr ? result : self.fail(at::final_exponentiation);
}

PyObject* pairing_body(const Function& self, PyObject* const* args) {
    PyObject* const Q = args[0];
    PyObject* const P = args[1];
    PyObject* const globals = self.module_globals();
    namespace at = lines::pairing;
    const int q_on_curve = on_curve(globals, Q, names().b2);
    if (q_on_curve < 0)
        return self.fail(at::test_Q);
    if (!q_on_curve) {
        raise_value_error("Invalid input - point Q is not on the correct curve");
        return self.fail(at::Q_off_curve);
    }
    const int p_on_curve = on_curve(globals, P, names().b);
    if (p_on_curve < 0)
        return self.fail(at::test_P);
    if (!p_on_curve) {
        raise_value_error("Invalid input - point P is not on the correct curves");
        return self.fail(at::P_off_curve);
    }
    Ref loop = lookup(globals, names().miller_loop);
    if (!loop)
        return self.fail(at::twist_embed_and_loop);
    Ref twisted = call_name(globals, names().twist, {Q});
    if (!twisted)
        return self.fail(at::twist_embed_and_loop);
    Ref embedded = call_name(globals, names().cast_point_to_fq12, {P});
    if (!embedded)
        return self.fail(at::twist_embed_and_loop);
    Ref result = call(loop, {twisted.get(), embedded.get()});
    return result ? result.release() : self.fail(at::twist_embed_and_loop);
}

PyObject* final_exponentiate_body(const Function& self, PyObject* const* args) {
    PyObject* const p = args[0];
    namespace at = lines::final_exponentiate;
    Ref exponent = final_exponent(self.module_globals());
    if (!exponent)
        return self.fail(at::exponentiation);
    PyObject* result = PyNumber_Power(p, exponent.get(), Py_None);
    return result != nullptr ? result : self.fail(at::exponentiation);
}

} // namespace zentorik
