#include "wlclip/offered.hpp"

#include <sys/eventfd.h>

#include <cerrno>
#include <system_error>

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

SelectionChecks::SelectionChecks(Offered& offered, const Source& source)
    : offered_(offered), source_(source) {}

SelectionChecks::~SelectionChecks() {
    pending_.clear();
    std::lock_guard lock(offered_.mutex_);
    offered_.ended_ = true;
    offered_.changed_.notify_all();
}

void SelectionChecks::start(wl_display* display) {
    eventfd_t count = 0;
    ::eventfd_read(offered_.asked_fd_.get(), &count);
    std::uint64_t question = 0;
    {
        std::lock_guard lock(offered_.mutex_);
        question = offered_.asked_;
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
        std::lock_guard lock(self.offered_.mutex_);
        if (pending->question > self.offered_.answered_) {
            self.offered_.answered_ = pending->question;
            self.offered_.selection_ = !self.source_.cancelled();
        }
        self.offered_.changed_.notify_all();
    }
    self.pending_.remove_if([&](const Pending& p) { return &p == pending; });
}

} // namespace wlclip
