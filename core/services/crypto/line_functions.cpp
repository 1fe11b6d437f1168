// linefunc and cast_point_to_fq12. All arithmetic is Python's operators on py_ecc's
// objects; the module fixes only which operations run, on which operands, in which order.
#include "line_functions.hpp"

#include "module_state.hpp"
#include "source_lines.hpp"

namespace zentorik {

namespace {

// m * (xt - x1) - (yt - y1): the value at T of the line of slope m through (x1, y1).
PyObject* line_through(const Function& self, PyObject* m, PyObject* x1, PyObject* y1, PyObject* xt,
                       PyObject* yt, int line) {
    Ref dxt = Ref::steal(PyNumber_Subtract(xt, x1));
    if (!dxt)
        return self.fail(line);
    Ref rise = Ref::steal(PyNumber_Multiply(m, dxt.get()));
    if (!rise)
        return self.fail(line);
    Ref dyt = Ref::steal(PyNumber_Subtract(yt, y1));
    if (!dyt)
        return self.fail(line);
    Ref value = Ref::steal(PyNumber_Subtract(rise.get(), dyt.get()));
    if (!value)
        return self.fail(line);
    return value.release();
}

// The truth value of `left <op> right`, or -1 with the exception set.
int compare(PyObject* left, PyObject* right, int op) {
    Ref result = Ref::steal(PyObject_RichCompare(left, right, op));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

} // namespace

PyObject* linefunc_body(const Function& self, PyObject* const* args) {
    PyObject* const P1 = args[0];
    PyObject* const P2 = args[1];
    PyObject* const T = args[2];
    namespace at = lines::linefunc;
    if (!is_exact_tuple_argument(P1, "P1") || !is_exact_tuple_argument(P2, "P2") ||
        !is_exact_tuple_argument(T, "T"))
        return nullptr;
    Ref x1, y1, x2, y2, xt, yt;
    if (!unpack_point(self, P1, at::unpack_P1, x1, y1) ||
        !unpack_point(self, P2, at::unpack_P2, x2, y2) ||
        !unpack_point(self, T, at::unpack_T, xt, yt))
        return nullptr;

    const int differ = compare(x1.get(), x2.get(), Py_NE);
    if (differ < 0)
        return self.fail(at::x_test);
    if (differ) { // chord
        Ref dy = Ref::steal(PyNumber_Subtract(y2.get(), y1.get()));
        if (!dy)
            return self.fail(at::chord_slope);
        Ref dx = Ref::steal(PyNumber_Subtract(x2.get(), x1.get()));
        if (!dx)
            return self.fail(at::chord_slope);
        Ref m = Ref::steal(PyNumber_TrueDivide(dy.get(), dx.get()));
        if (!m)
            return self.fail(at::chord_slope);
        return line_through(self, m.get(), x1.get(), y1.get(), xt.get(), yt.get(), at::chord_value);
    }

    const int same = compare(y1.get(), y2.get(), Py_EQ);
    if (same < 0)
        return self.fail(at::y_test);
    if (same) { // tangent
        const Constants& c = constants();
        Ref square = Ref::steal(PyNumber_Power(x1.get(), c.two, Py_None));
        if (!square)
            return self.fail(at::tangent_slope);
        Ref numerator = Ref::steal(PyNumber_Multiply(c.three, square.get()));
        if (!numerator)
            return self.fail(at::tangent_slope);
        Ref denominator = Ref::steal(PyNumber_Multiply(c.two, y1.get()));
        if (!denominator)
            return self.fail(at::tangent_slope);
        Ref m = Ref::steal(PyNumber_TrueDivide(numerator.get(), denominator.get()));
        if (!m)
            return self.fail(at::tangent_slope);
        return line_through(self, m.get(), x1.get(), y1.get(), xt.get(), yt.get(),
                            at::tangent_value);
    }

    // vertical
    Ref value = Ref::steal(PyNumber_Subtract(xt.get(), x1.get()));
    if (!value)
        return self.fail(at::vertical_value);
    return value.release();
}

namespace {

// FQ12([coordinate.n] + [0] * 11), with `FQ12` read from the module namespace now.
Ref embed_coordinate(const Function& self, PyObject* coordinate) {
    Ref fq12 = lookup(self.module_globals(), names().FQ12);
    if (!fq12)
        return {};
    Ref value = Ref::steal(PyObject_GetAttr(coordinate, names().n));
    if (!value)
        return {};
    Ref head = Ref::steal(PyList_New(1));
    Ref zeros = Ref::steal(PyList_New(11));
    if (!head || !zeros)
        return {};
    PyList_SET_ITEM(head.get(), 0, value.release());
    for (Py_ssize_t i = 0; i < 11; ++i)
        PyList_SET_ITEM(zeros.get(), i, Py_NewRef(constants().zero));
    Ref coefficients = Ref::steal(PyNumber_Add(head.get(), zeros.get()));
    if (!coefficients)
        return {};
    return Ref::steal(PyObject_CallOneArg(fq12.get(), coefficients.get()));
}

} // namespace

PyObject* cast_point_to_fq12_body(const Function& self, PyObject* const* args) {
    PyObject* const pt = args[0];
    namespace at = lines::cast_point_to_fq12;
    if (pt == Py_None)
        Py_RETURN_NONE;
    if (!is_exact_tuple_argument(pt, "pt"))
        return nullptr;
    Ref x, y;
    if (!unpack_point(self, pt, at::unpack_pt, x, y))
        return nullptr;
    Ref first = embed_coordinate(self, x.get());
    if (!first)
        return self.fail(at::embedding);
    Ref second = embed_coordinate(self, y.get());
    if (!second)
        return self.fail(at::embedding);
    PyObject* point = PyTuple_Pack(2, first.get(), second.get());
    return point != nullptr ? point : self.fail(at::embedding);
}

} // namespace zentorik
