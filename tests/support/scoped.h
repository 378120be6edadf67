// Scoped helpers for tests that need a folder of their own or change the process's working folder
// or environment: whatever happens in between, a failed assertion included, the destructor puts
// things back.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScopedTempDir {
  public:
    explicit ScopedTempDir(const std::string& prefix = "updatebank-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + pattern);
        path_ = pattern;
    }
    ~ScopedTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Keeps the working folder and every environment variable set or unset through it; the
// destructor restores them all.
class ScopedEnvironment {
  public:
    ScopedEnvironment() : cwd_(std::filesystem::current_path()) {}
    ~ScopedEnvironment() {
        std::error_code ignored;
        std::filesystem::current_path(cwd_, ignored);
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::string& value) {
        Save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        ::unsetenv(name.c_str());
    }
    void ChangeDir(const std::filesystem::path& folder) { std::filesystem::current_path(folder); }

  private:
    void Save(const std::string& name) {
        const char* value = ::getenv(name.c_str());
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    std::filesystem::path cwd_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace testsupport
