#pragma once

// Alerts the user must see: a title, a text and buttons, the first of which
// is the default. The GUI shows a dialog, the command line prints the alert
// and takes its answer from the command line or the terminal, tests script
// the answers. The answer is the index of the chosen button: 0 for the
// first (default) button, 1 for the second, and so on.
//
// Threads: runAlert() on the main thread; it blocks until answered.
// shared()/setShared() as for the other process-wide services: setShared()
// only at start-up or test set-up.

#include <string>
#include <vector>

namespace tollvane {

struct Alert {
    std::string title;
    std::string text;
    // No buttons means a single "OK".
    std::vector<std::string> buttons;

    // The buttons actually shown.
    std::vector<std::string> shownButtons() const;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual int runAlert(const Alert& alert) = 0;

    // The installed presenter; until one is installed, a presenter that logs
    // the alert and answers its default button, so nothing ever blocks on an
    // alert nobody can see.
    static AlertPresenter& shared();
    // Installs a presenter (nullptr restores the logging one) and returns the
    // one before. The caller keeps it alive while installed.
    static AlertPresenter* setShared(AlertPresenter* presenter);
};

}  // namespace tollvane
