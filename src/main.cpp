#include "args.hpp"
#include "log.hpp"
#include "supervisor.hpp"
#include "worker.hpp"

namespace {

// Every worker is replaced this long after it started, so that all its state is rebuilt.
constexpr unsigned worker_lifetime_seconds = 600;

} // namespace

int main(int argc, char** argv) {
    using namespace quillfen;
    {
        const Args args = parse_args_or_exit(argc, argv);
        log::level::set(args.log_level);
        log::timestamp::set(!args.hide_timestamp);
        log::log_sensitive_information::set(args.log_clipboard_contents);
    }
    supervise(run, worker_lifetime_seconds);
}
