// The module definition, its create and exec slots, and the import and lookup rules that
// the import-time code (and, for lookups, every function) follows.
#include <cstdint>
#include <span>

#include "function_table.hpp"
#include "module_state.hpp"
#include "self_test.hpp"
#include "source_lines.hpp"
#include "traceback.hpp"

// A host that embeds the interpreter may set this before the import to have the module
// run under the name "__main__".
extern "C" {
__attribute__((visibility("default"))) int zentorik_module_is_main = 0;
}

namespace zentorik {

namespace {

// Every failure of the import reports one of its lines.
namespace at = lines::init;

// Process-wide values. They hold their references for the whole process (the interpreter
// may be gone by the time static destructors would run), so they are plain pointers.
struct ProcessState {
    PyObject* recorded_module = nullptr;
    std::int64_t first_interpreter = -1;
    PyObject* builtins = nullptr;
    PyObject* all = nullptr;
    bool made = false; // names, constants and code objects
    Names names;
    Constants constants;
    PyObject* codes[function_count] = {};
};

constinit ProcessState state;

void keep(PyObject*& slot, Ref value) {
    Py_XSETREF(slot, value.release());
}

} // namespace

const Names& names() {
    return state.names;
}
const Constants& constants() {
    return state.constants;
}

namespace {

// A name that the module namespace lacks: the builtins module's, else NameError.
Ref lookup_builtin(PyObject* name) {
    Ref value = Ref::steal(PyObject_GetAttr(state.builtins, name));
    if (value || !PyErr_ExceptionMatches(PyExc_AttributeError))
        return value;
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return {};
}

} // namespace

Ref lookup(PyObject* globals, PyObject* name) {
    if (PyObject* value = PyDict_GetItemWithError(globals, name))
        return Ref::borrow(value);
    if (PyErr_Occurred()) {
        // A key comparison that raised; only an ordinary exception falls through.
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return {};
        PyErr_Clear();
    }
    return lookup_builtin(name);
}

namespace {

// ----- process-wide values -------------------------------------------------------------

bool make_names(Names& made) {
    bool ok = true;
#define ZENTORIK_MAKE_NAME(id, text)                                                               \
    made.id = ok ? PyUnicode_InternFromString(text) : nullptr;                                     \
    ok = ok && made.id != nullptr;
    ZENTORIK_NAMES(ZENTORIK_MAKE_NAME)
#undef ZENTORIK_MAKE_NAME
    return ok;
}

bool make_constants(Constants& made) {
    made.zero = PyLong_FromLong(0);
    made.one = PyLong_FromLong(1);
    made.two = PyLong_FromLong(2);
    made.three = PyLong_FromLong(3);
    made.twelve = PyLong_FromLong(12);
    made.sixty_two = PyLong_FromLong(62);
    // 0xD201000000010000: bits 63, 62, 60, 57, 48 and 16.
    made.loop_count = PyLong_FromString("d408000002000", nullptr, 32);
    return made.zero && made.one && made.two && made.three && made.twelve && made.sixty_two &&
           made.loop_count;
}

// The interned names and constants, made once per process; a failure leaves nothing made.
bool make_process_values() {
    if (state.made)
        return true;
    Names made_names;
    Constants made_constants;
    if (!make_names(made_names) || !make_constants(made_constants)) {
        // Release whatever part was made.
#define ZENTORIK_DROP_NAME(id, text) Py_XDECREF(made_names.id);
        ZENTORIK_NAMES(ZENTORIK_DROP_NAME)
#undef ZENTORIK_DROP_NAME
        for (PyObject* c :
             {made_constants.zero, made_constants.one, made_constants.two, made_constants.three,
              made_constants.twelve, made_constants.sixty_two, made_constants.loop_count})
            Py_XDECREF(c);
        return false;
    }
    state.names = made_names;
    state.constants = made_constants;
    state.made = true;
    return true;
}

// The function type and the five code objects, once per process.
bool make_codes() {
    if (!ready_function_type())
        return false;
    for (int i = 0; i < function_count; ++i) {
        if (state.codes[i] == nullptr) {
            Ref code = make_code(function_specs[i]);
            if (!code)
                return false;
            keep(state.codes[i], std::move(code));
        }
    }
    return true;
}

// ----- the import rule -----------------------------------------------------------------

struct ImportedName {
    const char* requested;
    const char* bound_as;
    int bind_line;
};

// When the attribute is missing, a submodule of that name already imported counts too.
Ref imported_submodule(PyObject* module, PyObject* requested) {
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!module_name)
        return {};
    Ref full_name = Ref::steal(PyUnicode_FromFormat("%S.%S", module_name.get(), requested));
    return full_name ? Ref::steal(PyImport_GetModule(full_name.get())) : Ref();
}

bool has_every_name(PyObject* module, PyObject* requested) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(requested); ++i)
        if (!PyObject_HasAttr(module, PyList_GET_ITEM(requested, i)))
            return false;
    return true;
}

// from <module_name> import <requested> as <bound_as>, ... (absolute, on line `line`).
bool import_from(PyObject* globals, const char* module_name, std::span<const ImportedName> items,
                 int line) {
    Ref name = Ref::steal(PyUnicode_FromString(module_name));
    Ref requested = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!name || !requested)
        return fail_import(globals, line);
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* text = PyUnicode_InternFromString(items[i].requested);
        if (text == nullptr)
            return fail_import(globals, line);
        PyList_SET_ITEM(requested.get(), static_cast<Py_ssize_t>(i), text);
    }

    Ref module = Ref::steal(PyImport_GetModule(name.get()));
    if (!module && PyErr_Occurred())
        return fail_import(globals, line);
    if (module && !has_every_name(module.get(), requested.get()))
        module.reset();
    if (!module) {
        Ref locals = Ref::steal(PyDict_New());
        if (!locals)
            return fail_import(globals, line);
        module = Ref::steal(PyImport_ImportModuleLevelObject(name.get(), globals, locals.get(),
                                                             requested.get(), 0));
        if (!module)
            return fail_import(globals, line);
    }

    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* wanted = PyList_GET_ITEM(requested.get(), static_cast<Py_ssize_t>(i));
        Ref value = Ref::steal(PyObject_GetAttr(module.get(), wanted));
        if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            value = imported_submodule(module.get(), wanted);
        }
        if (!value) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name %S", wanted);
            return fail_import(globals, line);
        }
        if (PyDict_SetItemString(globals, items[i].bound_as, value.get()) < 0)
            return fail_import(globals, items[i].bind_line);
    }
    return true;
}

// ----- the import-time code --------------------------------------------------------------

bool bind(PyObject* globals, PyObject* name, const Ref& value, int line) {
    if (!value || PyDict_SetItem(globals, name, value.get()) < 0)
        return fail_import(globals, line);
    return true;
}

bool create_function(PyObject* globals, FunctionIndex index) {
    const FunctionSpec& spec = function_specs[index];
    Ref function = make_function(spec, globals, state.codes[index]);
    if (!function || PyDict_SetItemString(globals, spec.name, function.get()) < 0)
        return fail_import(globals, spec.line);
    return true;
}

// multiply(G1, curve_order - k), bound as `target`, on line `line`.
bool bind_negative_multiple(PyObject* globals, PyObject* target, long k, int line) {
    const Names& n = names();
    Ref multiply = lookup(globals, n.multiply);
    Ref g1 = multiply ? lookup(globals, n.G1) : Ref();
    Ref order = g1 ? lookup(globals, n.curve_order) : Ref();
    Ref small = order ? Ref::steal(PyLong_FromLong(k)) : Ref();
    Ref scalar = small ? Ref::steal(PyNumber_Subtract(order.get(), small.get())) : Ref();
    Ref point = scalar ? Ref::steal(PyObject_CallFunctionObjArgs(multiply.get(), g1.get(),
                                                                 scalar.get(), nullptr))
                       : Ref();
    return bind(globals, target, point, line);
}

bool bind_points(PyObject* globals) {
    const Names& n = names();
    if (!bind(globals, n.one, lookup(globals, n.G1), at::one))
        return false;
    {
        Ref double_ = lookup(globals, n.double_);
        Ref g1 = double_ ? lookup(globals, n.G1) : Ref();
        Ref two = g1 ? Ref::steal(PyObject_CallOneArg(double_.get(), g1.get())) : Ref();
        if (!bind(globals, n.two, two, at::two))
            return false;
    }
    {
        Ref multiply = lookup(globals, n.multiply);
        Ref g1 = multiply ? lookup(globals, n.G1) : Ref();
        Ref three = g1 ? Ref::steal(PyObject_CallFunctionObjArgs(multiply.get(), g1.get(),
                                                                 constants().three, nullptr))
                       : Ref();
        if (!bind(globals, n.three, three, at::three))
            return false;
    }
    return bind_negative_multiple(globals, n.negone, 1, at::negone) &&
           bind_negative_multiple(globals, n.negtwo, 2, at::negtwo) &&
           bind_negative_multiple(globals, n.negthree, 3, at::negthree);
}

constexpr ImportedName field_names[] = {{"bls12_381_FQ", "FQ", at::bind_FQ},
                                        {"bls12_381_FQ2", "FQ2", at::bind_FQ2},
                                        {"bls12_381_FQ12", "FQ12", at::bind_FQ12}};
constexpr ImportedName field_properties_names[] = {
    {"field_properties", "field_properties", at::import_field_properties}};
constexpr ImportedName typing_alias_names[] = {{"Field", "Field", at::import_typing_aliases},
                                               {"Point2D", "Point2D", at::import_typing_aliases}};
constexpr ImportedName curve_names[] = {{"G1", "G1", at::import_curve},
                                        {"add", "add", at::import_curve},
                                        {"b", "b", at::import_curve},
                                        {"b2", "b2", at::import_curve},
                                        {"curve_order", "curve_order", at::import_curve},
                                        {"double", "double", at::import_curve},
                                        {"is_on_curve", "is_on_curve", at::import_curve},
                                        {"multiply", "multiply", at::import_curve},
                                        {"twist", "twist", at::import_curve}};
constexpr ImportedName standard_typing_names[] = {
    {"Optional", "Optional", at::import_standard_typing},
    {"Tuple", "Tuple", at::import_standard_typing},
    {"Union", "Union", at::import_standard_typing}};
constexpr ImportedName unused_field_names[] = {{"bls12_381_FQ", "FQ_py_ecc", at::import_FQ_py_ecc}};
constexpr ImportedName utility_names[] = {
    {"prime_field_inv", "prime_field_inv", at::import_utilities}};

// field_properties["bls12_381"]["field_modulus"], bound as field_modulus.
bool bind_field_modulus(PyObject* globals) {
    Ref table = lookup(globals, names().field_properties);
    Ref curve_key = table ? Ref::steal(PyUnicode_FromString("bls12_381")) : Ref();
    Ref curve = curve_key ? Ref::steal(PyObject_GetItem(table.get(), curve_key.get())) : Ref();
    Ref modulus_key = curve ? Ref::steal(PyUnicode_FromString("field_modulus")) : Ref();
    Ref modulus =
        modulus_key ? Ref::steal(PyObject_GetItem(curve.get(), modulus_key.get())) : Ref();
    return bind(globals, names().field_modulus, modulus, at::field_modulus);
}

// Executes the module just recorded: imports, constants, points, self-test, functions.
// `entered_plain` tells whether it entered the module in sys.modules under the plain name.
bool execute(PyObject* module, bool& entered_plain) {
    PyObject* globals = PyModule_GetDict(module);
    Ref builtins_name = Ref::steal(PyUnicode_FromString("builtins"));
    if (!builtins_name)
        return false;
    Ref builtins = Ref::steal(PyImport_GetModule(builtins_name.get()));
    if (!builtins) {
        if (!PyErr_Occurred())
            PyErr_SetObject(PyExc_KeyError, builtins_name.get());
        return false;
    }
    keep(state.builtins, Ref(builtins));
    if (PyObject_SetAttrString(module, "__builtins__", builtins.get()) < 0)
        return false;

    // Compiled against 3.12; the micro version and release level do not matter.
    const unsigned major = (Py_Version >> 24) & 0xff;
    const unsigned minor = (Py_Version >> 16) & 0xff;
    if (major != 3 || minor != 12) {
        char message[200];
        PyOS_snprintf(message, sizeof message,
                      "compile time Python version %d.%d of module '%.100s' %s runtime version "
                      "%d.%d",
                      3, 12, "zentorik", "does not match", static_cast<int>(major),
                      static_cast<int>(minor));
        if (PyErr_WarnEx(nullptr, message, 1) < 0)
            return false;
    }

    if (!make_process_values())
        return false;

    if (zentorik_module_is_main != 0) {
        Ref main_name = Ref::steal(PyUnicode_FromString("__main__"));
        if (!main_name || PyObject_SetAttrString(module, "__name__", main_name.get()) < 0)
            return fail_import(globals, at::set_up);
    }

    {
        Ref plain_name = Ref::steal(PyUnicode_FromString("zentorik"));
        if (!plain_name)
            return fail_import(globals, at::set_up);
        Ref entry = Ref::steal(PyImport_GetModule(plain_name.get()));
        if (!entry) {
            if (PyErr_Occurred() ||
                PyObject_SetItem(PyImport_GetModuleDict(), plain_name.get(), module) < 0)
                return fail_import(globals, at::set_up);
            entered_plain = true;
        }
    }

    Ref all = lookup_builtin(names().all);
    if (!all)
        return fail_import(globals, at::set_up);
    keep(state.all, std::move(all));

    if (!make_codes())
        return fail_import(globals, at::set_up);

    if (!import_from(globals, "py_ecc.fields", field_names, at::import_fields) ||
        !import_from(globals, "py_ecc.fields.field_properties", field_properties_names,
                     at::import_field_properties) ||
        !import_from(globals, "py_ecc.typing", typing_alias_names, at::import_typing_aliases) ||
        !import_from(globals, "py_ecc.bls12_381", curve_names, at::import_curve))
        return false;
    if (!bind_field_modulus(globals) ||
        !bind(globals, names().ate_loop_count, Ref::borrow(constants().loop_count),
              at::ate_loop_count) ||
        !bind(globals, names().log_ate_loop_count, Ref::borrow(constants().sixty_two),
              at::log_ate_loop_count))
        return false;
    if (!import_from(globals, "typing", standard_typing_names, at::import_standard_typing) ||
        !import_from(globals, "py_ecc.fields", unused_field_names, at::import_FQ_py_ecc) ||
        !import_from(globals, "py_ecc.utils", utility_names, at::import_utilities))
        return false;
    if (!create_function(globals, linefunc_index) ||
        !create_function(globals, cast_point_to_fq12_index) || !bind_points(globals) ||
        !run_self_test(globals, state.all) || !create_function(globals, miller_loop_index) ||
        !create_function(globals, pairing_index) ||
        !create_function(globals, final_exponentiate_index))
        return false;
    Ref test_table = Ref::steal(PyDict_New());
    if (!test_table || PyDict_SetItemString(globals, "__test__", test_table.get()) < 0)
        return fail_import(globals, at::set_up);
    return true;
}

// ----- the slots -----------------------------------------------------------------------

// Copies spec.<from> to module.<to>; a missing spec attribute is skipped.
bool copy_spec_attribute(PyObject* spec, const char* from, PyObject* module, const char* to,
                         bool skip_none) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return false;
        PyErr_Clear();
        return true;
    }
    if (skip_none && value.get() == Py_None)
        return true;
    return PyObject_SetAttrString(module, to, value.get()) == 0;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1)
        return nullptr;
    if (state.first_interpreter == -1) {
        state.first_interpreter = id;
    } else if (id != state.first_interpreter) {
        PyErr_SetString(PyExc_ImportError, "Interpreter change detected - this module can only be "
                                           "loaded into one interpreter per process.");
        return nullptr;
    }
    if (state.recorded_module != nullptr)
        return Py_NewRef(state.recorded_module);
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name)
        return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module || !copy_spec_attribute(spec, "loader", module.get(), "__loader__", false) ||
        !copy_spec_attribute(spec, "origin", module.get(), "__file__", false) ||
        !copy_spec_attribute(spec, "parent", module.get(), "__package__", false) ||
        !copy_spec_attribute(spec, "submodule_search_locations", module.get(), "__path__", true))
        return nullptr;
    return module.release();
}

// The import system removes only the entry it made itself. The plain-name entry this
// module made must go too: left behind, it would hand a half-initialised module to every
// later `import zentorik` as if that import had succeeded.
void forget_plain_entry(PyObject* module) {
    PyObject* pending = PyErr_GetRaisedException();
    PyObject* modules = PyImport_GetModuleDict();
    Ref plain_name = Ref::steal(PyUnicode_FromString("zentorik"));
    Ref entry = plain_name ? Ref::steal(PyImport_GetModule(plain_name.get())) : Ref();
    if (entry.get() == module)
        PyObject_DelItem(modules, plain_name.get());
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
}

int exec_module(PyObject* module) {
    if (state.recorded_module != nullptr) {
        if (state.recorded_module == module)
            return 0;
        PyErr_SetString(PyExc_RuntimeError, "Module 'zentorik' has already been imported. "
                                            "Re-initialisation is not supported.");
        return -1;
    }
    keep(state.recorded_module, Ref::borrow(module));
    bool entered_plain = false;
    if (!execute(module, entered_plain)) {
        Py_CLEAR(state.recorded_module);
        if (entered_plain)
            forget_plain_entry(module);
        return -1;
    }
    return 0;
}

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "zentorik",   // m_name
    nullptr,      // m_doc
    0,            // m_size
    no_methods,   // m_methods
    module_slots, // m_slots
    nullptr,      // m_traverse
    nullptr,      // m_clear
    nullptr,      // m_free
};

} // namespace

} // namespace zentorik

PyMODINIT_FUNC PyInit_zentorik() {
    return PyModuleDef_Init(&zentorik::module_definition);
}
