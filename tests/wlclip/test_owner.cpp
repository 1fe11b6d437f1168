#include "tests/wlclip/test_owner.hpp"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <span>
#include <stdexcept>

namespace quillfen::test {

TestOwner::TestOwner(wlclip::Address address, std::vector<std::string> mime_types, Handler on_send)
    : on_send_(std::move(on_send)), stop_(::eventfd(0, EFD_CLOEXEC)) {
    auto endpoint = address.take();
    if (!endpoint)
        throw std::runtime_error("test owner: no compositor address");
    auto connection = wlclip::Connection::open(std::move(*endpoint), wlclip::round_trip_limit);
    if (!connection)
        throw std::runtime_error("test owner: cannot connect");
    connection_.emplace(std::move(*connection));
    auto globals = wlclip::bind_globals(*connection_, wlclip::round_trip_limit);
    if (!globals)
        throw std::runtime_error("test owner: no data-control manager or seat");
    globals_.emplace(std::move(*globals));

    std::vector<const char*> types;
    for (const auto& t : mime_types)
        types.push_back(t.c_str());
    device_.emplace(globals_->manager.get(), globals_->seats.front().get());
    source_.emplace(globals_->manager.get(), types,
                    [this](const char* type, util::UniqueFd fd) { on_send_(type, std::move(fd)); });
    zwlr_data_control_device_v1_set_selection(device_->proxy(), source_->proxy());
    if (!connection_->roundtrip(wlclip::round_trip_limit))
        throw std::runtime_error("test owner: the compositor did not answer");
    thread_ = std::thread([this] { dispatch_until_stopped(); });
}

TestOwner::~TestOwner() {
    ::eventfd_write(stop_.get(), 1);
    thread_.join();
    source_.reset();
    device_.reset();
    globals_.reset();
}

void TestOwner::dispatch_until_stopped() {
    const wlclip::Connection::Watched stop{
        .add =
            [this](std::vector<pollfd>& fds) {
                fds.push_back({stop_.get(), POLLIN, 0});
            },
        .woken = [](std::span<const pollfd> fds) -> std::expected<void, wlclip::IoError> {
            if (fds[0].revents)
                return std::unexpected(wlclip::IoError{ECANCELED});
            return {};
        },
    };
    (void)connection_->dispatch_until([] { return false; },
                                      wlclip::Connection::Clock::time_point::max(), stop);
}

} // namespace quillfen::test
