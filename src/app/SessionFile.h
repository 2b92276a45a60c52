// A recorded session: everything a run needs to be played again exactly, one JSON object a
// line. The seed; where each performance's file came from and a SHA-256 of what was
// loaded; each box and dialog with the moment it was answered (and what was typed); every
// live message; and the notes each tick took, the file's and the live ones as they came.
// A moment is a place among the window's ticks and paints, not a time, so a replay on
// virtual time puts everything where the live run had it, however late its ticks came.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vesk::app {

constexpr int sessionVersion = 1;

// Ticks taken so far (the one being handled counts), and whether the window has been
// painted since the last of them began. Ordered as the events happened.
struct SessionMoment {
    std::int64_t tick = 0;
    bool painted = false;
    auto operator<=>(const SessionMoment&) const = default;
};

// One line of a session, by its kind. Only the fields of its kind are used.
struct SessionEvent {
    enum class Kind {
        Start,   // a performance began
        Choice,  // the file source's answer: a file (path set), the dialog (none), or the end
        Load,    // a file loaded: its path as opened, SHA-256 and size
        Dialog,  // a dialog answered: what was typed and the button (0: the close box)
        Box,     // a box dismissed
        Live,    // a live message
        Take,    // the notes a tick took
        At,      // how far the run had come (written at least once a second)
        End,     // the run ended with `code`
    };
    Kind kind = Kind::At;
    SessionMoment at;
    std::string path;        // Choice (empty: none), Load, Dialog: absolute
    int channel = 0;         // Choice: 1 to 16
    bool endOfRun = false;   // Choice: the source ended the run with `code`
    std::string sha256;      // Load
    std::string fileText, channelText;  // Dialog
    int control = 0;         // Dialog
    std::uint32_t message = 0;          // Live
    double ms = 0;                      // Live, At, End: on the run's clock
    std::vector<std::uint8_t> on, off;  // Take
    int code = 0;                       // End, Choice
};

struct Session {
    unsigned seed = 0;
    int width = 0, height = 0;
    bool unattended = false;
    std::vector<SessionEvent> events;  // in the order they happened
    bool ended = false;                // it has its End line (a run that crashed has not)
    double lengthMs = 0;               // how long the live run went on, as far as the lines say
};

// Reads a session; none with the reason (which line, and why) when it cannot be. A last
// line cut short (the run stopped while writing it) is left out.
std::optional<Session> readSession(const std::string& path, std::string& error);

// The hex SHA-256 of `bytes`.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// Every file the session loaded is there with the same bytes; else the reason.
bool sessionFilesUnchanged(const Session& session, std::string& error);

// Writes a session's lines as they come, flushed at least once a second (and at the end),
// so a run that crashes loses at most its last second. A write that fails is said once on
// standard error; nothing more is written and ok() is false.
class SessionWriter {
public:
    // Takes `file` and closes it.
    SessionWriter(std::FILE* file, std::string path);
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    void header(unsigned seed, int width, int height, bool unattended);
    void write(const SessionEvent& event);
    // Flushes when a second has passed since the last flush, after writing `at` (an At
    // event: how far the run has come); `nowMs` on any steady clock.
    void flushIfDue(std::int64_t nowMs, SessionEvent at);
    // Flushes and closes the file; false when anything could not be written.
    bool close();
    bool ok() const { return !failed_; }

private:
    void line(const nlohmann::ordered_json& object);
    void flush();
    void fail();

    std::FILE* file_;
    std::string path_;
    bool failed_ = false;
    std::int64_t lastFlushMs_ = 0;
    bool writtenSinceFlush_ = false;
};

}  // namespace vesk::app
