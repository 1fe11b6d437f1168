// Runs the real supervisor with short test workers. Each worker takes the next action of the
// script given on the command line (the position is kept in a file, since every worker is a fresh
// copy of the supervisor); once the script is used up, workers run until they are ended.
//
//   supervisor_host [--pid-namespace] [--ignore-sigchld] [--block-signals] [--deny-fork]
//                   [--deny-threads] [--deny-wait] [--deny-pidfd] [--hold-sigterm-in-workers]
//                   TIMER_SECONDS LEVEL STATE_FILE ACTION...
//
// Actions: abort (a fatal condition), exit:N, signal:N, sleep:MS (then exit 0), run (log, then
// wait to be ended), log (a warn and an info line, then exit 0), reuse-pid (make the next process
// of this pid namespace get this worker's id, then exit 0), stubborn (say so on standard error at
// each SIGTERM and keep running).
//
// --ignore-sigchld and --block-signals start the supervisor as some launchers do: SIGCHLD ignored,
// every signal blocked. --deny-wait makes the supervisor's wait for its worker fail with ECHILD.
// --deny-pidfd makes pidfd_open fail with EMFILE, as when no descriptor is left.
// --hold-sigterm-in-workers starts each new worker with SIGTERM blocked, which lets a stubborn
// worker see a SIGTERM sent before it was ready.

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fatal.hpp"
#include "log.hpp"
#include "supervisor.hpp"

namespace {

std::string state_file;
std::vector<std::string> script;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "supervisor_host: %s: %s\n", what, std::strerror(errno));
    _exit(3);
}

int next_worker_number() {
    const int fd = open(state_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        die("state file");
    char text[32] = {};
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    const int number = got > 0 ? std::atoi(text) + 1 : 1;
    const std::string next = std::to_string(number);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, next.data(), next.size(), 0) < 0)
        die("state file");
    close(fd);
    return number;
}

[[noreturn]] void wait_to_be_ended() {
    for (;;)
        pause();
}

void say_stubborn(int) {
    constexpr char line[] = "worker ignores SIGTERM\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, line, sizeof line - 1);
}

void test_worker() {
    const int number = next_worker_number();
    const std::string action =
        static_cast<std::size_t>(number) <= script.size() ? script[number - 1] : "run";
    const std::string_view argument = action.find(':') == std::string::npos
                                          ? ""
                                          : std::string_view(action).substr(action.find(':') + 1);

    if (action == "abort") {
        quillfen::fatal("test worker gave up");
    } else if (action.starts_with("exit:")) {
        _exit(std::atoi(argument.data()));
    } else if (action.starts_with("signal:")) {
        // No core file, so that the status says no core was dumped.
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        prctl(PR_SET_DUMPABLE, 0);
        // By the signal's default action, even where a sanitizer runtime handles it.
        const int signal_number = std::atoi(argument.data());
        std::signal(signal_number, SIG_DFL);
        kill(getpid(), signal_number);
        wait_to_be_ended();
    } else if (action.starts_with("sleep:")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument.data())));
        _exit(0);
    } else if (action == "log") {
        QF_WARN("worker {} warns", number);
        QF_INFO("worker {} logged", number);
        _exit(0);
    } else if (action == "reuse-pid") {
        // Only once the supervisor has started this worker's timer thread, which takes an id too.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int fd = open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
        const std::string last = std::to_string(getpid() - 1);
        if (fd < 0 || write(fd, last.data(), last.size()) < 0)
            die("ns_last_pid");
        close(fd);
        _exit(0);
    } else if (action == "stubborn") {
        struct sigaction handler {};
        handler.sa_handler = say_stubborn;
        sigaction(SIGTERM, &handler, nullptr);
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        sigprocmask(SIG_UNBLOCK, &term, nullptr);
        wait_to_be_ended();
    } else if (action == "run") {
        QF_INFO("worker {} runs", number);
        wait_to_be_ended();
    }
    std::fprintf(stderr, "supervisor_host: unknown action %s\n", action.c_str());
    _exit(4);
}

// Around each fork of the supervisor: the child starts with SIGTERM blocked, the parent gets its
// mask back.
sigset_t mask_before_fork;

void hold_sigterm_before_fork() {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &mask_before_fork);
}

void restore_mask_after_fork() {
    pthread_sigmask(SIG_SETMASK, &mask_before_fork, nullptr);
}

// Installs a filter of x86-64 system calls: `rules` begin with the call's number loaded, and any
// other architecture's call is allowed.
void install(std::initializer_list<sock_filter> rules) {
    std::vector<sock_filter> filter{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    filter.insert(filter.end(), rules);
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        die("seccomp");
}

// Makes process creation (clone without CLONE_THREAD) or thread creation fail with EAGAIN.
// clone3 is refused as unknown, so that the C library falls back to clone, which can be judged
// by its flags.
void deny_clone(bool threads) {
    constexpr auto args0 = static_cast<std::uint32_t>(offsetof(seccomp_data, args[0]));
    const std::uint8_t deny = 0; // jump offsets: the next statement denies, the one after allows
    const std::uint8_t allow = 1;
    install({
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, args0),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, threads ? deny : allow,
                 threads ? allow : deny),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    });
}

// Makes every wait that collects an end fail with ECHILD: wait4 (waitpid) and waitid without
// WNOWAIT, as the supervisor's wait on its pidfd is. The looks that leave the end in place (the
// timers', the ending's) still work.
void deny_wait() {
    constexpr auto options = static_cast<std::uint32_t>(offsetof(seccomp_data, args[3]));
    install({
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_wait4, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_waitid, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, options),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, WNOWAIT, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ECHILD),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    });
}

// Makes pidfd_open fail with EMFILE.
void deny_pidfd() {
    install({
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EMFILE),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    });
}

// Runs the rest of the program as process 1 of a new pid namespace, so that process ids are
// predictable and can be reused on purpose; this process only mirrors how that one ends.
void enter_pid_namespace() {
    if (unshare(CLONE_NEWPID) != 0)
        die("unshare");
    const pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    bool pid_namespace = false, ignore_sigchld = false, block_signals = false, deny_fork = false,
         deny_threads = false, deny_wait_for_worker = false, deny_pidfd_open = false,
         hold_sigterm_in_workers = false;
    while (!args.empty() && args.front().starts_with("--")) {
        const std::string_view option = args.front();
        args.erase(args.begin());
        pid_namespace |= option == "--pid-namespace";
        ignore_sigchld |= option == "--ignore-sigchld";
        block_signals |= option == "--block-signals";
        deny_fork |= option == "--deny-fork";
        deny_threads |= option == "--deny-threads";
        deny_wait_for_worker |= option == "--deny-wait";
        deny_pidfd_open |= option == "--deny-pidfd";
        hold_sigterm_in_workers |= option == "--hold-sigterm-in-workers";
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: supervisor_host [options] TIMER LEVEL STATE_FILE ACTION...\n");
        return 2;
    }
    const unsigned timer = static_cast<unsigned>(std::atoi(std::string(args[0]).c_str()));
    const auto level = quillfen::parse_level(args[1]);
    if (!level) {
        std::fprintf(stderr, "supervisor_host: unknown level\n");
        return 2;
    }
    state_file = args[2];
    script.assign(args.begin() + 3, args.end());

    quillfen::log::level::set(*level);
    quillfen::log::timestamp::set(false);
    quillfen::log::log_sensitive_information::set(false);

    if (pid_namespace)
        enter_pid_namespace();
    if (ignore_sigchld)
        std::signal(SIGCHLD, SIG_IGN);
    if (block_signals) {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, nullptr);
    }
    if (hold_sigterm_in_workers)
        pthread_atfork(hold_sigterm_before_fork, restore_mask_after_fork, nullptr);
    if (deny_fork || deny_threads)
        deny_clone(deny_threads);
    if (deny_wait_for_worker)
        deny_wait();
    if (deny_pidfd_open)
        deny_pidfd();
    quillfen::supervise(test_worker, timer);
}
