#include "wlclip/offered.hpp"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <system_error>

#include <sys/eventfd.h>

#include "wlclip/connection.hpp"
#include "wlclip/wlclip.hpp"

namespace wlclip {

Offered::Offered(std::shared_ptr<const std::string> bytes)
    : bytes_(std::move(bytes)), asked_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!asked_fd_)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

std::shared_ptr<const std::string> Offered::confirmed(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (ended_)
        return nullptr;
    const std::uint64_t question = ++asked_;
    ::eventfd_write(asked_fd_.get(), 1);
    changed_.wait_for(lock, limit, [&] { return answered_ >= question || ended_; });
    // A later round trip than ours answers for ours too.
    if (answered_ >= question && selection_)
        return bytes_;
    return nullptr;
}

const wl_callback_listener SelectionChecks::listener = {.done = &SelectionChecks::on_done};

SelectionChecks::SelectionChecks(std::shared_ptr<Offered> offered, const Source& source)
    : offered_(std::move(offered)), source_(source) {}

SelectionChecks::~SelectionChecks() {
    pending_.clear();
    std::lock_guard lock(offered_->mutex_);
    offered_->ended_ = true;
    offered_->changed_.notify_all();
}

void SelectionChecks::start(wl_display* display) {
    eventfd_t count = 0;
    ::eventfd_read(offered_->asked_fd_.get(), &count);
    std::uint64_t question = 0;
    {
        std::lock_guard lock(offered_->mutex_);
        question = offered_->asked_;
    }
    auto& pending = pending_.emplace_back(Pending{this, question, Owned<wl_callback>()});
    pending.callback.reset(wl_display_sync(display));
    if (!pending.callback) {
        pending_.pop_back(); // the connection broke; the serving loop ends on it
        return;
    }
    wl_callback_add_listener(pending.callback.get(), &listener, &pending);
}

void SelectionChecks::on_done(void* data, wl_callback*, std::uint32_t) {
    auto* pending = static_cast<Pending*>(data);
    SelectionChecks& self = *pending->self;
    {
        std::lock_guard lock(self.offered_->mutex_);
        if (pending->question > self.offered_->answered_) {
            self.offered_->answered_ = pending->question;
            self.offered_->selection_ = !self.source_.cancelled();
        }
        self.offered_->changed_.notify_all();
    }
    self.pending_.remove_if([&](const Pending& p) { return &p == pending; });
}

namespace {

std::mutex offers_mutex;
// By socket path; an offer whose serving thread has ended is gone.
std::map<std::string, std::weak_ptr<Offered>> offers;

} // namespace

void remember_offer(const std::string& socket_path, const std::shared_ptr<Offered>& offered) {
    std::lock_guard lock(offers_mutex);
    std::erase_if(offers, [](const auto& entry) { return entry.second.expired(); });
    offers[socket_path] = offered;
}

std::shared_ptr<const std::string> own_selection() {
    // An inherited socket names no compositor we could have offered on before.
    if (std::getenv("WAYLAND_SOCKET"))
        return nullptr;
    auto address = resolve_address();
    if (!address)
        return nullptr;
    std::shared_ptr<Offered> offered;
    {
        std::lock_guard lock(offers_mutex);
        auto it = offers.find(std::get<std::string>(*address));
        if (it == offers.end())
            return nullptr;
        offered = it->second.lock();
    }
    return offered ? offered->confirmed(round_trip_limit) : nullptr;
}

} // namespace wlclip
