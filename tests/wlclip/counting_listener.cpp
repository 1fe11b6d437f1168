#include "tests/wlclip/counting_listener.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tests/servers/child_process.hpp"
#include "util/unix_socket.hpp"

namespace quillfen::test {

namespace {

namespace fs = std::filesystem;

// A directory that `account` owns and everyone may pass through.
std::string directory_of(const Account& account) {
    std::string pattern = (fs::temp_directory_path() / "wlclip-listener.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    if (::chown(pattern.c_str(), account.uid, account.gid) != 0 ||
        ::chmod(pattern.c_str(), 0755) != 0) {
        fs::remove_all(pattern);
        throw std::runtime_error("cannot hand " + pattern + " to the listener's account");
    }
    return pattern;
}

// In the child, as the listener's account: one line "listening", then one line for each
// connection that ends, the number of bytes it sent.
int listen_and_count(const std::string& path) {
    const auto address = util::UnixAddress::path(path);
    const UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!address || !listener || ::bind(listener.get(), address->get(), address->length) != 0 ||
        ::chmod(path.c_str(), 0777) != 0 || ::listen(listener.get(), 16) != 0)
        return 1;
    note("listening");
    struct Client {
        UniqueFd fd;
        std::size_t sent = 0;
    };
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign(1, {listener.get(), POLLIN, 0});
        for (const Client& client : clients)
            fds.push_back({client.fd.get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        for (std::size_t i = clients.size(); i > 0; --i) {
            if (!fds[i].revents)
                continue;
            char bytes[4096];
            const ssize_t n = ::read(clients[i - 1].fd.get(), bytes, sizeof bytes);
            if (n > 0) {
                clients[i - 1].sent += static_cast<std::size_t>(n);
                continue;
            }
            note(std::to_string(clients[i - 1].sent));
            clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i - 1));
        }
        if (fds[0].revents & POLLIN)
            if (UniqueFd fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)); fd)
                clients.push_back({std::move(fd)});
    }
}

WatchOptions as(const Account& account) {
    WatchOptions options;
    options.user = std::pair{account.uid, account.gid};
    return options;
}

} // namespace

CountingListener::CountingListener(const Account& account)
    : dir_(directory_of(account)), path_(dir_ + "/wayland-0"),
      listener_([path = path_] { return listen_and_count(path); }, as(account)) {
    if (!listener_.wait_for_out("listening\n", std::chrono::seconds(20))) {
        fs::remove_all(dir_);
        throw std::runtime_error("the counting listener did not start: " + listener_.err());
    }
}

CountingListener::~CountingListener() {
    listener_.kill_group();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::vector<std::size_t> CountingListener::ended_connections(std::size_t count,
                                                             std::chrono::milliseconds limit) {
    // The first line is "listening".
    const auto lines = [&] { return count_of(listener_.out(), "\n"); };
    if (!listener_.wait_until([&] { return lines() >= count + 1; }, limit))
        throw std::runtime_error(std::to_string(lines() - 1) + " connections ended, not " +
                                 std::to_string(count));
    std::istringstream in(listener_.out());
    std::string line;
    std::getline(in, line);
    std::vector<std::size_t> sent;
    while (sent.size() < count && std::getline(in, line))
        sent.push_back(std::stoul(line));
    return sent;
}

} // namespace quillfen::test
