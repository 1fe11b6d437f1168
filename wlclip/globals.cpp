#include "wlclip/globals.hpp"

#include <cstring>
#include <optional>

namespace wlclip {

namespace {

struct Announced {
    std::optional<std::uint32_t> manager;
    std::vector<std::uint32_t> seats;
};

void on_global(void* data, wl_registry*, std::uint32_t name, const char* interface,
               std::uint32_t version) {
    auto* announced = static_cast<Announced*>(data);
    if (std::strcmp(interface, manager_interface_name) == 0 && version >= manager_version)
        announced->manager = name;
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && version >= min_seat_version)
        announced->seats.push_back(name);
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registry_listener = {
    .global = on_global,
    .global_remove = on_global_remove,
};

} // namespace

std::expected<Globals, SetupFailure> bind_globals(Connection& connection,
                                                  std::chrono::milliseconds limit, int stop_fd) {
    Announced announced;
    // The registry goes before `announced` does; what it bound stays valid without it.
    Owned<wl_registry> registry(wl_display_get_registry(connection.display()));
    if (!registry)
        return std::unexpected(connection.error());
    wl_registry_add_listener(registry.get(), &registry_listener, &announced);
    if (auto done = connection.roundtrip(limit, stop_fd); !done)
        return std::unexpected(done.error());

    if (!announced.manager)
        return std::unexpected(MissingManager{});
    if (announced.seats.empty())
        return std::unexpected(NoUsableSeat{});

    Globals globals;
    globals.manager.reset(static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry.get(), *announced.manager,
                         &zwlr_data_control_manager_v1_interface, manager_version)));
    if (!globals.manager)
        return std::unexpected(connection.error());
    for (std::uint32_t name : announced.seats) {
        globals.seats.emplace_back(static_cast<wl_seat*>(
            wl_registry_bind(registry.get(), name, &wl_seat_interface, min_seat_version)));
        if (!globals.seats.back())
            return std::unexpected(connection.error());
    }
    return globals;
}

} // namespace wlclip
