#pragma once

// Points the program's settings (user defaults, autosaves) at a folder of
// the test program's own, never the user's, and removes it at exit; when
// TOLLVANE_CONFIG_DIR is already set (scripts/test sets it) that folder
// serves. Answers the folder. Call it before anything reads the defaults,
// e.g. from a namespace-scope initialiser.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tollvane {

inline std::string usePrivateSettingsFolder(const std::string& name) {
    if (const char* given = ::getenv("TOLLVANE_CONFIG_DIR"); given && *given) return given;
    static std::string folder;
    folder = std::filesystem::temp_directory_path().string() + "/" + name + "-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return std::filesystem::temp_directory_path().string();
    ::setenv("TOLLVANE_CONFIG_DIR", folder.c_str(), 1);
    // Registered before the user defaults' own write at exit, so it runs after it.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    return folder;
}

}  // namespace tollvane
