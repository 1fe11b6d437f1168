// What this process holds right now: its descriptors and its threads.
#pragma once

#include <chrono>
#include <functional>
#include <set>

namespace quillfen::test {

std::set<int> open_fds();
int thread_count();
// Threads of the layer that serve an offered text.
int serving_threads();
// Polls `condition` until it holds or `limit` passed; its last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace quillfen::test
