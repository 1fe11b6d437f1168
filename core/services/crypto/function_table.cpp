// Names, parameters, annotations, docstring and definition lines of the five functions.
#include "function_table.hpp"

#include "line_functions.hpp"
#include "pairing_functions.hpp"
#include "source_lines.hpp"

namespace zentorik {

namespace {

constexpr const char* linefunc_parameters[] = {"P1", "P2", "T"};
constexpr const char* linefunc_annotations[] = {"Tuple[Field, Field]", "Tuple[Field, Field]",
                                                "Tuple[Field, Field]"};
constexpr const char* linefunc_varnames[] = {"P1", "P2", "T",  "x1", "y1",
                                             "x2", "y2", "xt", "yt", "m"};
constexpr const char* linefunc_doc = "\n    Create a function representing the line between P1 and "
                                     "P2,\n    and evaluate it at T\n    ";

constexpr const char* cast_parameters[] = {"pt"};
constexpr const char* cast_annotations[] = {"Optional[Tuple[FQ, FQ]]"};
constexpr const char* cast_varnames[] = {"pt", "x", "y"};

constexpr const char* miller_loop_parameters[] = {"Q", "P"};
constexpr const char* miller_loop_annotations[] = {"Point2D[FQ12]", "Point2D[FQ12]"};
constexpr const char* miller_loop_varnames[] = {"Q", "P", "i", "R", "f"};

constexpr const char* pairing_parameters[] = {"Q", "P"};
constexpr const char* pairing_annotations[] = {"Point2D[FQ2]", "Point2D[FQ]"};

constexpr const char* final_exponentiate_parameters[] = {"p"};
constexpr const char* final_exponentiate_annotations[] = {"FQ12"};

} // namespace

const std::array<FunctionSpec, function_count> function_specs = {{
    {"linefunc", linefunc_parameters, linefunc_annotations, "Field", linefunc_doc,
     lines::linefunc::definition, "zentorik.linefunc", " in linefunc", linefunc_varnames,
     linefunc_body},
    {"cast_point_to_fq12", cast_parameters, cast_annotations, "Optional[Tuple[FQ12, FQ12]]",
     nullptr, lines::cast_point_to_fq12::definition, "zentorik.cast_point_to_fq12",
     " in cast_point_to_fq12", cast_varnames, cast_point_to_fq12_body},
    {"miller_loop", miller_loop_parameters, miller_loop_annotations, "FQ12", nullptr,
     lines::miller_loop::definition, "zentorik.miller_loop", " in miller_loop",
     miller_loop_varnames, miller_loop_body},
    {"pairing", pairing_parameters, pairing_annotations, "FQ12", nullptr,
     lines::pairing::definition, "zentorik.pairing", " in pairing", pairing_parameters,
     pairing_body},
    {"final_exponentiate", final_exponentiate_parameters, final_exponentiate_annotations, "FQ12",
     nullptr, lines::final_exponentiate::definition, "zentorik.final_exponentiate",
     " in final_exponentiate", final_exponentiate_parameters, final_exponentiate_body},
}};

} // namespace zentorik
