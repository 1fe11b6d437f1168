#include <fmt/format.h>

#include <utility>

#include "args.hpp"
#include "fatal.hpp"
#include "log.hpp"
#include "shared_text_record.hpp"
#include "single_instance.hpp"
#include "supervisor.hpp"
#include "util/errno_text.hpp"
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
    // Held for the life of the service, by the supervisor alone.
    util::UniqueFd instance = claim_single_instance();
    auto record = SharedTextRecord::create();
    if (!record)
        fatal(fmt::format("Failed to make the shared text record: {}",
                          util::errno_name(record.error())));
    supervise([&record] { run(*record); }, worker_lifetime_seconds, std::move(instance));
}
