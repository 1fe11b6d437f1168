#include "tests/x11clip/stalling_x_server.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/unix_socket.hpp"

namespace quillfen::test {

namespace {

// Little-endian, as the client announces with 'l'; this fixture speaks no other order.
void put16(std::string& out, std::size_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}
std::size_t get16(const std::string& in, std::size_t at) {
    return static_cast<unsigned char>(in[at]) | (static_cast<unsigned char>(in[at + 1]) << 8);
}
std::size_t padded(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// One screen of 640x480 at depth 24 with one TrueColor visual.
std::string setup_reply() {
    const std::string vendor = "quillfen test";
    std::string body;
    put32(body, 1);          // release
    put32(body, 0x00200000); // resource-id base
    put32(body, 0x001fffff); // resource-id mask
    put32(body, 0);          // motion buffer size
    put16(body, vendor.size());
    put16(body, 0xffff); // maximum request length
    body += '\1';        // screens
    body += '\1';        // pixmap formats
    body += std::string{0, 0, 32, 32, 8, '\xff', 0, 0, 0, 0};
    body += vendor;
    body.resize(padded(body.size()), '\0');
    body += std::string{24, 32, 32, 0, 0, 0, 0, 0}; // depth 24, 32 bits per pixel
    put32(body, 0x100);                             // root
    put32(body, 0x20);                              // default colormap
    put32(body, 0xffffff);                          // white
    put32(body, 0);                                 // black
    put32(body, 0);                                 // current input masks
    for (std::size_t v : {640, 480, 170, 130, 1, 1})
        put16(body, v);
    put32(body, 0x21); // root visual
    body += std::string{0, 0, 24, 1};
    body += std::string{24, 0};
    put16(body, 1); // visuals
    put32(body, 0);
    put32(body, 0x21);
    body += std::string{4, 8}; // TrueColor, 8 bits per value
    put16(body, 256);
    for (std::uint32_t mask : {0xff0000u, 0xff00u, 0xffu, 0u})
        put32(body, mask);

    std::string reply{1, 0};
    put16(reply, 11);
    put16(reply, 0);
    put16(reply, body.size() / 4);
    return reply + body;
}

// A reply of 32 bytes whose first value is `value`.
std::string reply_to(std::uint16_t sequence, std::uint32_t value) {
    std::string reply{1, 0};
    put16(reply, sequence);
    put32(reply, 0);
    put32(reply, value);
    reply.resize(32, '\0');
    return reply;
}

struct Client {
    int fd;
    bool set_up = false;
    std::uint16_t sequence = 0;
    std::string in;
};

// Takes what is complete in `client.in`: the set-up request, then requests. False once the
// request to stall at has come.
bool serve(Client& client, std::uint8_t stall_at) {
    std::string out;
    for (;;) {
        if (!client.set_up) {
            if (client.in.size() < 12)
                break;
            const std::size_t size = 12 + padded(get16(client.in, 6)) + padded(get16(client.in, 8));
            if (client.in.size() < size)
                break;
            client.in.erase(0, size);
            client.set_up = true;
            out += setup_reply();
            continue;
        }
        if (client.in.size() < 4)
            break;
        const std::size_t size = get16(client.in, 2) * 4;
        if (size == 0 || client.in.size() < size)
            break;
        const auto opcode = static_cast<std::uint8_t>(client.in[0]);
        client.in.erase(0, size);
        ++client.sequence;
        if (opcode == stall_at) {
            [[maybe_unused]] auto n = ::write(client.fd, out.data(), out.size());
            return false;
        }
        if (opcode == StallingXServer::intern_atom)
            out += reply_to(client.sequence, 0x200 + client.sequence);
        else if (opcode == StallingXServer::get_input_focus ||
                 opcode == StallingXServer::query_extension)
            out += reply_to(client.sequence, 0); // no focus; no such extension
    }
    [[maybe_unused]] auto n = ::write(client.fd, out.data(), out.size());
    return true;
}

int run(int number, std::uint8_t stall_at) {
    const auto address = util::UnixAddress::abstract("/tmp/.X11-unix/X" + std::to_string(number));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (listener < 0 || ::bind(listener, address->get(), address->length) != 0 ||
        ::listen(listener, 16) != 0)
        return 1;
    [[maybe_unused]] auto n = ::write(STDOUT_FILENO, "r", 1);
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if ((fds[0].revents & POLLIN) != 0)
            if (const int fd = ::accept(listener, nullptr, nullptr); fd >= 0)
                clients.push_back(Client{.fd = fd, .set_up = false, .sequence = 0, .in = {}});
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            Client& client = clients[i - 1];
            char buffer[4096];
            const ssize_t got = ::read(client.fd, buffer, sizeof buffer);
            if (got <= 0) {
                ::close(client.fd);
                client.fd = -1;
                continue;
            }
            client.in.append(buffer, static_cast<std::size_t>(got));
            if (!serve(client, stall_at)) {
                n = ::write(STDOUT_FILENO, "s", 1);
                for (;;) // silent, every connection still open
                    ::pause();
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
}

} // namespace

StallingXServer::StallingXServer(int number, std::uint8_t stall_at)
    : server_([number, stall_at] { return run(number, stall_at); }, WatchOptions{}) {
    if (!server_.wait_for_out("r", std::chrono::seconds(20)))
        throw std::runtime_error("the stalling X server did not start");
}

bool StallingXServer::stalled(std::chrono::milliseconds limit) {
    return server_.wait_for_out("s", limit);
}

} // namespace quillfen::test
