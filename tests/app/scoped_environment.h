// Environment variables changed for one test and put back afterwards.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace zelk::app {

class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

    // Null: unset.
    void Set(const std::string& name, const char* value) {
        if (saved_.find(name) == saved_.end()) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
        }
        if (value == nullptr) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value, 1);
        }
    }
    void Set(const std::string& name, const std::string& value) { Set(name, value.c_str()); }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace zelk::app
