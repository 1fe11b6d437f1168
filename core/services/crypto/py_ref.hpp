// A small owning reference to a Python object, so that every error path releases
// exactly what it holds.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zentorik {

class Ref {
  public:
    Ref() = default;
    // Takes over a new reference (or null, as the C API returns on failure).
    static Ref steal(PyObject* object) { return Ref(object); }
    // Adds a reference of its own to a borrowed one.
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(const Ref& other) : object_(Py_XNewRef(other.object_)) {}
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller (a C API slot returning a new reference).
    [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }
    void reset() { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

  private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

} // namespace zentorik
