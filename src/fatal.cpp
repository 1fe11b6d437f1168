#include "fatal.hpp"

#include <unistd.h>

#include "log.hpp"

namespace quillfen {

namespace {
thread_local bool fatal_ends_thread = false;
}

FatalEndsThread::FatalEndsThread() : previous_(fatal_ends_thread) {
    fatal_ends_thread = true;
}

FatalEndsThread::~FatalEndsThread() {
    fatal_ends_thread = previous_;
}

void fatal(std::string_view message) {
    std::string text(message);
    text.push_back('\n');
    log::detail::write_stderr_best_effort(text);
    if (fatal_ends_thread)
        throw ThreadFatal{std::string(message)};
    // _exit: other threads (a clipboard layer's serving threads) may still run,
    // and static destructors must not pull their state away under them.
    _exit(fatal_exit_status);
}

} // namespace quillfen
