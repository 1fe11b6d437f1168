// The built service, run by a benchmark on the displays it started.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "bench/process_stats.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/watched_process.hpp"

namespace bench {

// Started with sway's runtime directory; ready once it has listed its clipboards and its worker
// is found.
class RunningService {
  public:
    explicit RunningService(const quillfen::test::SwayServer& sway)
        : process_({QUILLFEN_BINARY, "--hide-timestamp"},
                   quillfen::test::WatchOptions{
                       .environment = {"XDG_RUNTIME_DIR=" + sway.runtime_dir()}}) {
        using namespace std::chrono_literals;
        if (!process_.wait_for_out("Using clipboards: ", 60s))
            throw std::runtime_error("the service did not list its clipboards:\n" + process_.err());
        const auto worker = child_of(process_.pid());
        if (!worker)
            throw std::runtime_error("no worker process found");
        worker_ = *worker;
    }

    pid_t supervisor() const { return process_.pid(); }
    pid_t worker() const { return worker_; }
    // Whether the worker found at the start was replaced since.
    bool worker_replaced() const { return child_of(process_.pid()) != worker_; }

  private:
    quillfen::test::WatchedProcess process_;
    pid_t worker_ = -1;
};

} // namespace bench
