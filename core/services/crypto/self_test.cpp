// The import-time test of linefunc: ten lines through G1 and its small multiples, each
// evaluated at a point that lies on it (== 0) or does not (!= 0).
#include "self_test.hpp"

#include "module_state.hpp"
#include "source_lines.hpp"
#include "traceback.hpp"
#include "value_error.hpp"

namespace zentorik {

namespace {

struct LineCase {
    PyObject* Names::*first;
    PyObject* Names::*second;
    PyObject* Names::*at;
    int comparison; // with FQ(0)
};

constexpr LineCase line_cases[] = {
    // chord through G1 and 2*G1
    {&Names::one, &Names::two, &Names::one, Py_EQ},
    {&Names::one, &Names::two, &Names::two, Py_EQ},
    {&Names::one, &Names::two, &Names::three, Py_NE},
    {&Names::one, &Names::two, &Names::negthree, Py_EQ},
    // vertical line through G1 and -G1
    {&Names::one, &Names::negone, &Names::one, Py_EQ},
    {&Names::one, &Names::negone, &Names::negone, Py_EQ},
    {&Names::one, &Names::negone, &Names::two, Py_NE},
    // tangent at G1
    {&Names::one, &Names::one, &Names::one, Py_EQ},
    {&Names::one, &Names::one, &Names::two, Py_NE},
    {&Names::one, &Names::one, &Names::negtwo, Py_EQ},
};
constexpr int case_count = sizeof line_cases / sizeof line_cases[0];
static_assert(lines::init::last_case - lines::init::first_case + 1 == case_count);

// linefunc(first, second, at) compared with FQ(0): the comparison's result object.
Ref evaluate(PyObject* globals, const LineCase& c) {
    const Names& n = names();
    Ref linefunc = lookup(globals, n.linefunc);
    if (!linefunc)
        return {};
    Ref first = lookup(globals, n.*c.first);
    if (!first)
        return {};
    Ref second = lookup(globals, n.*c.second);
    if (!second)
        return {};
    Ref at = lookup(globals, n.*c.at);
    if (!at)
        return {};
    PyObject* args[] = {first.get(), second.get(), at.get()};
    Ref value = Ref::steal(PyObject_Vectorcall(linefunc.get(), args, 3, nullptr));
    if (!value)
        return {};
    Ref fq = lookup(globals, n.FQ);
    if (!fq)
        return {};
    Ref zero = Ref::steal(PyObject_CallOneArg(fq.get(), constants().zero));
    if (!zero)
        return {};
    return Ref::steal(PyObject_RichCompare(value.get(), zero.get(), c.comparison));
}

} // namespace

bool run_self_test(PyObject* globals, PyObject* all) {
    namespace at = lines::init;
    Ref results[case_count];
    for (int k = 0; k < case_count; ++k) {
        results[k] = evaluate(globals, line_cases[k]);
        if (!results[k])
            return fail_import(globals, at::first_case + k);
    }

    // Bound before the all-true test so that a failed import still shows every result.
    Ref conditions = Ref::steal(PyList_New(case_count));
    if (!conditions)
        return fail_import(globals, at::conditions);
    for (int k = 0; k < case_count; ++k)
        PyList_SET_ITEM(conditions.get(), k, results[k].release());
    if (PyDict_SetItem(globals, names().conditions, conditions.get()) < 0)
        return fail_import(globals, at::conditions);
    conditions.reset();

    conditions = lookup(globals, names().conditions);
    if (!conditions)
        return fail_import(globals, at::all_true);
    Ref verdict = Ref::steal(PyObject_CallOneArg(all, conditions.get()));
    const int passed = verdict ? PyObject_IsTrue(verdict.get()) : -1;
    if (passed < 0)
        return fail_import(globals, at::all_true);
    if (!passed) {
        raise_value_error("Line function is inconsistent");
        return fail_import(globals, at::inconsistent);
    }
    return true;
}

} // namespace zentorik
