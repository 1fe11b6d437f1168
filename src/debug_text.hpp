// The structural ("debug") rendering of values that log lines and fatal
// messages print: names, tuple, structure and list forms, quoted texts, and a
// multi-line alternate form indented by four blanks per nesting level.
//
// A type takes part by providing `void debug_fmt(Formatter&, const T&)` where
// argument-dependent lookup finds it (its own namespace, or `quillfen` since
// the Formatter argument always brings that namespace in).
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quillfen {

class Formatter;

// Appends `text` as a double-quoted, escaped literal.
void write_quoted(Formatter& f, std::string_view text);

class Formatter {
  public:
    explicit Formatter(std::string& out, bool alternate = false)
        : out_(out), alternate_(alternate) {}

    void write(std::string_view raw) { out_.append(raw); }
    bool alternate() const { return alternate_; }

    class DebugStruct debug_struct(std::string_view name);
    class DebugTuple debug_tuple(std::string_view name);
    class DebugList debug_list();

  private:
    friend class DebugBuilder;

    // Alternate form: a line break and the indentation of the current depth.
    void new_line();

    std::string& out_;
    bool alternate_;
    unsigned depth_ = 0;
};

// Renders through the customisation point; the one place that spells the call.
template <class T>
void write_debug(Formatter& f, const T& value) {
    debug_fmt(f, value);
}

// Shared shape of the three builders: an opening before the first entry,
// separators between entries, a closing after them.
class DebugBuilder {
  public:
    struct Shape {
        std::string_view open_inline, open_alternate, close_inline, close_alternate, empty;
    };

  protected:
    DebugBuilder(Formatter& f, const Shape& shape) : f_(f), shape_(shape) {}

    // Writes what precedes an entry; the caller then writes the entry itself.
    void begin_entry();
    void end_entry();
    void finish_builder();

    Formatter& f_;

  private:
    const Shape& shape_;
    bool has_entries_ = false;
};

// Name { field: value, ... } — a structure without fields renders as its name.
class DebugStruct : DebugBuilder {
  public:
    DebugStruct(Formatter& f, std::string_view name);

    template <class T>
    DebugStruct& field(std::string_view name, const T& value) {
        begin_field(name);
        write_debug(f_, value);
        end_entry();
        return *this;
    }
    void finish() { finish_builder(); }

  private:
    void begin_field(std::string_view name);
};

// Name(value, ...) — a tuple without payloads renders as its name.
class DebugTuple : DebugBuilder {
  public:
    DebugTuple(Formatter& f, std::string_view name);

    template <class T>
    DebugTuple& field(const T& value) {
        begin_entry();
        write_debug(f_, value);
        end_entry();
        return *this;
    }
    void finish() { finish_builder(); }
};

// [entry, ...] — an empty list renders as [] in both forms.
class DebugList : DebugBuilder {
  public:
    explicit DebugList(Formatter& f);

    template <class T>
    DebugList& entry(const T& value) {
        begin_entry();
        write_debug(f_, value);
        end_entry();
        return *this;
    }
    void finish() { finish_builder(); }
};

inline DebugStruct Formatter::debug_struct(std::string_view name) {
    return DebugStruct(*this, name);
}
inline DebugTuple Formatter::debug_tuple(std::string_view name) {
    return DebugTuple(*this, name);
}
inline DebugList Formatter::debug_list() {
    return DebugList(*this);
}

// A bare name as a value (an enumeration variant, a payload-free kind).
struct DebugName {
    std::string_view name;
};
inline void debug_fmt(Formatter& f, DebugName value) {
    f.write(value.name);
}

// Renderings of the basic types.
inline void debug_fmt(Formatter& f, std::string_view text) {
    write_quoted(f, text);
}
inline void debug_fmt(Formatter& f, const std::string& text) {
    write_quoted(f, text);
}
inline void debug_fmt(Formatter& f, const char* text) {
    write_quoted(f, text);
}
inline void debug_fmt(Formatter& f, bool value) {
    f.write(value ? "true" : "false");
}

template <class T>
concept DebugInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                       !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
                       !std::same_as<T, char32_t> && !std::same_as<T, wchar_t>;

template <DebugInteger T>
void debug_fmt(Formatter& f, T value) {
    f.write(std::to_string(value));
}

template <class T>
void debug_fmt(Formatter& f, const std::optional<T>& value) {
    if (!value) {
        f.write("None");
        return;
    }
    f.debug_tuple("Some").field(*value).finish();
}

template <class T, class A>
void debug_fmt(Formatter& f, const std::vector<T, A>& values) {
    auto list = f.debug_list();
    for (const auto& value : values)
        list.entry(value);
    list.finish();
}

template <class T, class D>
void debug_fmt(Formatter& f, const std::unique_ptr<T, D>& pointer) {
    write_debug(f, *pointer);
}

// One-line debug text of a value.
template <class T>
std::string debug_text(const T& value) {
    std::string out;
    Formatter f(out);
    write_debug(f, value);
    return out;
}

// Multi-line (alternate) debug text of a value.
template <class T>
std::string alternate_debug_text(const T& value) {
    std::string out;
    Formatter f(out, true);
    write_debug(f, value);
    return out;
}

} // namespace quillfen
