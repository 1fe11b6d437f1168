// The other clients of a test: wl-copy and wl-paste, and the compositor the tests use.
#pragma once

#include <string>

#include "tests/servers/sway_server.hpp"

namespace quillfen::test {

// Points the environment at `compositor`, as the service does before each call.
void use_compositor(const HeadlessCompositor& compositor);

// Runs `command` through /bin/sh with `input` on its standard input and returns its
// standard output. Throws std::runtime_error on a non-zero status or after 20 s.
std::string run_shell(const std::string& command, const std::string& input = "");

// wl-copy with `args`, `bytes` on its standard input; returns once it serves them.
void wl_copy(const std::string& bytes, const std::string& args = "");
// wl-paste without its added newline.
std::string wl_paste(const std::string& args = "");

} // namespace quillfen::test
