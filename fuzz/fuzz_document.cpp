// Opens documents from arbitrary bytes, as a file from anywhere would be
// opened. Alerts get their default answers and the log goes nowhere, so
// nothing blocks. Whatever opens must save, and what it saves must open.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "document/Document.h"
#include "model/CueDefaults.h"
#include "platform/Log.h"
#include "platform/ScriptedAlertPresenter.h"
#include "platform/UserDefaults.h"

using namespace tollvane;

namespace {

ScriptedAlertPresenter& setUp() {
    static ScriptedAlertPresenter* alerts = [] {
        // Never the user's settings.
        const std::string folder =
            std::filesystem::temp_directory_path().string() + "/tollvane-fuzz-document";
        ::setenv("TOLLVANE_CONFIG_DIR", folder.c_str(), 1);
        Log::setSink([](const std::string&) {});
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        auto* presenter = new ScriptedAlertPresenter;
        AlertPresenter::setShared(presenter);
        return presenter;
    }();
    return *alerts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    ScriptedAlertPresenter& alerts = setUp();
    alerts.reset();
    std::string error;
    auto document = Document::documentWithData(Data(bytes, bytes + size), &error);
    if (!document) {
        if (error.empty()) std::abort();
        return 0;
    }
    const Data saved = document->dataOfType(&error);
    if (saved.empty()) std::abort();
    if (!Document::documentWithData(saved, &error)) std::abort();
    return 0;
}
