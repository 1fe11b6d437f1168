#include "tests/x11clip/slow_link.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "util/unix_socket.hpp"

namespace quillfen::test {

namespace {

std::string socket_name(int number) {
    return "/tmp/.X11-unix/X" + std::to_string(number);
}

bool write_all(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct Pair {
    util::UniqueFd client;
    util::UniqueFd server;
};

int run(int number, int server, std::chrono::milliseconds hold) {
    const auto address = util::UnixAddress::abstract(socket_name(number));
    const auto upstream = util::UnixAddress::abstract(socket_name(server));
    const util::UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener || ::bind(listener.get(), address->get(), address->length) != 0 ||
        ::listen(listener.get(), 16) != 0)
        return 1;
    [[maybe_unused]] auto n = ::write(STDOUT_FILENO, "r", 1);
    std::vector<Pair> pairs;
    for (;;) {
        std::vector<pollfd> fds{{listener.get(), POLLIN, 0}};
        for (const Pair& p : pairs) {
            fds.push_back({p.client.get(), POLLIN, 0});
            fds.push_back({p.server.get(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if ((fds[0].revents & POLLIN) != 0)
            if (util::UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
                client) {
                auto connected = util::connect_unix(*upstream, std::chrono::steady_clock::now() +
                                                                   std::chrono::seconds(2));
                if (connected)
                    pairs.push_back({std::move(client), std::move(*connected)});
            }
        std::vector<bool> closed(pairs.size(), false);
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            Pair& pair = pairs[(i - 1) / 2];
            const bool from_client = (i - 1) % 2 == 0;
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (from_client && got > 0)
                std::this_thread::sleep_for(hold);
            const int to = from_client ? pair.server.get() : pair.client.get();
            if (got <= 0 || !write_all(to, buffer, static_cast<std::size_t>(got)))
                closed[(i - 1) / 2] = true;
        }
        for (std::size_t i = pairs.size(); i-- > 0;)
            if (closed[i])
                pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

} // namespace

SlowLink::SlowLink(int number, int server, std::chrono::milliseconds hold)
    : link_([number, server, hold] { return run(number, server, hold); }, WatchOptions{}) {
    if (!link_.wait_for_out("r", std::chrono::seconds(20)))
        throw std::runtime_error("the slow link did not start");
}

} // namespace quillfen::test
