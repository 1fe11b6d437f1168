// What this process holds right now (its descriptors and its threads), and waiting for a
// condition that other processes or threads make true.
#pragma once

#include <chrono>
#include <functional>
#include <set>

namespace quillfen::test {

std::set<int> open_fds();
int thread_count();

// Polls `condition` until it holds or `limit` passed; its last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace quillfen::test
