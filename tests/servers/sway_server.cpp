#include "tests/servers/sway_server.hpp"

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/servers/watched_process.hpp"
#include "util/unix_socket.hpp"

namespace quillfen::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string make_runtime_dir(const Account& user) {
    std::string pattern = (fs::temp_directory_path() / "quillfen-wayland.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    if (::chown(pattern.c_str(), user.uid, user.gid) < 0 || ::chmod(pattern.c_str(), 0700) < 0)
        throw std::runtime_error("cannot hand " + pattern + " to the compositor's user");
    return pattern;
}

// True once the compositor's event loop runs: it answers a wl_display.sync. A socket that
// merely accepts is not enough, since a compositor still setting up loses a SIGTERM.
bool answers(const std::string& path) {
    const auto address = util::UnixAddress::path(path);
    if (!address)
        return false;
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    bool ok = false;
    if (::connect(fd.get(), address->get(), address->length) == 0) {
        // wl_display (object 1), request 0 (sync), 12 bytes, new callback object 2.
        const std::uint32_t sync[3] = {1, 12u << 16, 2};
        pollfd p{fd.get(), POLLIN, 0};
        char reply[64];
        ok = ::write(fd.get(), sync, sizeof sync) == sizeof sync && ::poll(&p, 1, 1000) == 1 &&
             ::read(fd.get(), reply, sizeof reply) >= 12;
    }
    return ok;
}

std::string find_socket(const std::string& dir) {
    static const std::regex name("wayland-[0-9]+");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string file = entry.path().filename().string();
        if (std::regex_match(file, name) && entry.is_socket(ec))
            return file;
    }
    return {};
}

std::string tail_of(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

} // namespace

HeadlessCompositor::HeadlessCompositor(const Account& user, std::vector<std::string> argv,
                                       std::vector<std::string> env, std::string socket_name,
                                       const std::string& config)
    : user_(user), socket_name_(std::move(socket_name)) {
    runtime_dir_ = make_runtime_dir(user);
    env.push_back("XDG_RUNTIME_DIR=" + runtime_dir_);
    env.push_back("HOME=" + runtime_dir_);
    env.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    for (auto& arg : argv) {
        if (arg == "@CONFIG@") {
            arg = runtime_dir_ + "/config";
            std::ofstream(arg) << config; // no bar, no outputs set
            if (::chown(arg.c_str(), user.uid, user.gid) < 0) {
                fs::remove_all(runtime_dir_);
                throw std::runtime_error("cannot hand the configuration to the user");
            }
        }
    }
    argv_ = std::move(argv);
    env_ = std::move(env);
    launch();
}

void HeadlessCompositor::launch() {
    const std::string log = runtime_dir_ + ".log"; // outside the directory the compositor owns
    const std::vector<std::string>& argv = argv_;
    compositor_ = std::make_unique<WatchedProcess>(
        argv, WatchOptions{.stdout_mode = WatchOptions::Stdout::discarded,
                           .environment = env_,
                           .user = std::pair{user_.uid, user_.gid},
                           .input = "",
                           .discard_stderr = true,
                           .only_environment = true,
                           .directory = runtime_dir_,
                           .log_file = log,
                           // A test that dies takes its compositor along.
                           .death_signal = SIGTERM});

    auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        std::string name = socket_name_.empty() ? find_socket(runtime_dir_) : socket_name_;
        if (!name.empty() && answers(runtime_dir_ + "/" + name)) {
            socket_name_ = name;
            break;
        }
        const bool exited = compositor_->wait_exit(0ms).has_value();
        if (exited || std::chrono::steady_clock::now() >= deadline) {
            std::string why =
                argv[0] + (exited ? " exited early" : " did not come up") + ":\n" + log_tail();
            stop();
            throw std::runtime_error(why);
        }
        std::this_thread::sleep_for(10ms);
    }
}

HeadlessCompositor::~HeadlessCompositor() {
    stop();
}

void HeadlessCompositor::restart(int signal, std::chrono::milliseconds gap) {
    ::kill(-compositor_->pid(), signal);
    compositor_->wait_exit(5000ms);
    compositor_.reset();
    std::this_thread::sleep_for(gap);
    launch();
}

std::string HeadlessCompositor::log_tail() const {
    return tail_of(runtime_dir_ + ".log");
}

bool HeadlessCompositor::running() {
    return compositor_ && !compositor_->wait_exit(0ms).has_value();
}

void HeadlessCompositor::stop() noexcept {
    if (compositor_) {
        ::kill(-compositor_->pid(), SIGTERM); // the whole group: weston starts a helper client
        compositor_->wait_exit(5000ms);
        compositor_.reset(); // kills what is left
    }
    std::error_code ec;
    if (!runtime_dir_.empty()) {
        fs::remove_all(runtime_dir_, ec);
        fs::remove(runtime_dir_ + ".log", ec);
    }
}

std::string HeadlessCompositor::await_line(const std::string& name, const std::string& what) {
    const std::string file = runtime_dir_ + "/" + name;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        std::string line;
        std::ifstream in(file);
        std::getline(in, line);
        if (!line.empty())
            return line;
        if (!running() || std::chrono::steady_clock::now() >= deadline) {
            std::string why = argv_[0] + " did not write " + what + ":\n" + log_tail();
            stop();
            throw std::runtime_error(why);
        }
        std::this_thread::sleep_for(10ms);
    }
}

namespace {

// A configuration line that runs `command` in a child of sway and leaves what it prints in the
// file `name` of the runtime directory, whole once the file is there.
std::string exec_writing(const std::string& command, const std::string& name) {
    return "exec sh -c '" + command + " > \"$XDG_RUNTIME_DIR/" + name +
           ".new\" && mv \"$XDG_RUNTIME_DIR/" + name + ".new\" \"$XDG_RUNTIME_DIR/" + name +
           "\"'\n";
}

std::string sway_config(const SwayServer::Options& options) {
    std::string config;
    if (options.xwayland == SwayServer::Xwayland::disabled)
        config += "xwayland disable\n";
    else // sway hands its children the X display's name in DISPLAY
        config += "xwayland enable\n" + exec_writing("echo \"$DISPLAY\"", "x-display");
    // A `seat` line of the configuration makes no seat in a headless sway; the same command sent
    // over its IPC does (its children reach that through SWAYSOCK).
    if (options.second_seat)
        config += exec_writing("swaymsg -q seat seat1 fallback false && echo seat1", "seat1");
    return config;
}

} // namespace

SwayServer::SwayServer(Xwayland xwayland) : SwayServer(Options{.xwayland = xwayland}) {}

SwayServer::SwayServer(const Options& options)
    : HeadlessCompositor(
          options.user ? *options.user : test_account(compositor_user),
          {"/usr/bin/sway", "-c", "@CONFIG@"},
          {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"}, "",
          sway_config(options)) {
    if (options.second_seat)
        await_line("seat1", "the name of its second seat");
    if (options.xwayland == Xwayland::disabled)
        return;
    x_display_ = await_line("x-display", "the name of its Xwayland display");
    if (!std::regex_match(x_display_, std::regex(":[0-9]+"))) {
        std::string why = "sway named the Xwayland display \"" + x_display_ + "\"";
        stop();
        throw std::runtime_error(why);
    }
}

WestonServer::WestonServer()
    : HeadlessCompositor(test_account(compositor_user),
                         {"/usr/bin/weston", "--backend=headless-backend.so", "--socket=wayland-1",
                          "--idle-time=0"},
                         {}, "wayland-1") {}

} // namespace quillfen::test
