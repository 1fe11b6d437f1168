// Captures what the process writes to standard output and standard error, in the order written,
// so that tests can compare log lines across both streams.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace quillfen::test {

class CapturedOutput {
  public:
    CapturedOutput() {
        std::fflush(nullptr);
        file_ = memfd_create("captured-output", MFD_CLOEXEC);
        saved_out_ = dup(STDOUT_FILENO);
        saved_err_ = dup(STDERR_FILENO);
        if (file_ < 0 || saved_out_ < 0 || saved_err_ < 0)
            throw std::runtime_error("cannot capture output");
        // Both descriptors share one file offset, so the lines keep their order.
        dup2(file_, STDOUT_FILENO);
        dup2(file_, STDERR_FILENO);
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
        if (file_ < 0)
            return;
        std::fflush(nullptr);
        dup2(saved_out_, STDOUT_FILENO);
        dup2(saved_err_, STDERR_FILENO);
        close(saved_out_);
        close(saved_err_);
        char buffer[4096];
        for (off_t offset = 0;;) {
            const ssize_t n = pread(file_, buffer, sizeof buffer, offset);
            if (n <= 0)
                break;
            text_.append(buffer, static_cast<std::size_t>(n));
            offset += n;
        }
        close(file_);
        file_ = -1;
    }

    int file_ = -1;
    int saved_out_ = -1;
    int saved_err_ = -1;
    std::string text_;
};

} // namespace quillfen::test
