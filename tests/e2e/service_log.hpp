// What the service's own log says of its workers.
#pragma once

#include <sys/types.h>

#include <regex>
#include <string>

namespace quillfen::test {

// The pid of the worker the supervisor started last, as its debug line names it; -1 before any.
inline pid_t latest_worker(const std::string& out) {
    static const std::regex started(R"(child process (\d+) successfully initialized\.)");
    pid_t id = -1;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), started);
         it != std::sregex_iterator(); ++it)
        id = std::stoi((*it)[1]);
    return id;
}

} // namespace quillfen::test
