#include "wlclip/serving.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/eventfd.h>

namespace wlclip {

namespace {

// A serving thread past `by` has nothing left that waits; it ends within this.
constexpr std::chrono::milliseconds ending_grace{500};

struct Registry {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> stop_fds; // one per live entry
    std::optional<ServingClock::time_point> stop_by;
    Unfinished cut;
};

// Never destroyed: detached serving threads may still use it while the process exits.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

void ask_to_stop(int stop_fd) {
    ::eventfd_write(stop_fd, 1);
}

} // namespace

ServingEntry::ServingEntry(int stop_fd) : stop_fd_(stop_fd) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.stop_fds.push_back(stop_fd_);
    if (r.stop_by)
        ask_to_stop(stop_fd_);
}

ServingEntry::~ServingEntry() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.stop_fds.erase(std::ranges::find(r.stop_fds, stop_fd_));
    r.changed.notify_all();
}

ServingClock::time_point ServingEntry::finish_by() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.stop_by.value_or(ServingClock::time_point::max());
}

void ServingEntry::report(const Unfinished& cut) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.stop_by)
        return;
    r.cut.transfers += cut.transfers;
    r.cut.missing_bytes += cut.missing_bytes;
}

void stop_serving(ServingClock::time_point by) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.stop_by = std::min(by, r.stop_by.value_or(by));
    for (int fd : r.stop_fds)
        ask_to_stop(fd);
}

Unfinished wait_for_serving_threads(ServingClock::time_point by) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    r.changed.wait_until(lock, by + ending_grace, [&] { return r.stop_fds.empty(); });
    return r.cut;
}

} // namespace wlclip
