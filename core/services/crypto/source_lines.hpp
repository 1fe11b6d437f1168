// The source lines that traceback entries report, one named constant per step. A reader of a
// traceback looks the line up here; the code names the step, never the number.
#pragma once

namespace zentorik::lines {

// The import, reported as "init zentorik".
namespace init {
inline constexpr int set_up = 1; // __name__, sys.modules entry, all, code objects, __test__
inline constexpr int import_fields = 1;
inline constexpr int bind_FQ = 2;
inline constexpr int bind_FQ2 = 3;
inline constexpr int bind_FQ12 = 4;
inline constexpr int import_field_properties = 6;
inline constexpr int import_typing_aliases = 9;
inline constexpr int import_curve = 14;
inline constexpr int field_modulus = 26;
inline constexpr int ate_loop_count = 28;
inline constexpr int log_ate_loop_count = 29;
inline constexpr int import_standard_typing = 31;
inline constexpr int import_FQ_py_ecc = 33;
inline constexpr int import_utilities = 34;
inline constexpr int one = 73;
inline constexpr int two = 74;
inline constexpr int three = 75;
inline constexpr int negone = 76;
inline constexpr int negtwo = 77;
inline constexpr int negthree = 78;
// The self-test: its cases stand on consecutive lines, the first to the last.
inline constexpr int conditions = 80;
inline constexpr int first_case = 81;
inline constexpr int last_case = 90;
inline constexpr int all_true = 93;
inline constexpr int inconsistent = 94;
} // namespace init

// Each function's definition line is the first line of its code object and the line of its
// argument errors.
namespace linefunc {
inline constexpr int definition = 36;
inline constexpr int unpack_P1 = 48;
inline constexpr int unpack_P2 = 49;
inline constexpr int unpack_T = 50;
inline constexpr int x_test = 52;
inline constexpr int chord_slope = 53;
inline constexpr int chord_value = 54;
inline constexpr int y_test = 55;
inline constexpr int tangent_slope = 56;
inline constexpr int tangent_value = 57;
inline constexpr int vertical_value = 59;
} // namespace linefunc

namespace cast_point_to_fq12 {
inline constexpr int definition = 62;
inline constexpr int unpack_pt = 68;
inline constexpr int embedding = 69;
} // namespace cast_point_to_fq12

namespace miller_loop {
inline constexpr int definition = 97;
inline constexpr int none_point = 101;
inline constexpr int make_f = 104;
inline constexpr int read_top_bit = 106;
inline constexpr int square_and_tangent = 107;
inline constexpr int doubling = 108;
inline constexpr int bit_test = 109;
inline constexpr int chord = 110;
inline constexpr int addition = 111;
inline constexpr int final_exponentiation = 113;
} // namespace miller_loop

namespace pairing {
inline constexpr int definition = 116;
inline constexpr int test_Q = 117;
inline constexpr int Q_off_curve = 118;
inline constexpr int test_P = 119;
inline constexpr int P_off_curve = 120;
inline constexpr int twist_embed_and_loop = 121;
} // namespace pairing

namespace final_exponentiate {
inline constexpr int definition = 124;
inline constexpr int exponentiation = 125;
} // namespace final_exponentiate

} // namespace zentorik::lines
