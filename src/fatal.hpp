// Fatal conditions: the message goes to standard error and the process ends
// with status 101 — or, on a thread that must end alone, only that thread ends.
#pragma once

#include <string>
#include <string_view>

namespace quillfen {

// Thrown by `fatal` on a thread that runs under `FatalEndsThread`. Not derived
// from std::exception so that no general handler swallows it by accident; the
// thread's top-level catch ends the thread.
struct ThreadFatal {
    std::string message;
};

// While alive, a fatal condition on this thread throws `ThreadFatal` instead of
// ending the process.
class FatalEndsThread {
  public:
    FatalEndsThread();
    ~FatalEndsThread();
    FatalEndsThread(const FatalEndsThread&) = delete;
    FatalEndsThread& operator=(const FatalEndsThread&) = delete;

  private:
    bool previous_;
};

inline constexpr int fatal_exit_status = 101;

[[noreturn]] void fatal(std::string_view message);

} // namespace quillfen
