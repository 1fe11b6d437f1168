#include "wlclip/serving_thread.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/mime.hpp"
#include "wlclip/source.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

namespace {

std::expected<void, copy::Error> communication_error(IoError io) {
    return std::unexpected(copy::WaylandCommunication{io});
}

struct Offering {
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<std::unique_ptr<Source>> sources;

    bool withdrawn() const {
        return std::ranges::all_of(
                   sources, [](auto& s) { return s->cancelled(); }) ||
               std::ranges::all_of(
                   devices, [](auto& d) { return d->finished(); });
    }
};

// Serves read requests until the compositor withdraws every source, the connection breaks or
// `stop_fd` becomes readable. Nothing here is reported: there is nobody left to report to.
void serve_until_withdrawn(Connection& connection, const Offering& offering, Transfers& transfers,
                           SelectionChecks& checks, int stop_fd) {
    const Connection::Watched watched{
        .add =
            [&](std::vector<pollfd>& fds) {
                fds.push_back({checks.fd(), POLLIN, 0});
                fds.push_back({stop_fd, POLLIN, 0});
                transfers.append_pollfds(fds);
            },
        .woken = [&](std::span<const pollfd> fds) -> std::expected<void, IoError> {
            if (fds[1].revents & POLLIN)
                return std::unexpected(IoError{ECANCELED});
            transfers.service(fds.data() + 2);
            if (fds[0].revents & POLLIN)
                checks.start(connection.display());
            return {};
        },
    };
    (void)connection.dispatch_until([&] { return offering.withdrawn(); },
                                    Connection::Clock::time_point::max(), watched);
}

} // namespace

ServingThread::ServingThread(std::shared_ptr<const std::string> bytes)
    : bytes_(bytes), offered_(std::move(bytes)), stop_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!stop_)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

std::expected<std::unique_ptr<ServingThread>, copy::Error>
ServingThread::start(Endpoint endpoint, std::shared_ptr<const std::string> bytes) {
    std::unique_ptr<ServingThread> serving(new ServingThread(std::move(bytes)));
    serving->thread_ =
        std::jthread([self = serving.get(), endpoint = std::move(endpoint)]() mutable {
            self->run(std::move(endpoint));
        });

    // Released before `serving` goes, whose destructor stops the thread and joins it.
    std::unique_lock lock(serving->mutex_);
    bool reported = serving->changed_.wait_for(lock, copy_report_limit,
                                               [&] { return serving->result_ || serving->crash_; });
    if (!reported) {
        serving->abandoned_ = true;
        return std::unexpected(copy::WaylandCommunication{IoError{ETIMEDOUT}});
    }
    if (serving->crash_)
        throw std::runtime_error("the clipboard serving thread failed: " + *serving->crash_);
    if (!*serving->result_)
        return std::unexpected(serving->result_->error());
    lock.unlock();
    return serving;
}

ServingThread::~ServingThread() {
    if (!thread_.joinable())
        return;
    stop(Clock::now() + serving_stop_limit);
    thread_.join();
}

bool ServingThread::ended() {
    std::lock_guard lock(mutex_);
    return ended_;
}

void ServingThread::stop(Clock::time_point by) {
    {
        std::lock_guard lock(mutex_);
        finish_by_ = std::min(by, finish_by_.value_or(by));
    }
    ::eventfd_write(stop_.get(), 1);
}

void ServingThread::finish(Clock::time_point by) {
    {
        std::lock_guard lock(mutex_);
        counted_ = true;
    }
    stop(by);
}

void ServingThread::wait_ended(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, until, [&] { return ended_; });
}

Unfinished ServingThread::cut() {
    std::lock_guard lock(mutex_);
    return cut_;
}

bool ServingThread::deliver(Result result) {
    std::lock_guard lock(mutex_);
    if (abandoned_)
        return false;
    result_ = std::move(result);
    changed_.notify_all();
    return result_->has_value();
}

ServingThread::Clock::time_point ServingThread::finish_by() {
    std::lock_guard lock(mutex_);
    return finish_by_.value_or(Clock::time_point::max());
}

// Offers the bytes and serves them until the selection is taken; the transfers that began
// are left in `transfers`.
void ServingThread::offer_until_withdrawn(Endpoint endpoint, Transfers& transfers) {
    auto connection = Connection::open(std::move(endpoint), round_trip_limit);
    if (!connection) {
        deliver(std::unexpected(setup_error<copy::Error>(connection.error())));
        return;
    }
    auto globals = bind_globals(*connection, round_trip_limit, stop_.get());
    if (!globals) {
        deliver(std::unexpected(setup_error<copy::Error>(globals.error())));
        return;
    }
    Offering offering;
    for (auto& seat : globals->seats) {
        auto& device = offering.devices.emplace_back(
            std::make_unique<Device>(globals->manager.get(), seat.get()));
        auto& source = offering.sources.emplace_back(
            std::make_unique<Source>(globals->manager.get(), copy_mime_types,
                                     [&transfers](const char*, util::UniqueFd write_end) {
                                         transfers.add(std::move(write_end));
                                     }));
        if (!device->proxy() || !source->proxy()) {
            deliver(communication_error(connection->error()));
            return;
        }
        zwlr_data_control_device_v1_set_selection(device->proxy(), source->proxy());
    }
    SelectionChecks checks(offered_, *offering.sources.front());
    // Success means the compositor has processed the selection requests, so a read
    // right after the copy sees the new text.
    if (auto done = connection->roundtrip(round_trip_limit, stop_.get()); !done) {
        deliver(communication_error(done.error()));
        return;
    }
    if (!deliver({}))
        return;
    serve_until_withdrawn(*connection, offering, transfers, checks, stop_.get());
}

void ServingThread::run(Endpoint endpoint) noexcept {
    pthread_setname_np(pthread_self(), "wlclip-serve");
    // A requester that closes its end early must not end the process through SIGPIPE.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    try {
        // Outlives the offering, whose sources' handlers add to it.
        Transfers transfers(bytes_);
        offer_until_withdrawn(std::move(endpoint), transfers);
        // The compositor connection is closed; a reader part way through still gets the whole
        // text, not a prefix that looks like all of it, unless the thread must end first.
        const Unfinished cut = transfers.finish(
            serving_idle_limit, [this] { return finish_by(); }, stop_.get());
        std::lock_guard lock(mutex_);
        if (counted_)
            cut_ = cut;
    } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        crash_ = e.what();
    } catch (...) {
        std::lock_guard lock(mutex_);
        crash_ = "unknown failure";
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

} // namespace wlclip
