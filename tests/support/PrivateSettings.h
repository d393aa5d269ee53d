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
#include <vector>

namespace tollvane {

inline std::string usePrivateSettingsFolder(const std::string& name) {
    // Every folder made in this program: a test program built from several
    // files calls this once per file, and each folder must go at exit.
    static std::vector<std::string> folders;
    std::string folder = std::filesystem::temp_directory_path().string() + "/" + name + "-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return std::filesystem::temp_directory_path().string();
    ::setenv("TOLLVANE_CONFIG_DIR", folder.c_str(), 1);
    // Registered before the user defaults' own write at exit, so it runs after it.
    if (folders.empty()) {
        std::atexit([] {
            std::error_code ignored;
            for (const std::string& made : folders) std::filesystem::remove_all(made, ignored);
        });
    }
    folders.push_back(folder);
    return folder;
}

}  // namespace tollvane
