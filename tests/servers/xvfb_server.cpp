#include "tests/servers/xvfb_server.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;

// Numbers below this are left to a user's own displays.
constexpr int lowest_number = 20;
constexpr int highest_number = 254;

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool number_is_free(int n) {
    return !exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
           !exists("/tmp/.X" + std::to_string(n) + "-lock");
}

int random_number() {
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>{lowest_number, highest_number}(generator);
}

} // namespace

int unused_display_number() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int n = random_number();
        if (number_is_free(n))
            return n;
    }
    throw std::runtime_error("no unused X display number");
}

XvfbServer::XvfbServer() : XvfbServer(std::nullopt, {}) {}

XvfbServer::XvfbServer(const Account& account) : XvfbServer(account, {}) {}

XvfbServer::XvfbServer(const Cookie& cookie) : XvfbServer(std::nullopt, cookie.hex) {}

XvfbServer::XvfbServer(std::optional<Account> account, std::string cookie)
    : account_(account), cookie_(std::move(cookie)) {
    if (!cookie_.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "xvfb-auth-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            throw std::runtime_error("cannot create the server's authority file");
        ::close(fd);
        authority_file_ = pattern;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        // Another test may take the same free number at the same moment: Xvfb's own lock
        // then makes one of the two fail, and that one tries another number.
        if (start_on(unused_display_number()))
            return;
    }
    throw std::runtime_error("could not start Xvfb");
}

XvfbServer::~XvfbServer() {
    kill();
    if (!authority_file_.empty())
        ::unlink(authority_file_.c_str());
}

void XvfbServer::kill() {
    // Asked first, so that it removes its socket and lock; the runner kills what is left.
    if (xvfb_) {
        xvfb_->signal(SIGTERM);
        xvfb_->wait_exit(5s);
    }
    xvfb_.reset();
}

void XvfbServer::restart() {
    kill();
    const int number = number_;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (start_on(number))
            return;
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("could not restart Xvfb on :" + std::to_string(number));
}

bool XvfbServer::start_on(int number) {
    // -displayfd: Xvfb writes the display number there once it accepts connections.
    // -noreset: otherwise the server resets when its last client leaves, and a client
    // connecting right then is refused.
    WatchOptions options{.discard_stderr = true};
    if (account_)
        options.user = std::pair{account_->uid, account_->gid};
    std::vector<std::string> argv{"Xvfb", ":" + std::to_string(number)};
    argv.insert(argv.end(),
                {"-nolisten", "tcp", "-noreset", "-displayfd", "1", "-screen", "0", "640x480x24"});
    if (!authority_file_.empty()) {
        // The server reads every cookie of its file, whatever display an entry names.
        if (!run({"xauth", "-q", "-f", authority_file_, "add", ":" + std::to_string(number), ".",
                  cookie_})
                 .succeeded())
            throw std::runtime_error("xauth could not write the server's cookie");
        argv.insert(argv.end(), {"-auth", authority_file_});
    }
    auto xvfb = std::make_unique<WatchedProcess>(argv, options);
    // The number arrives when the server is ready; end of file means it gave up.
    const bool up = xvfb->wait_until(
        [&] { return xvfb->out().find('\n') != std::string::npos || xvfb->output_ended(); }, 20s);
    if (!up || xvfb->out().find('\n') == std::string::npos) {
        xvfb->signal(SIGTERM);
        xvfb->wait_exit(5s);
        return false;
    }
    number_ = number;
    xvfb_ = std::move(xvfb);
    return true;
}

} // namespace quillfen::test
