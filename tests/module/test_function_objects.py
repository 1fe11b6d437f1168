"""The five function objects: names, annotations, docstrings, code objects, signatures and
pickling."""

import copy
import inspect
import pickle

import pytest

LINEFUNC_DOC = (
    "\n    Create a function representing the line between P1 and P2,\n"
    "    and evaluate it at T\n    "
)

# name: (parameters with annotations, return annotation, first line, co_varnames)
FUNCTIONS = {
    "linefunc": (
        {"P1": "Tuple[Field, Field]", "P2": "Tuple[Field, Field]", "T": "Tuple[Field, Field]"},
        "Field", 36, ("P1", "P2", "T", "x1", "y1", "x2", "y2", "xt", "yt", "m"),
    ),
    "cast_point_to_fq12": (
        {"pt": "Optional[Tuple[FQ, FQ]]"}, "Optional[Tuple[FQ12, FQ12]]", 62, ("pt", "x", "y"),
    ),
    "miller_loop": (
        {"Q": "Point2D[FQ12]", "P": "Point2D[FQ12]"}, "FQ12", 97, ("Q", "P", "i", "R", "f"),
    ),
    "pairing": ({"Q": "Point2D[FQ2]", "P": "Point2D[FQ]"}, "FQ12", 116, ("Q", "P")),
    "final_exponentiate": ({"p": "FQ12"}, "FQ12", 124, ("p",)),
}


@pytest.fixture(params=FUNCTIONS, ids=str)
def function(request, zentorik):
    return request.param, getattr(zentorik, request.param), FUNCTIONS[request.param]


def test_names_module_and_docstring(function):
    name, f, _ = function
    assert f.__name__ == f.__qualname__ == name
    assert f.__module__ == "zentorik"
    assert f.__doc__ == (LINEFUNC_DOC if name == "linefunc" else None)


def test_one_function_type_for_all(zentorik):
    assert len({type(getattr(zentorik, name)) for name in FUNCTIONS}) == 1
    assert len(LINEFUNC_DOC) == 93


def test_annotations_in_order_and_kept_across_accesses(function):
    _, f, (parameters, returns, _, _) = function
    annotations = f.__annotations__
    assert list(annotations.items()) == [*parameters.items(), ("return", returns)]
    assert f.__annotations__ is annotations
    annotations["extra"] = "kept"
    try:
        assert f.__annotations__["extra"] == "kept"
    finally:
        del annotations["extra"]


def test_defaults_closure_globals_and_attribute_dict(function, zentorik):
    name, f, _ = function
    assert f.__defaults__ is None and f.__kwdefaults__ is None and f.__closure__ is None
    assert f.__globals__ is vars(zentorik)
    f.marker = name
    try:
        assert f.__dict__ == {"marker": name}
    finally:
        del f.marker
    assert f.__dict__ == {}


def test_code_object(function):
    name, f, (parameters, _, line, varnames) = function
    code = f.__code__
    assert code.co_name == code.co_qualname == name
    assert code.co_filename == "zentorik.cpp"
    assert code.co_firstlineno == line
    assert code.co_argcount == len(parameters)
    assert code.co_posonlyargcount == code.co_kwonlyargcount == 0
    assert code.co_flags == inspect.CO_OPTIMIZED | inspect.CO_NEWLOCALS
    assert code.co_varnames == varnames
    assert code.co_nlocals == len(varnames)
    assert f.__code__ is code


def test_signature(function):
    _, f, (parameters, returns, _, _) = function
    signature = inspect.signature(f)
    assert [(p.name, p.kind, p.default, p.annotation) for p in signature.parameters.values()] == [
        (n, inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty, a)
        for n, a in parameters.items()
    ]
    assert signature.return_annotation == returns


def test_linefunc_signature_text(zentorik):
    assert str(inspect.signature(zentorik.linefunc)) == (
        "(P1: 'Tuple[Field, Field]', P2: 'Tuple[Field, Field]', T: 'Tuple[Field, Field]')"
        " -> 'Field'"
    )


def test_pickles_and_copies_by_qualified_name(function):
    name, f, _ = function
    assert f.__reduce__() == name
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        data = pickle.dumps(f, protocol)
        assert b"zentorik" in data and name.encode() in data
        assert pickle.loads(data) is f
    assert copy.copy(f) is f and copy.deepcopy(f) is f
