// A forked worker, run as the supervisor runs it: it discovers the clipboards and keeps them in
// sync beside the real clipboard clients of a test.
#pragma once

#include <string>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

// The process environment must name the compositors' runtime directory already.
class SyncWorker {
  public:
    SyncWorker();

    // The "Using clipboards: " line of its discovery.
    const std::string& clipboards_line() const { return clipboards_line_; }

  private:
    WatchedProcess process_;
    std::string clipboards_line_;
};

} // namespace quillfen::test
