// What this process holds right now (its descriptors and its threads), and waiting for a
// condition that other processes or threads make true.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <set>

namespace quillfen::test {

std::set<int> open_fds();
int thread_count();

// Whether thread `tid` of process `pid` sits in write(2) on descriptor `fd` right now.
bool thread_in_write(pid_t pid, pid_t tid, int fd);
// Whether thread `tid` of process `pid` sits in read(2) on descriptor `fd` right now.
bool thread_in_read(pid_t pid, pid_t tid, int fd);
// How many threads of process `pid` sit in write(2) on descriptor `fd` right now.
int threads_in_write(pid_t pid, int fd);

// Whether the process `pid` has ended: it is gone, or a zombie nobody has collected yet.
bool process_ended(pid_t pid);

// Polls `condition` until it holds or `limit` passed; its last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace quillfen::test
