#include "log.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "fatal.hpp"
#include "util/errno_text.hpp"
#include "util/fd_io.hpp"
#include "util/unique_fd.hpp"
#include "util/utf8.hpp"

namespace quillfen {

std::string_view level_name(Level level) {
    const auto index = static_cast<std::size_t>(level);
    return index < level_names.size() ? level_names[index] : "unknown";
}

std::optional<Level> parse_level(std::string_view name) {
    for (std::size_t i = 0; i < level_names.size(); ++i)
        if (level_names[i] == name)
            return static_cast<Level>(i);
    return std::nullopt;
}

namespace log {

namespace {

// One process-wide setting: a value behind its own mutex, which is held only
// while the value is copied in or out.
template <class T>
class Setting {
  public:
    explicit Setting(T initial) : value_(initial) {}
    void set(T value) {
        std::lock_guard lock(mutex);
        value_ = value;
    }
    T get() {
        std::lock_guard lock(mutex);
        return value_;
    }
    std::mutex mutex;

  private:
    T value_;
};

} // namespace

namespace level {
namespace {
Setting<Level> INNER{Level::info};
} // namespace
void set(Level v) {
    INNER.set(v);
}
Level get() {
    return INNER.get();
}
} // namespace level

namespace timestamp {
namespace {
Setting<bool> INNER{true};
} // namespace
void set(bool v) {
    INNER.set(v);
}
bool get() {
    return INNER.get();
}
} // namespace timestamp

namespace log_sensitive_information {
namespace {
Setting<bool> INNER{false};
} // namespace
void set(bool v) {
    INNER.set(v);
}
bool get() {
    return INNER.get();
}
} // namespace log_sensitive_information

namespace {

// localtime_r takes the C library's time-zone lock; serialising it behind our
// own lock lets fork wait until no thread is inside it.
std::mutex clock_lock;

// A stream lock can be held for long (a writer blocked on a full pipe), so fork
// does not wait for it: the child gets fresh, free locks instead.
struct Stream {
    int fd;
    std::string_view name;
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
};
Stream standard_output{STDOUT_FILENO, "stdout"};
Stream standard_error{STDERR_FILENO, "stderr"};

class StreamGuard {
  public:
    explicit StreamGuard(Stream& s) : s_(s) { pthread_mutex_lock(&s_.lock); }
    ~StreamGuard() { pthread_mutex_unlock(&s_.lock); }
    StreamGuard(const StreamGuard&) = delete;
    StreamGuard& operator=(const StreamGuard&) = delete;

  private:
    Stream& s_;
};

// Writes all of `text`; returns 0, or the error number of a failed write.
// A descriptor that is not open drops the text silently.
int write_all(int fd, std::string_view text) {
    const auto written = util::write_all(fd, text);
    if (written || written.error() == EBADF)
        return 0;
    return written.error();
}

void write_line(Stream& stream, std::string_view line) {
    int failure;
    {
        StreamGuard guard(stream);
        failure = write_all(stream.fd, line);
    }
    if (failure != 0)
        fatal(fmt::format("failed printing to {}: {}", stream.name, util::os_error_text(failure)));
}

void append_local_time(std::string& line) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        std::lock_guard lock(clock_lock);
        localtime_r(&now, &local);
    }
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    line.append(text, length);
}

std::string_view tag(Level line_level) {
    switch (line_level) {
    case Level::fatal:
        return "FATAL";
    case Level::error:
        return "ERROR";
    case Level::warn:
        return " WARN";
    case Level::info:
        return " INFO";
    default:
        return "DEBUG";
    }
}

// Locks that are held only for a moment are taken before fork, so none is
// mid-use in the child; the stream locks are replaced in the child instead.
void before_fork() {
    level::INNER.mutex.lock();
    timestamp::INNER.mutex.lock();
    log_sensitive_information::INNER.mutex.lock();
    clock_lock.lock();
}

void after_fork_in_parent() {
    clock_lock.unlock();
    log_sensitive_information::INNER.mutex.unlock();
    timestamp::INNER.mutex.unlock();
    level::INNER.mutex.unlock();
}

void after_fork_in_child() {
    after_fork_in_parent();
    // The thread that held a stream lock does not exist here.
    standard_output.lock = PTHREAD_MUTEX_INITIALIZER;
    standard_error.lock = PTHREAD_MUTEX_INITIALIZER;
}

// Before main: a reader that went away must show as a failed write (a fatal
// condition with its message), not end the process by a signal.
__attribute__((constructor)) void prepare_process() {
    detail::fill_closed_standard_descriptors();
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
}

} // namespace

namespace detail {

void fill_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Lower descriptors are open by now, so this lands on `fd`; one that lands elsewhere
        // is closed again.
        util::UniqueFd opened(open("/dev/null", O_RDWR));
        if (opened.get() == fd)
            opened.release();
    }
}

bool admits(Level line_level) {
    const Level setting = level::get();
    return line_level == Level::fatal || setting >= line_level;
}

void print(Level line_level, std::string_view message) {
    std::string line;
    line.reserve(message.size() + 32);
    if (timestamp::get()) {
        append_local_time(line);
        line += " - ";
    }
    line += tag(line_level);
    line += " - ";
    line += message;
    line += '\n';
    write_line(line_level >= Level::info ? standard_output : standard_error, line);
}

void print_contents(std::string_view message) {
    std::string line = "Sensitive: ";
    line.reserve(line.size() + message.size());
    const auto spell = [&line](char kind, unsigned value) {
        line += fmt::format("\\{}{{{:x}}}", kind, value);
    };
    for (std::size_t pos = 0; pos < message.size();) {
        const util::Utf8Sequence sequence = util::decode_utf8(message, pos);
        if (!sequence.valid) {
            for (std::size_t i = 0; i < sequence.length; ++i)
                spell('x', static_cast<unsigned char>(message[pos + i]));
            pos += sequence.length;
            continue;
        }
        const char32_t code = sequence.code;
        if (code == U'\n')
            line += "\\n";
        else if (code == U'\r')
            line += "\\r";
        else if (code == U'\t')
            line += "\\t";
        else if (code == U'\\')
            line += "\\\\";
        else if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            spell('u', static_cast<unsigned>(code));
        else
            line.append(message.substr(pos, sequence.length));
        pos += sequence.length;
    }
    print(Level::info, line);
}

void write_stderr_best_effort(std::string_view text) {
    StreamGuard guard(standard_error);
    write_all(standard_error.fd, text);
}

} // namespace detail

} // namespace log

std::string concise_numbers(std::span<const std::uint8_t> numbers) {
    if (numbers.empty())
        return "[]";
    // Tokens: numbers and the run marker ".."; a run of three or more keeps
    // only its first number, the marker and its last number.
    constexpr std::string_view marker = "..";
    std::vector<std::string> tokens;
    unsigned run = 1;
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        const auto current = numbers[i];
        const auto next = numbers[i + 1];
        run = next == static_cast<std::uint8_t>(current + 1) ? run + 1 : 1;
        if (run < 3)
            tokens.push_back(std::to_string(current));
        else if (run == 3)
            tokens.emplace_back(marker);
    }
    tokens.push_back(std::to_string(numbers.back()));
    std::string out = "[";
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        out += tokens[i];
        const bool last = i + 1 == tokens.size();
        if (!last && tokens[i] != marker && tokens[i + 1] != marker)
            out += ", ";
    }
    out += "]";
    return out;
}

} // namespace quillfen
