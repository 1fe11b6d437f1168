// The real clipboard clients (xclip, wl-copy, wl-paste) as peers of the service, and a worker
// process that runs discovery and the sync loop beside them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quillfen::test {

using Environment = std::vector<std::string>;

// The environment of a client of X display `display`.
Environment x11_client(const std::string& display);
// The environment of a client of the compositor on `socket` under `runtime_dir`.
Environment wayland_client(const std::string& runtime_dir, const std::string& socket);

// Runs a client that copies `input` (given on its standard input) and returns its exit status.
// Copying clients stay behind to serve the text; only the first process is waited for.
int copy_with(const std::vector<std::string>& argv, const Environment& env,
              const std::string& input = {});
// Runs a client and returns what it printed on standard output (empty after 5 s).
std::string paste_with(const std::vector<std::string>& argv, const Environment& env);

std::string xclip_paste(const std::string& display);
std::string wl_paste(const std::string& runtime_dir, const std::string& socket);

// Tries `done` every 50 ms until it holds or `limit` has passed.
bool eventually(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// A forked process that discovers the clipboards and keeps them in sync, as a worker does.
// The process environment must name the compositors' runtime directory already.
class SyncWorker {
  public:
    SyncWorker();
    ~SyncWorker();
    SyncWorker(const SyncWorker&) = delete;
    SyncWorker& operator=(const SyncWorker&) = delete;

    // The "Using clipboards: " line of its discovery.
    const std::string& clipboards_line() const { return clipboards_line_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string clipboards_line_;
};

} // namespace quillfen::test
