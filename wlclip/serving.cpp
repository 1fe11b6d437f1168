#include "wlclip/serving.hpp"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "wlclip/serving_thread.hpp"

namespace wlclip {

namespace {

// A serving thread past `by` has nothing left that waits; it ends within this.
constexpr std::chrono::milliseconds ending_grace{500};

struct Registry {
    std::mutex mutex;
    std::vector<ServingThread*> listed;
    std::optional<ServingClock::time_point> stop_by;
    Unfinished cut; // of the threads unlisted since stop_serving
};

// Never destroyed: a serving thread may outlive the static objects of an exiting process.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

void add(Unfinished& total, const Unfinished& cut) {
    total.transfers += cut.transfers;
    total.missing_bytes += cut.missing_bytes;
}

} // namespace

void list_serving(ServingThread& serving) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.listed.push_back(&serving);
    if (r.stop_by)
        serving.finish(*r.stop_by);
}

void unlist_serving(ServingThread& serving) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.listed, &serving);
    add(r.cut, serving.cut());
}

void stop_serving(ServingClock::time_point by) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.stop_by = std::min(by, r.stop_by.value_or(by));
    for (ServingThread* serving : r.listed)
        serving->finish(*r.stop_by);
}

Unfinished wait_for_serving_threads(ServingClock::time_point by) {
    Registry& r = registry();
    // Held throughout: no serving thread is unlisted while it is waited for.
    std::lock_guard lock(r.mutex);
    Unfinished total = r.cut;
    for (ServingThread* serving : r.listed) {
        serving->wait_ended(by + ending_grace);
        add(total, serving->cut());
    }
    return total;
}

} // namespace wlclip
