// A socket that another account listens on: it takes every connection and tells, as each one
// ends, how many bytes its client sent, so a test sees whether a client said anything at all.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/servers/test_accounts.hpp"
#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class CountingListener {
  public:
    // Listens as `account` on a socket that every account may connect to, in a directory of
    // its own; throws std::runtime_error when it does not come up.
    explicit CountingListener(const Account& account);
    ~CountingListener();
    CountingListener(const CountingListener&) = delete;
    CountingListener& operator=(const CountingListener&) = delete;

    const std::string& path() const { return path_; }

    // The bytes each of the first `count` connections sent, in the order they ended; throws
    // std::runtime_error when fewer have ended within `limit`.
    std::vector<std::size_t> ended_connections(std::size_t count, std::chrono::milliseconds limit);

  private:
    std::string dir_;
    std::string path_;
    WatchedProcess listener_;
};

} // namespace quillfen::test
