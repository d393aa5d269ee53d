#include "platform/AlertPresenter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/ScriptedAlertPresenter.h"
#include "platform/TerminalAlertPresenter.h"

namespace tollvane {
namespace {

const Alert kOpenAnyway{"Warning", "Do you want to open the file anyway?", {"Open", "Cancel"}};
const Alert kNotice{"Converted document.", "It has been automatically converted.", {}};

TEST(ScriptedAlertPresenterTest, RecordsAlertsAndAnswersFromTheScript) {
    ScriptedAlertPresenter presenter;
    presenter.answer("Cancel");
    presenter.answer(0);
    EXPECT_EQ(presenter.runAlert(kOpenAnyway), 1);
    EXPECT_EQ(presenter.runAlert(kOpenAnyway), 0);
    // Script used up: the default button.
    EXPECT_EQ(presenter.runAlert(kNotice), 0);
    auto shown = presenter.shownAlerts();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].title, "Converted document.");
    EXPECT_EQ(shown[2].shownButtons(), (std::vector<std::string>{"OK"}));
    EXPECT_EQ(presenter.pendingAnswers(), 0u);
}

TEST(ScriptedAlertPresenterTest, AnswerTheAlertDoesNotOfferIsAFaultOfTheTest) {
    ScriptedAlertPresenter presenter;
    presenter.answer("Export anyway");
    EXPECT_THROW(presenter.runAlert(kOpenAnyway), std::logic_error);
    presenter.answer(2);
    EXPECT_THROW(presenter.runAlert(kOpenAnyway), std::logic_error);
}

TEST(AlertPresenterTest, SharedPresenterLogsAndAnswersTheDefaultUntilOneIsInstalled) {
    std::vector<std::string> logged;
    auto sink = Log::setSink([&](const std::string& line) { logged.push_back(line); });
    AlertPresenter* before = AlertPresenter::setShared(nullptr);
    EXPECT_EQ(AlertPresenter::shared().runAlert(kOpenAnyway), 0);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("Warning"), std::string::npos);

    ScriptedAlertPresenter scripted;
    AlertPresenter::setShared(&scripted);
    scripted.answer(1);
    EXPECT_EQ(AlertPresenter::shared().runAlert(kOpenAnyway), 1);
    AlertPresenter::setShared(before);
    Log::setSink(std::move(sink));
}

TEST(TerminalAlertPresenterTest, AnswersFromPresetsTerminalOrDefault) {
    struct Case {
        const char* name;
        std::vector<std::string> presets;
        bool interactive;
        std::string typed;
        int answer;
        const char* printed;
    };
    const Case cases[] = {
        {"preset by title, any case", {"cancel"}, true, "1\n", 1, "Answer: Cancel (given)"},
        {"preset by number", {"2"}, false, "", 1, "Answer: Cancel (given)"},
        {"unknown preset", {"Maybe"}, true, "2\n", 0, "\"Maybe\" is not one of the buttons"},
        {"typed number", {}, true, "2\n", 1, "Choose 1-2 [1]: "},
        {"typed title", {}, true, "Cancel\n", 1, "  2) Cancel"},
        {"enter takes the default", {}, true, "\n", 0, "Answer: Open (default)"},
        {"retry after nonsense", {}, true, "x\n7\ncancel\n", 1, "Please answer with a number from 1 to 2"},
        {"end of input", {}, true, "", 0, "Answer: Open (default)"},
        {"nobody to ask", {}, false, "2\n", 0, "Answer: Open (default)"},
    };
    for (const Case& c : cases) {
        std::istringstream input(c.typed);
        std::ostringstream output;
        TerminalAlertPresenter presenter(c.interactive ? &input : nullptr, output);
        for (const auto& preset : c.presets) presenter.addPresetAnswer(preset);
        EXPECT_EQ(presenter.runAlert(kOpenAnyway), c.answer) << c.name;
        EXPECT_NE(output.str().find("Warning\nDo you want to open the file anyway?\n"), std::string::npos)
            << c.name;
        EXPECT_NE(output.str().find(c.printed), std::string::npos) << c.name << ": " << output.str();
    }
}

TEST(TerminalAlertPresenterTest, SingleButtonAlertAsksNothingAndKeepsThePresets) {
    std::istringstream input("2\n");
    std::ostringstream output;
    TerminalAlertPresenter presenter(&input, output);
    presenter.addPresetAnswer("Cancel");
    EXPECT_EQ(presenter.runAlert(kNotice), 0);
    EXPECT_EQ(output.str(), "Converted document.\nIt has been automatically converted.\n[OK]\n");
    EXPECT_EQ(presenter.runAlert(kOpenAnyway), 1);
}

}  // namespace
}  // namespace tollvane
