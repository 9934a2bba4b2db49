// Shared by the component's tests: a per-test temporary folder, and error
// capture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "lyx/platform/automation_error.hpp"

namespace lyx::dataprovider::testing {

namespace fs = std::filesystem;

// A folder of its own for the running test, removed again at the end.
class TestFolder {
  public:
    TestFolder() {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / ("lyx-dp-" + std::to_string(::getpid()) + "-" +
                                             info->test_suite_name() + "-" + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TestFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TestFolder(const TestFolder &) = delete;
    TestFolder &operator=(const TestFolder &) = delete;

    const fs::path &path() const { return path_; }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

// The AutomationError `f` raises; number 0 with "no error" when it raises none.
template <class F>
platform::AutomationError errorOf(F f) {
    try {
        f();
    } catch (const platform::AutomationError &e) {
        return e;
    }
    return platform::AutomationError(0, "no error");
}

// Sets an environment variable for the scope, restoring what was there.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old;
        hadValue_ = std::getenv(name) != nullptr;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (hadValue_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadValue_ = false;
};

}  // namespace lyx::dataprovider::testing
