// The lock that keeps one service per user, as users meet it: where it lives, what its file is,
// that no other account can take it first, and that it goes with the supervisor, worker and all.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/e2e/service_log.hpp"
#include "tests/e2e/three_displays.hpp"
#include "tests/servers/isolation.hpp"
#include "tests/servers/peers.hpp"
#include "tests/servers/process_state.hpp"
#include "tests/servers/sway_server.hpp"
#include "tests/servers/temp_dir.hpp"
#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"
#include "tests/servers/xvfb_server.hpp"
#include "util/unix_socket.hpp"

namespace quillfen::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string started_line = " INFO - started quillfen manager\n";

// The runtime directory of this process's user; the isolated test process has one of its own.
std::string own_run_user() {
    return "/run/user/" + std::to_string(::geteuid());
}

// Whether another process holds the lock of the file `path`.
bool lock_held(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    return fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

std::string already_running(uid_t uid) {
    return "quillfen is already running for user " + std::to_string(uid) +
           "; not starting another one\n";
}

std::vector<std::string> service_argv() {
    return {QUILLFEN_BINARY, "--hide-timestamp", "--log-level", "debug"};
}

// The lock file as the service leaves it: a regular file of the user's that only the user can
// open, and empty.
void expect_lock_file(const fs::path& path, uid_t uid) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path << ": " << std::strerror(errno);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    EXPECT_EQ(st.st_size, 0) << path;
    EXPECT_EQ(st.st_uid, uid) << path;
}

// This process's umask while it lives; the programs started meanwhile inherit it.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : before_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(before_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

  private:
    mode_t before_;
};

// A tmpfs over `path` in this process's own mount namespace while it lives.
class TmpfsOver {
  public:
    explicit TmpfsOver(const fs::path& path) : path_(path) {
        if (::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
            throw std::runtime_error("mounting a tmpfs over " + path.string() + ": " +
                                     std::strerror(errno));
    }
    ~TmpfsOver() { ::umount2(path_.c_str(), MNT_DETACH); }
    TmpfsOver(const TmpfsOver&) = delete;
    TmpfsOver& operator=(const TmpfsOver&) = delete;

  private:
    fs::path path_;
};

TEST(ServiceLock, AnotherAccountCannotKeepTheUsersServiceFromStarting) {
    SKIP_UNLESS_ISOLATED();
    const auto user = test_account(compositor_user);
    const auto other = test_account(other_user);
    SwayServer sway;
    const WaylandPeer wayland{sway.runtime_dir(), sway.socket_name()};
    XvfbServer root_display;
    const std::string lock = sway.runtime_dir() + "/quillfen.lock";

    // The other account takes first whatever it can of the names of the user's service.
    WatchOptions as_other;
    as_other.user = std::pair{other.uid, other.gid};
    WatchedProcess squatter(
        [&]() -> int {
            const auto address =
                util::UnixAddress::abstract("quillfen-" + std::to_string(user.uid));
            const int socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const bool bound = socket_fd >= 0 &&
                               ::bind(socket_fd, address->get(), address->length) == 0 &&
                               ::listen(socket_fd, 1) == 0;
            const int lock_fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
            const bool locked = lock_fd >= 0 && ::flock(lock_fd, LOCK_EX | LOCK_NB) == 0;
            const std::string said = std::string(bound ? "bound" : "not bound") + ", " +
                                     (locked ? "locked" : "not locked") + "\n";
            [[maybe_unused]] auto n = ::write(STDOUT_FILENO, said.data(), said.size());
            for (;;)
                ::pause();
        },
        as_other);
    ASSERT_TRUE(squatter.wait_for_out("\n", 20s)) << squatter.err();
    ASSERT_EQ(squatter.out(), "bound, not locked\n");

    WatchOptions options;
    options.user = std::pair{user.uid, user.gid};
    options.environment.push_back("XDG_RUNTIME_DIR=" + sway.runtime_dir());
    WatchedProcess service(service_argv(), options);
    ASSERT_TRUE(service.wait_for_out(" INFO - Using clipboards: ", 30s))
        << service.out() << service.err();
    EXPECT_TRUE(service.out().starts_with(started_line)) << service.out();
    EXPECT_TRUE(lock_held(lock));

    xclip_copy(root_display.display(), "past the other account");
    EXPECT_TRUE(
        service.wait_until([&] { return wl_paste(wayland) == "past the other account"; }, 10s))
        << service.out() << service.err();
    EXPECT_EQ(service.err().find("FATAL"), std::string::npos) << service.err();
}

TEST(ServiceLock, WithoutXdgRuntimeDirASecondServiceIsStillRefused) {
    SKIP_UNLESS_ISOLATED();
    WatchOptions options;
    options.only_environment = true;
    options.environment = {"PATH=/usr/bin:/bin"};
    WatchedProcess first(service_argv(), options);
    ASSERT_TRUE(first.wait_for_out(started_line, 20s)) << first.err();
    EXPECT_TRUE(lock_held(own_run_user() + "/quillfen.lock"));

    const RunResult second = run(service_argv(), options, 20s);
    ASSERT_FALSE(second.timed_out) << second.out << second.err;
    ASSERT_TRUE(second.exit_status) << "signal " << second.signal.value_or(0);
    EXPECT_EQ(second.exit_status, 101);
    EXPECT_EQ(second.err, already_running(::geteuid()));
    EXPECT_EQ(second.out, "");
    EXPECT_FALSE(first.wait_exit(0ms)) << first.err();
}

TEST(ServiceLock, WithoutAnyUsableDirectoryTheServiceSaysWhyAndEndsWith101) {
    SKIP_UNLESS_ISOLATED();
    // An account without a home directory, no runtime directory and no XDG_RUNTIME_DIR.
    const auto other = test_account(other_user);
    const passwd* entry = ::getpwuid(other.uid);
    ASSERT_NE(entry, nullptr);
    const std::string home = entry->pw_dir;
    ASSERT_FALSE(fs::exists(home)) << home;
    WatchOptions options;
    options.user = std::pair{other.uid, other.gid};
    options.only_environment = true;
    options.environment = {"PATH=/usr/bin:/bin"};
    const RunResult result = run(service_argv(), options, 20s);
    ASSERT_FALSE(result.timed_out) << result.out << result.err;
    ASSERT_TRUE(result.exit_status) << "signal " << result.signal.value_or(0);
    EXPECT_EQ(result.exit_status, 101);
    EXPECT_EQ(result.err, "Failed to find a directory for this user's service lock: "
                          "XDG_RUNTIME_DIR is not set; /run/user/" +
                              std::to_string(other.uid) + ": ENOENT; " + home + ": ENOENT\n");
    EXPECT_EQ(result.out, "");
}

// The file is removed neither when the service ends nor when a second one is refused: a service
// started later would otherwise lock a new file beside a running one that holds the old.
TEST(ServiceLock, LockFileIsEmptyOnlyTheUsersAndLeftInPlace) {
    SKIP_UNLESS_ISOLATED();
    const TempDir runtime{"quillfen-lock"};
    const fs::path lock = runtime.path / "quillfen.lock";
    WatchOptions options;
    options.environment.push_back("XDG_RUNTIME_DIR=" + runtime.path.string());
    std::optional<WatchedProcess> first;
    {
        // Without umask bits the file's mode is the service's own choice.
        const ScopedUmask none(0);
        first.emplace(service_argv(), options);
    }
    ASSERT_TRUE(first->wait_for_out(started_line, 20s)) << first->err();
    expect_lock_file(lock, ::geteuid());
    EXPECT_TRUE(lock_held(lock));

    const RunResult second = run(service_argv(), options, 20s);
    ASSERT_FALSE(second.timed_out) << second.out << second.err;
    EXPECT_EQ(second.exit_status, 101);
    EXPECT_EQ(second.err, already_running(::geteuid()));
    expect_lock_file(lock, ::geteuid());
    EXPECT_TRUE(lock_held(lock));

    first->signal(SIGTERM);
    ASSERT_TRUE(first->wait_exit(20s));
    expect_lock_file(lock, ::geteuid());
}

// Without a runtime directory of the user's own (none set, or another account's, and no
// /run/user/<uid>) the lock goes under the home directory, and there too keeps a second service
// from starting.
TEST(ServiceLock, WithoutARuntimeDirectoryOfTheUsersOwnTheLockIsInTheHomeDirectory) {
    SKIP_UNLESS_ISOLATED();
    const auto other = test_account(other_user);
    const passwd* entry = ::getpwuid(other.uid);
    ASSERT_NE(entry, nullptr);
    const fs::path home = entry->pw_dir;
    ASSERT_NE(home.parent_path(), home.root_path()) << home;
    ASSERT_TRUE(fs::is_directory(home.parent_path())) << home;
    ASSERT_FALSE(fs::exists("/run/user/" + std::to_string(other.uid)));
    // The account has no home on the machine; this one lives in the test's mount namespace.
    const TmpfsOver homes(home.parent_path());
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), other.uid, other.gid), 0);
    ASSERT_EQ(::chmod(home.c_str(), 0700), 0);
    const fs::path lock = home / "quillfen.lock";

    struct Case {
        const char* what;
        std::vector<std::string> environment;
        std::string warning; // empty: none
    };
    const Case cases[] = {
        {"XDG_RUNTIME_DIR not set", {}, ""},
        {"XDG_RUNTIME_DIR of another account",
         {"XDG_RUNTIME_DIR=" + own_run_user()},
         " WARN - Not using XDG_RUNTIME_DIR " + own_run_user() +
             " for the service's lock: it is owned by user " + std::to_string(::geteuid()) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WatchOptions options;
        options.user = std::pair{other.uid, other.gid};
        options.only_environment = true;
        options.environment = {"PATH=/usr/bin:/bin"};
        options.environment.insert(options.environment.end(), c.environment.begin(),
                                   c.environment.end());
        {
            WatchedProcess first(service_argv(), options);
            ASSERT_TRUE(first.wait_for_out(started_line, 20s)) << first.err();
            if (c.warning.empty())
                EXPECT_EQ(first.err().find("Not using XDG_RUNTIME_DIR"), std::string::npos)
                    << first.err();
            else
                EXPECT_TRUE(first.err().starts_with(c.warning)) << first.err();
            expect_lock_file(lock, other.uid);
            EXPECT_TRUE(lock_held(lock));

            const RunResult second = run(service_argv(), options, 20s);
            ASSERT_FALSE(second.timed_out) << second.out << second.err;
            EXPECT_EQ(second.exit_status, 101);
            EXPECT_EQ(second.err, c.warning + already_running(other.uid));
            first.signal(SIGTERM);
            ASSERT_TRUE(first.wait_exit(20s));
        }
        expect_lock_file(lock, other.uid);
        fs::remove(lock);
    }
}

struct DirectoryCase {
    const char* name;
    // Makes the candidate inside a private directory; returns its path.
    std::function<fs::path(const fs::path&)> make;
    // Why it is refused; empty: it is used.
    std::string refusal;
};

fs::path made_directory(const fs::path& path, mode_t mode) {
    fs::create_directory(path);
    // chmod, since the umask would take bits away from mkdir's mode.
    ::chmod(path.c_str(), mode);
    return path;
}

TEST(ServiceLock, RuntimeDirectoryOthersCouldWriteToIsNotUsed) {
    SKIP_UNLESS_ISOLATED();
    const auto other = test_account(other_user);
    const std::vector<DirectoryCase> cases{
        {"writable by its group",
         [](const fs::path& base) { return made_directory(base / "group", 0770); },
         "its group or others can write to it"},
        {"writable by others, sticky as /tmp",
         [](const fs::path& base) { return made_directory(base / "shared", 01777); },
         "its group or others can write to it"},
        {"owned by another account",
         [&](const fs::path& base) {
             const fs::path dir = made_directory(base / "theirs", 0700);
             EXPECT_EQ(::chown(dir.c_str(), other.uid, other.gid), 0);
             return dir;
         },
         "it is owned by user " + std::to_string(other.uid)},
        {"a symbolic link to a directory of the user's own",
         [](const fs::path& base) {
             made_directory(base / "target", 0700);
             fs::create_directory_symlink(base / "target", base / "link");
             return base / "link";
         },
         "it is a symbolic link"},
        {"the user's own, only it can write",
         [](const fs::path& base) { return made_directory(base / "own", 0700); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir base{"quillfen-lock"};
        const fs::path dir = c.make(base.path);
        WatchOptions options;
        options.environment.push_back("XDG_RUNTIME_DIR=" + dir.string());
        WatchedProcess service(service_argv(), options);
        ASSERT_TRUE(service.wait_for_out(started_line, 20s)) << service.err();
        const std::string warning =
            " WARN - Not using XDG_RUNTIME_DIR " + dir.string() + " for the service's lock: ";
        if (c.refusal.empty()) {
            EXPECT_TRUE(lock_held(dir / "quillfen.lock"));
            EXPECT_EQ(service.err().find(warning), std::string::npos) << service.err();
            continue;
        }
        EXPECT_TRUE(service.wait_for_err(warning + c.refusal + "\n", 5s)) << service.err();
        EXPECT_EQ(count_of(service.err(), warning), 1u) << service.err();
        EXPECT_TRUE(lock_held(own_run_user() + "/quillfen.lock"));
        for (const auto& entry : fs::recursive_directory_iterator(base.path))
            EXPECT_NE(entry.path().filename(), "quillfen.lock") << entry.path();
    }
}

class ServiceLockOnThreeDisplays : public ThreeDisplays {};

TEST_F(ServiceLockOnThreeDisplays, WorkerEndsWithItsSupervisorAndARestartFindsNoStaleLock) {
    for (const int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        auto service = start_service();
        ASSERT_TRUE(service->wait_for_out(" INFO - Using clipboards: ", 60s))
            << service->out() << service->err();
        const pid_t worker = latest_worker(service->out());
        ASSERT_GT(worker, 0) << service->out();

        // The supervisor alone, not its process group; started again at once.
        service->signal(signal);
        ASSERT_TRUE(service->wait_exit(20s));
        auto restarted = start_service();
        ASSERT_TRUE(restarted->wait_for_out(started_line, 20s))
            << restarted->out() << restarted->err();
        EXPECT_EQ(restarted->err().find("already running"), std::string::npos) << restarted->err();
        EXPECT_TRUE(eventually([&] { return process_ended(worker); }, 30s));
        EXPECT_FALSE(restarted->wait_exit(0ms)) << restarted->err();
    }
}

} // namespace
} // namespace quillfen::test
