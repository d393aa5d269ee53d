#pragma once

// Points the program's settings (user defaults, autosaves) at a folder of
// the test program's own and removes it at exit. Always a new folder, even
// when TOLLVANE_CONFIG_DIR is set: scripts/test sets one for the whole run,
// and ctest runs test programs side by side, so a shared folder would let
// one program's defaults leak into another's. Answers the folder. Call it
// before anything reads the defaults, e.g. from a namespace-scope
// initialiser.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tollvane {

inline std::string usePrivateSettingsFolder(const std::string& name) {
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
