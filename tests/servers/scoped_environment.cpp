#include "tests/servers/scoped_environment.hpp"

#include <stdlib.h>

#include <algorithm>
#include <ranges>
#include <stdexcept>

namespace quillfen::test {

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : std::views::reverse(before_))
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
    remember(name);
    if (::setenv(name.c_str(), value.c_str(), 1) != 0)
        throw std::runtime_error("cannot set " + name);
}

void ScopedEnvironment::unset(const std::string& name) {
    remember(name);
    if (::unsetenv(name.c_str()) != 0)
        throw std::runtime_error("cannot unset " + name);
}

void ScopedEnvironment::remember(const std::string& name) {
    // Only the first change counts: a later one must not take the test's value for the original.
    if (std::ranges::any_of(before_, [&](const auto& saved) { return saved.first == name; }))
        return;
    const char* value = ::getenv(name.c_str());
    before_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

} // namespace quillfen::test
