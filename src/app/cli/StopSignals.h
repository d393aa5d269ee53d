#pragma once

// SIGINT and SIGTERM as a request to stop, for as long as one of these lives:
// the long-running commands poll `requested()` and wind down cleanly (output
// stopped, settings saved) instead of dying mid-write. The handlers that were
// there before come back when it goes. One at a time per process.

namespace tollvane {

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool requested() const;

private:
    using Handler = void (*)(int);
    Handler previousInt_;
    Handler previousTerm_;
};

}  // namespace tollvane
