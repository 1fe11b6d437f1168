#include "wait_status.hpp"

#include <sys/wait.h>

#include <cstring>
#include <string>

#include "debug_text.hpp"
#include "fatal.hpp"

namespace quillfen {

bool WaitStatus::is_abort() const {
    const auto* exited = std::get_if<Exited>(&value);
    // A worker aborts through a fatal condition, which exits with this status.
    return exited != nullptr && exited->status == fatal_exit_status;
}

std::optional<WaitStatus> decode_wait_info(const siginfo_t& info) {
    if (info.si_pid == 0)
        return WaitStatus{WaitStatus::StillAlive{}};
    switch (info.si_code) {
    case CLD_EXITED:
        return WaitStatus{WaitStatus::Exited{Pid{info.si_pid}, info.si_status}};
    case CLD_KILLED:
    case CLD_DUMPED:
        return WaitStatus{WaitStatus::Signaled{Pid{info.si_pid}, Signal{info.si_status},
                                               info.si_code == CLD_DUMPED}};
    default:
        return std::nullopt;
    }
}

void debug_fmt(Formatter& f, const Pid& pid) {
    f.debug_tuple("Pid").field(pid.value).finish();
}

void debug_fmt(Formatter& f, const Signal& signal) {
    // Signals 1 to 31 by their standard names; real-time signals have none, so their number.
    const char* abbreviation = sigabbrev_np(signal.number);
    f.write(abbreviation != nullptr ? "SIG" + std::string(abbreviation)
                                    : std::to_string(signal.number));
}

void debug_fmt(Formatter& f, const WaitStatus& status) {
    std::visit(
        [&f](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, WaitStatus::Exited>)
                f.debug_tuple("Exited").field(s.pid).field(s.status).finish();
            else if constexpr (std::is_same_v<S, WaitStatus::Signaled>)
                f.debug_tuple("Signaled")
                    .field(s.pid)
                    .field(s.signal)
                    .field(s.core_dumped)
                    .finish();
            else
                f.write("StillAlive");
        },
        status.value);
}

} // namespace quillfen
