// Modal message boxes and the modal dialog built from a template. Both run a nested
// message loop on the window thread until they are answered, so the window keeps
// receiving its timer and paint messages (and its procedure is entered again) meanwhile.
// Every error the system tells the user goes through reportError: the box, and one
// English line on standard error for a person without the box (or without Japanese).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/DialogTemplate.h"

namespace vesk::platform {

// Whether a box belongs to the window (drawn over it, keeps it from input) or stands alone.
enum class BoxOwner { None, Window };

// runDialog's result when the run ended (a quit request) while the dialog was open; the
// quit request has then been posted again for the enclosing loop.
constexpr int dialogAbandoned = -1;

class ModalUi {
public:
    virtual ~ModalUi() = default;

    // Writes "vesk: WHAT (\"TEXT\")" as one line, then shows the box with `text`. `what`
    // says in English what happened and to what ("cannot open song.mid: No such file or
    // directory"). The one way the system tells of a failure.
    void reportError(std::string_view text, BoxOwner owner, std::string_view what);
    // Where the lines go; standard error unless set. Null: nowhere.
    void setErrorLog(std::ostream* log) { errorLog_ = log; }
    // Nobody is there to answer a box (an installation playing on its own): reportError
    // writes its line and shows nothing, so that no box can hold the run up.
    void setUnattended(bool unattended) { unattended_ = unattended; }

    // An error box with `text`, no caption and an OK button; returns when it is dismissed.
    virtual void showMessageBox(std::string_view text, BoxOwner owner) = 0;
    // Shows the dialog, calls `procedure` for its initialisation, commands and close
    // request, and returns the result the procedure ended it with (or dialogAbandoned).
    virtual int runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) = 0;

protected:
    ModalUi();

private:
    std::ostream* errorLog_;
    bool unattended_ = false;
};

}  // namespace vesk::platform
