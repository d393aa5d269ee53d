#pragma once

// Deleting and inserting bars in a cue: the events after the edit move by the
// bars' worth of beats (beat-locked) or by the number of bars (bar-locked);
// timecode-locked events stay in picture time. Each edit is one undo step
// ("Delete Bars", "Insert Bars"): every move and removal goes through the
// events' own setters and the cue's removeEvent/addEvent, which register
// their undo inside the open group.
//
// Which events move, go or stay is decided by the pure functions below, so
// that the windows and tolerances can be checked with tables of cases.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>

namespace tollvane {

class Cue;
class CueEvent;

class CueBarEditor {
public:
    // Positions this close to a downbeat count as on it.
    static constexpr double kTolerance = 0.05;

    // What a bar deletion does with one event.
    enum class DeleteEdit { Keep, MoveBack, Remove };

    // The deleted bars [firstBar, firstBar + count) and their downbeats.
    struct DeletedBars {
        double start = 0.0;  // downbeat of firstBar
        double end = 0.0;    // downbeat of firstBar + count
        int32_t firstBar = 1;
        int32_t count = 0;
    };

    // The insertion point and whether tempo and meter changes lying on it
    // stay there (tempo option 2).
    struct InsertionPoint {
        double position = 0.0;  // downbeat of `bar`
        int32_t bar = 1;
        bool changesStayAtPoint = false;
    };

    // Kinds that matter to the decisions.
    enum class Kind { Other, TempoChange, MeterChange, ClickChange };

    explicit CueBarEditor(std::shared_ptr<Cue> cue);

    // A count below 1 changes nothing.
    void deleteBars(int32_t count, int32_t startingAtBar);
    // Tempo option 1 sizes the new bars like the bar before `beforeBar`; any
    // other option like `beforeBar` itself, and option 2 leaves tempo and
    // meter changes at the insertion point where they are.
    void insertBars(int32_t count, int32_t beforeBar, int32_t usingTempo);

    // Beat-locked events are judged by `position`, bar-locked ones by `bar`,
    // timecode-locked ones are kept. The window includes the first downbeat
    // after the deleted bars; a tempo, meter or click change there is
    // removed (and may come back at the start, see deleteBars), anything
    // else there moves back with the events after it.
    static DeleteEdit deleteEditFor(int32_t lockType, Kind kind, double position, int32_t bar,
                                    const DeletedBars& deleted);
    // Whether the event moves forward by the inserted bars.
    static bool movesOnInsert(int32_t lockType, Kind kind, double position, int32_t bar,
                              const InsertionPoint& point);
    static Kind kindOf(const CueEvent& event);

private:
    // The downbeat of a cue bar in the cue's compiled sequence.
    double downbeatOfBar(int32_t bar) const;
    // Opens the named group (unless one is open already) and registers the
    // re-sort that undoing the edit ends with; answers whether it opened one.
    bool beginEdit(const char* groupName);
    void endEdit(bool openedGroup);

    std::shared_ptr<Cue> cue_;
};

}  // namespace tollvane
