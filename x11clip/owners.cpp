#include "x11clip/owners.hpp"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "x11clip/owner.hpp"

namespace x11clip {

namespace {

// An owner thread past `by` has nothing left that waits; it ends within this.
constexpr std::chrono::milliseconds ending_grace{500};

struct Registry {
    std::mutex mutex;
    std::vector<Owner*> owners;
    std::optional<OwnersClock::time_point> stop_by;
};

// Never destroyed: an owner may outlive the static objects of an exiting process.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

} // namespace

void list_owner(Owner& owner) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.owners.push_back(&owner);
    if (r.stop_by)
        owner.finish(*r.stop_by);
}

void unlist_owner(Owner& owner) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.owners, &owner);
}

void stop_serving(OwnersClock::time_point by) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.stop_by = std::min(by, r.stop_by.value_or(by));
    for (Owner* owner : r.owners)
        owner->finish(*r.stop_by);
}

void wait_for_owner_threads(OwnersClock::time_point by) {
    Registry& r = registry();
    // Held throughout: no owner is destroyed while it is waited for.
    std::lock_guard lock(r.mutex);
    for (Owner* owner : r.owners)
        owner->wait_ended(by + ending_grace);
}

} // namespace x11clip
