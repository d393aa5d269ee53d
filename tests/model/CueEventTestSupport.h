#pragma once

// What the cue-event tests share: a virtual-time main loop, the cue-model
// user defaults, a captured log, and a document with a cue whose edits are
// undoable.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"

namespace tollvane {

class CueEventTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop);
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        document = Document::create();
        cue = Cue::create();
        cue->setDocument(document.get());
    }

    void TearDown() override {
        cue->setDocument(nullptr);
        cue.reset();
        loop.runPending();
        Log::setSink(previousSink_);
        RunLoop::setMain(previousLoop_);
    }

    UndoManager& undoManager() { return document->undoManager(); }

    bool loggedLine(const std::string& line) const {
        for (const std::string& entry : logged) {
            if (entry.find(line) != std::string::npos) return true;
        }
        return false;
    }

    ManualRunLoop loop;
    std::vector<std::string> logged;
    std::shared_ptr<Document> document;
    std::shared_ptr<Cue> cue;

private:
    RunLoop* previousLoop_ = nullptr;
    Log::Sink previousSink_;
};

}  // namespace tollvane
