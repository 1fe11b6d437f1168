// Changes to this process's environment that last only as long as the object: a test that
// points the environment at its own servers must not leave it so for the next test.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillfen::test {

class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    // Puts back each variable as it was before its first change here, the last one first.
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

  private:
    void remember(const std::string& name);

    // Each variable's value before its first change, nullopt when it was unset.
    std::vector<std::pair<std::string, std::optional<std::string>>> before_;
};

} // namespace quillfen::test
