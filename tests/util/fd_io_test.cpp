// Whole-buffer reads and writes: a signal that interrupts the call, a transfer cut short and the
// end of the data, on pipes for the blocking calls and on a memory file for the ones at an offset.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include "tests/servers/process_state.hpp"
#include "util/fd_io.hpp"
#include "util/unique_fd.hpp"

namespace util {
namespace {

using quillfen::test::eventually;
using quillfen::test::thread_in_read;
using quillfen::test::thread_in_write;

struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

Pipe make_pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Fills the pipe, so that the next write blocks before it moves a byte; the bytes it took.
std::size_t fill(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, 'x');
    std::size_t taken = 0;
    for (ssize_t n; (n = ::write(fd, chunk.data(), chunk.size())) > 0;)
        taken += static_cast<std::size_t>(n);
    ::fcntl(fd, F_SETFL, flags);
    return taken;
}

// The bytes waiting in the pipe of `fd`; -1 when it cannot tell.
int bytes_in(int fd) {
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

std::string read_to_end(int fd) {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

std::atomic<int> interruptions = 0;
void count_interruption(int) {
    ++interruptions;
}

// SIGUSR1 counted by a handler without SA_RESTART, so that a blocked call it meets ends with
// EINTR; the previous disposition comes back at the end of the test.
class CountedSignal {
  public:
    CountedSignal() {
        interruptions = 0;
        struct sigaction action {};
        action.sa_handler = count_interruption;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &previous_);
    }
    ~CountedSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }
    CountedSignal(const CountedSignal&) = delete;
    CountedSignal& operator=(const CountedSignal&) = delete;

  private:
    struct sigaction previous_ {};
};

// Sends SIGUSR1 to thread `tid` (0 until the thread has started) once it is blocked in
// `call` on `fd`, and waits until its handler ran: the call has then returned.
bool interrupt_when_in(const std::atomic<pid_t>& tid, bool (*call)(pid_t pid, pid_t tid, int fd),
                       int fd) {
    return eventually([&] { return tid != 0 && call(::getpid(), tid, fd); }) &&
           ::tgkill(::getpid(), tid, SIGUSR1) == 0 && eventually([] { return interruptions == 1; });
}

TEST(FdIo, WriteInterruptedBeforeItMovedAByteIsMadeAgain) {
    const CountedSignal signal;
    Pipe pipe = make_pipe();
    const int write_fd = pipe.write_end.get();
    const std::size_t filled = fill(write_fd);
    std::atomic<pid_t> writer_tid = 0;
    std::expected<void, int> written;
    // The writer closes its end when it returns, so the reading below ends either way.
    std::thread writer([&, fd = std::move(pipe.write_end)] {
        writer_tid = ::gettid();
        written = write_all(fd.get(), "after the interruption");
    });
    const bool interrupted = interrupt_when_in(writer_tid, thread_in_write, write_fd);
    const std::string drained = read_to_end(pipe.read_end.get());
    writer.join();
    ASSERT_TRUE(interrupted);
    ASSERT_TRUE(written) << "error " << written.error();
    EXPECT_EQ(drained, std::string(filled, 'x') + "after the interruption");
}

TEST(FdIo, ReadInterruptedBeforeItMovedAByteIsMadeAgain) {
    const CountedSignal signal;
    Pipe pipe = make_pipe();
    const int read_fd = pipe.read_end.get();
    std::atomic<pid_t> reader_tid = 0;
    std::string text(22, '\0');
    std::expected<std::size_t, int> read;
    std::thread reader([&] {
        reader_tid = ::gettid();
        read = read_full(read_fd, text);
    });
    const bool interrupted = interrupt_when_in(reader_tid, thread_in_read, read_fd);
    // Written and closed whatever became of the read, so that it ends either way.
    const bool sent = ::write(pipe.write_end.get(), "after the interruption", 22) == 22;
    pipe.write_end.reset();
    reader.join();
    ASSERT_TRUE(interrupted);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(read) << "error " << read.error();
    EXPECT_EQ(*read, 22u);
    EXPECT_EQ(text, "after the interruption");
}

TEST(FdIo, WriteCutShortByASignalGoesOnFromWhereItStopped) {
    const CountedSignal signal;
    Pipe pipe = make_pipe();
    const int write_fd = pipe.write_end.get();
    std::string text;
    for (int i = 0; text.size() < (std::size_t{1} << 20); ++i)
        text += std::to_string(i) + ' ';
    std::atomic<pid_t> writer_tid = 0;
    std::expected<void, int> written;
    std::thread writer([&, fd = std::move(pipe.write_end)] {
        writer_tid = ::gettid();
        written = write_all(fd.get(), text);
    });
    // Every byte in the pipe came from the blocked write, so it returns the part it moved.
    const bool interrupted = interrupt_when_in(
        writer_tid,
        [](pid_t pid, pid_t tid, int fd) {
            const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
            return capacity > 0 && bytes_in(fd) == capacity && thread_in_write(pid, tid, fd);
        },
        write_fd);
    const std::string drained = read_to_end(pipe.read_end.get());
    writer.join();
    ASSERT_TRUE(interrupted);
    ASSERT_TRUE(written) << "error " << written.error();
    EXPECT_EQ(drained, text);
}

TEST(FdIo, ReadGoesOnAfterAShortReadUntilTheBufferIsFull) {
    Pipe pipe = make_pipe();
    const int read_fd = pipe.read_end.get();
    std::atomic<pid_t> reader_tid = 0;
    std::string text(10, '\0');
    std::expected<std::size_t, int> read;
    ASSERT_EQ(::write(pipe.write_end.get(), "firs", 4), 4);
    std::thread reader([&] {
        reader_tid = ::gettid();
        read = read_full(read_fd, text);
    });
    // The pipe empty and the reader back in read: it took the four bytes and waits for more.
    const bool waiting = eventually([&] {
        return reader_tid != 0 && bytes_in(read_fd) == 0 &&
               thread_in_read(::getpid(), reader_tid, read_fd);
    });
    const bool sent = ::write(pipe.write_end.get(), "t part", 6) == 6;
    pipe.write_end.reset();
    reader.join();
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(read) << "error " << read.error();
    EXPECT_EQ(*read, 10u);
    EXPECT_EQ(text, "first part");
}

TEST(FdIo, ReadStopsAtTheEndOfTheData) {
    Pipe pipe = make_pipe();
    ASSERT_EQ(::write(pipe.write_end.get(), "short", 5), 5);
    pipe.write_end.reset();
    std::string text(10, '-');
    const auto read = read_full(pipe.read_end.get(), text);
    ASSERT_TRUE(read) << "error " << read.error();
    EXPECT_EQ(*read, 5u);
    EXPECT_EQ(text, "short-----");
}

TEST(FdIo, AtAnOffsetLeavesTheDescriptorsOwnOffset) {
    const UniqueFd file(::memfd_create("fd-io-test", MFD_CLOEXEC));
    ASSERT_TRUE(file);
    ASSERT_TRUE(write_all_at(file.get(), "second", 6));
    ASSERT_TRUE(write_all_at(file.get(), "first ", 0));
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), 0);
    std::string text(6, '\0');
    const auto read = read_full_at(file.get(), text, 6);
    ASSERT_TRUE(read) << "error " << read.error();
    EXPECT_EQ(*read, 6u);
    EXPECT_EQ(text, "second");
    std::string past_the_end(8, '-');
    const auto short_read = read_full_at(file.get(), past_the_end, 8);
    ASSERT_TRUE(short_read) << "error " << short_read.error();
    EXPECT_EQ(*short_read, 4u);
    EXPECT_EQ(past_the_end, "cond----");
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), 0);
}

TEST(FdIo, FailuresGiveTheErrorNumber) {
    char byte = 0;
    EXPECT_EQ(write_all(-1, "x"), std::unexpected(EBADF));
    EXPECT_EQ(write_all_at(-1, "x", 0), std::unexpected(EBADF));
    EXPECT_EQ(read_full(-1, std::span(&byte, 1)), std::unexpected(EBADF));
    EXPECT_EQ(read_full_at(-1, std::span(&byte, 1), 0), std::unexpected(EBADF));
    Pipe pipe = make_pipe();
    EXPECT_EQ(write_all_at(pipe.write_end.get(), "x", 0), std::unexpected(ESPIPE));
}

} // namespace
} // namespace util
