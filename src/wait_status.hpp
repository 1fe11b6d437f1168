// How a worker process stands or how it ended, as the supervisor and its timers report it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <variant>

namespace quillfen {

class Formatter;

struct Pid {
    pid_t value;
};

struct Signal {
    int number;
};

struct WaitStatus {
    struct Exited {
        Pid pid;
        int status;
    };
    struct Signaled {
        Pid pid;
        Signal signal;
        bool core_dumped;
    };
    struct StillAlive {};

    std::variant<Exited, Signaled, StillAlive> value;

    bool is_abort() const;
};

// Decodes the result of a waitid: an end, or a process found still running (si_pid 0, under
// WNOHANG). Every signal decodes, real-time ones included; only a status the waits used here
// never report (stopped, continued) gives nothing.
std::optional<WaitStatus> decode_wait_info(const siginfo_t& info);

void debug_fmt(Formatter& f, const Pid& pid);
void debug_fmt(Formatter& f, const Signal& signal);
void debug_fmt(Formatter& f, const WaitStatus& status);

} // namespace quillfen
