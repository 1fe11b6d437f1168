#include <algorithm>

#include "util/peer_user.hpp"
#include "wlclip/serving_thread.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

namespace {

// A serving thread past `by` has nothing left that waits; it ends within this.
constexpr std::chrono::milliseconds ending_grace{500};

} // namespace

Clipboard::Clipboard(Address address) : address_(std::move(address)) {}

Clipboard::~Clipboard() {
    // One bound for them all: each is asked before any is waited for.
    const auto by = ServingThread::Clock::now() + serving_stop_limit;
    for (auto& serving : serving_)
        serving->stop(by);
    serving_.clear();
}

std::expected<void, copy::Error> Clipboard::copy_text(std::string bytes) {
    std::erase_if(serving_, [](const auto& serving) { return serving->ended(); });
    auto endpoint = address_.take();
    if (!endpoint)
        return std::unexpected(copy::WaylandConnection{endpoint.error()});
    auto started = ServingThread::start(std::move(*endpoint),
                                        std::make_shared<const std::string>(std::move(bytes)));
    if (!started)
        return std::unexpected(started.error());
    serving_.push_back(std::move(*started));
    return {};
}

std::shared_ptr<const std::string> Clipboard::own_selection() {
    // An inherited descriptor names no compositor a later read could find again.
    if (!address_.socket_path() || serving_.empty())
        return nullptr;
    return serving_.back()->offered().confirmed(round_trip_limit);
}

bool Clipboard::same_compositor(int connection_fd) {
    const auto peer = util::peer_credentials(connection_fd);
    if (!peer)
        return false;
    if (!compositor_)
        compositor_ = peer->pid;
    return *compositor_ == peer->pid;
}

std::size_t Clipboard::serving_threads() {
    return std::ranges::count_if(
        serving_, [](const auto& serving) { return !serving->ended(); });
}

void Clipboard::finish_serving(std::chrono::steady_clock::time_point by) {
    for (auto& serving : serving_)
        serving->finish(by);
}

Unfinished Clipboard::wait_for_serving(std::chrono::steady_clock::time_point by) {
    Unfinished total;
    for (auto& serving : serving_) {
        serving->wait_ended(by + ending_grace);
        const Unfinished cut = serving->cut();
        total.transfers += cut.transfers;
        total.missing_bytes += cut.missing_bytes;
    }
    return total;
}

} // namespace wlclip
