#include "tests/sync_servers/sync_worker.hpp"

#include <signal.h>
#include <sys/prctl.h>

#include <stdexcept>

#include "log.hpp"
#include "shared_text_record.hpp"
#include "worker.hpp"

namespace quillfen::test {

namespace {

// The worker's own run, with a record of its own in place of the supervisor's.
int discover_and_sync() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    log::level::set(Level::info);
    log::timestamp::set(false);
    auto record = SharedTextRecord::create();
    if (!record)
        return 3;
    run(*record);
}

} // namespace

SyncWorker::SyncWorker() : process_(discover_and_sync, WatchOptions{}) {
    const std::string wanted = "Using clipboards: ";
    std::string line;
    const auto find_line = [&](const std::string& text) {
        const auto at = text.find(wanted);
        const auto end = at == std::string::npos ? at : text.find('\n', at);
        if (end != std::string::npos)
            line = text.substr(at, end - at);
        return !line.empty();
    };
    if (!process_.wait_until([&] { return find_line(process_.out()) || find_line(process_.err()); },
                             std::chrono::seconds(20)))
        throw std::runtime_error("the sync worker did not finish its discovery:\n" +
                                 process_.out() + process_.err());
    clipboards_line_ = line;
}

} // namespace quillfen::test
