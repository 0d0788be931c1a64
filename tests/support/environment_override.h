// A test's own environment variables, put back as they were when the test ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets or unsets one variable for the lifetime of the guard, then restores its old value.
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        apply(value);
    }
    ~EnvironmentOverride() { apply(old_); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  private:
    void apply(const std::optional<std::string>& value) {
        if (value) {
            setenv(name_, value->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};
