#include "debug_text.hpp"

#include "unicode_tables.hpp"
#include "util/utf8.hpp"

namespace quillfen {

namespace {

constexpr DebugBuilder::Shape struct_shape{" { ", " {", " }", "}", ""};
constexpr DebugBuilder::Shape tuple_shape{"(", "(", ")", ")", ""};
constexpr DebugBuilder::Shape list_shape{"", "", "]", "]", "]"};

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

void write_quoted(Formatter& f, std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (std::size_t pos = 0; pos < text.size();) {
        // An ill-formed byte shows as U+FFFD and takes one byte, so any byte string renders.
        const util::Utf8Sequence sequence = util::decode_utf8(text, pos);
        const char32_t code = sequence.code;
        pos += sequence.valid ? sequence.length : 1;
        switch (code) {
        case U'\t':
            out += "\\t";
            continue;
        case U'\r':
            out += "\\r";
            continue;
        case U'\n':
            out += "\\n";
            continue;
        case U'\\':
            out += "\\\\";
            continue;
        case U'"':
            out += "\\\"";
            continue;
        case U'\0':
            out += "\\0";
            continue;
        default:
            break;
        }
        // A combining character would attach to the opening quote or to the escape
        // before it, so it is always spelled out.
        if (unicode::is_printable(code) && !unicode::extends_previous(code)) {
            append_utf8(out, code);
        } else {
            static constexpr char digits[] = "0123456789abcdef";
            std::string hex;
            for (char32_t rest = code; rest != 0 || hex.empty(); rest >>= 4)
                hex.insert(hex.begin(), digits[rest & 0xF]);
            out += "\\u{" + hex + "}";
        }
    }
    out.push_back('"');
    f.write(out);
}

void Formatter::new_line() {
    out_.push_back('\n');
    out_.append(4 * static_cast<std::size_t>(depth_), ' ');
}

void DebugBuilder::begin_entry() {
    if (!has_entries_) {
        if (f_.alternate()) {
            f_.write(shape_.open_alternate);
            ++f_.depth_;
        } else {
            f_.write(shape_.open_inline);
        }
    } else if (!f_.alternate()) {
        f_.write(", ");
    }
    if (f_.alternate())
        f_.new_line();
    has_entries_ = true;
}

void DebugBuilder::end_entry() {
    if (f_.alternate())
        f_.write(",");
}

void DebugBuilder::finish_builder() {
    if (!has_entries_) {
        f_.write(shape_.empty);
    } else if (f_.alternate()) {
        --f_.depth_;
        f_.new_line();
        f_.write(shape_.close_alternate);
    } else {
        f_.write(shape_.close_inline);
    }
}

DebugStruct::DebugStruct(Formatter& f, std::string_view name) : DebugBuilder(f, struct_shape) {
    f.write(name);
}

void DebugStruct::begin_field(std::string_view name) {
    begin_entry();
    f_.write(name);
    f_.write(": ");
}

DebugTuple::DebugTuple(Formatter& f, std::string_view name) : DebugBuilder(f, tuple_shape) {
    f.write(name);
}

DebugList::DebugList(Formatter& f) : DebugBuilder(f, list_shape) {
    f.write("[");
}

} // namespace quillfen
