// Captures what the process writes to standard output and standard error, in the order written,
// so that tests can compare log lines across both streams.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/servers/watched_process.hpp"

namespace quillfen::test {

class CapturedOutput {
  public:
    CapturedOutput() {
        std::fflush(nullptr);
        file_ = UniqueFd(memfd_create("captured-output", MFD_CLOEXEC));
        saved_out_ = UniqueFd(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        saved_err_ = UniqueFd(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0));
        if (!file_ || !saved_out_ || !saved_err_)
            throw std::runtime_error("cannot capture output");
        // Both descriptors share one file offset, so the lines keep their order.
        dup2(file_.get(), STDOUT_FILENO);
        dup2(file_.get(), STDERR_FILENO);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    ~CapturedOutput() { release(); }

    // Ends the capture and returns the text written, split at line feeds.
    std::vector<std::string> lines() {
        release();
        std::vector<std::string> result;
        std::istringstream in(text_);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

  private:
    void release() {
        if (!file_)
            return;
        std::fflush(nullptr);
        dup2(saved_out_.get(), STDOUT_FILENO);
        dup2(saved_err_.get(), STDERR_FILENO);
        saved_out_.reset();
        saved_err_.reset();
        char buffer[4096];
        for (off_t offset = 0;;) {
            const ssize_t n = pread(file_.get(), buffer, sizeof buffer, offset);
            if (n <= 0)
                break;
            text_.append(buffer, static_cast<std::size_t>(n));
            offset += n;
        }
        file_.reset();
    }

    UniqueFd file_;
    UniqueFd saved_out_;
    UniqueFd saved_err_;
    std::string text_;
};

} // namespace quillfen::test
