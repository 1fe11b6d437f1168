#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>

#include "wlclip/connection.hpp"
#include "wlclip/device.hpp"
#include "wlclip/globals.hpp"
#include "wlclip/mime.hpp"
#include "wlclip/offered.hpp"
#include "wlclip/serving.hpp"
#include "wlclip/source.hpp"
#include "wlclip/transfers.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

namespace {

using Result = std::expected<void, copy::Error>;

// What the serving thread tells the caller, and the caller's way to give up on it.
struct Report {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Result> result;
    std::optional<std::string> crash; // the thread failed before it could report
    bool abandoned = false;
    util::UniqueFd stop; // an eventfd, readable once the caller or the process gave up

    // False when the caller has given up already: the thread must not serve then.
    bool deliver(Result r) {
        std::lock_guard lock(mutex);
        if (abandoned)
            return false;
        result = std::move(r);
        changed.notify_all();
        return result->has_value();
    }
};

Result communication_error(IoError io) {
    return std::unexpected(copy::WaylandCommunication{io});
}

struct Offering {
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<std::unique_ptr<Source>> sources;

    bool withdrawn() const {
        return std::ranges::all_of(sources, [](auto& s) { return s->cancelled(); }) ||
               std::ranges::all_of(devices, [](auto& d) { return d->finished(); });
    }
};

// Serves read requests until the compositor withdraws every source, the connection breaks or
// `stop_fd` becomes readable. Nothing here is reported: there is nobody left to report to.
void serve_until_withdrawn(Connection& connection, const Offering& offering, Transfers& transfers,
                           SelectionChecks& checks, int stop_fd) {
    wl_display* d = connection.display();
    std::vector<pollfd> fds;
    for (;;) {
        if (wl_display_dispatch_pending(d) < 0 || offering.withdrawn())
            return;
        if (wl_display_prepare_read(d) != 0)
            continue;
        short events = POLLIN;
        if (wl_display_flush(d) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(d);
                return;
            }
            events |= POLLOUT;
        }
        fds.clear();
        fds.push_back({connection.fd(), events, 0});
        fds.push_back({checks.fd(), POLLIN, 0});
        fds.push_back({stop_fd, POLLIN, 0});
        transfers.append_pollfds(fds);
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            wl_display_cancel_read(d);
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents & POLLIN) {
            wl_display_cancel_read(d);
            return;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (wl_display_read_events(d) < 0)
                return;
        } else {
            wl_display_cancel_read(d);
        }
        transfers.service(fds.data() + 3);
        if (fds[1].revents & POLLIN)
            checks.start(d);
    }
}

// Offers the bytes and serves them until the selection is taken; the transfers that began
// are left in `transfers`.
void offer_until_withdrawn(Address address, Transfers& transfers, std::shared_ptr<Offered> offered,
                           Report& report) {
    auto connection = Connection::open(std::move(address), round_trip_limit);
    if (!connection) {
        report.deliver(std::unexpected(setup_error<copy::Error>(connection.error())));
        return;
    }
    auto globals = bind_globals(*connection, round_trip_limit, report.stop.get());
    if (!globals) {
        report.deliver(std::unexpected(setup_error<copy::Error>(globals.error())));
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
            report.deliver(communication_error(connection->error()));
            return;
        }
        zwlr_data_control_device_v1_set_selection(device->proxy(), source->proxy());
    }
    SelectionChecks checks(std::move(offered), *offering.sources.front());
    // Success means the compositor has processed the selection requests, so a read
    // right after this call sees the new text.
    if (auto done = connection->roundtrip(round_trip_limit, report.stop.get()); !done) {
        report.deliver(communication_error(done.error()));
        return;
    }
    if (!report.deliver({}))
        return;
    serve_until_withdrawn(*connection, offering, transfers, checks, report.stop.get());
}

void offer_and_serve(Address address, std::shared_ptr<const std::string> bytes,
                     std::shared_ptr<Offered> offered, Report& report) {
    ServingEntry entry(report.stop.get());
    // Outlives the offering, whose sources' handlers add to it.
    Transfers transfers(std::move(bytes));
    offer_until_withdrawn(std::move(address), transfers, std::move(offered), report);
    // The compositor connection is closed; a reader part way through still gets the whole
    // text, not a prefix that looks like all of it, unless the process must end first.
    entry.report(transfers.finish(pipe_idle_limit, &ServingEntry::finish_by));
}

void serving_thread(Address address, std::shared_ptr<const std::string> bytes,
                    std::shared_ptr<Offered> offered, std::shared_ptr<Report> report) noexcept {
    pthread_setname_np(pthread_self(), "wlclip-serve");
    // A requester that closes its end early must not end the process through SIGPIPE.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    try {
        offer_and_serve(std::move(address), std::move(bytes), std::move(offered), *report);
    } catch (const std::exception& e) {
        std::lock_guard lock(report->mutex);
        report->crash = e.what();
        report->changed.notify_all();
    } catch (...) {
        std::lock_guard lock(report->mutex);
        report->crash = "unknown failure";
        report->changed.notify_all();
    }
}

} // namespace

Result copy_text(std::string bytes) {
    auto address = resolve_address();
    if (!address)
        return std::unexpected(copy::WaylandConnection{address.error()});

    auto report = std::make_shared<Report>();
    report->stop.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!report->stop)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    auto shared_bytes = std::make_shared<const std::string>(std::move(bytes));
    auto offered = std::make_shared<Offered>(shared_bytes);
    auto* socket_path = std::get_if<std::string>(&*address);
    const std::string compositor = socket_path ? *socket_path : std::string();
    // Detached: the thread owns everything it uses and outlives this call by design.
    std::thread(serving_thread, std::move(*address), std::move(shared_bytes), offered, report)
        .detach();

    std::unique_lock lock(report->mutex);
    bool reported = report->changed.wait_for(lock, copy_report_limit,
                                             [&] { return report->result || report->crash; });
    if (!reported) {
        report->abandoned = true;
        ::eventfd_write(report->stop.get(), 1);
        return communication_error(IoError{ETIMEDOUT});
    }
    if (report->crash)
        throw std::runtime_error("the clipboard serving thread failed: " + *report->crash);
    if (*report->result && !compositor.empty())
        remember_offer(compositor, offered);
    return *report->result;
}

} // namespace wlclip
