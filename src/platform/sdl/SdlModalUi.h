// The SDL backend's message boxes and dialogs, drawn with Dear ImGui over the picture. Each
// runs the window's nested loop until answered in a frame; a dialog's procedure runs between
// frames, so it may open boxes itself. An edit field holds at most its limit (a longer text
// the procedure sets is cut at a character). Relies on the backend's ImGui context.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/ModalUi.h"
#include "platform/sdl/TextLayout.h"

namespace vesk::platform::sdl {

struct SdlBackendData;
struct ModalUiData;

// The keys a box or dialog answers itself rather than handing them to its widgets: Enter
// presses a box's OK or a dialog's default button, Esc presses a box's OK and does nothing
// in a dialog (and never reaches the window, so it cannot quit the program).
enum class ModalKey { Enter, Escape };

class SdlModalUi final : public ModalUi {
public:
    // Boxes and dialogs run the backend's loop and open on its window thread only. The font
    // is IPA P Gothic at `fontPixels`, with the Japanese glyphs.
    SdlModalUi(SdlBackendData& backend, float fontPixels);
    ~SdlModalUi() override;
    SdlModalUi(const SdlModalUi&) = delete;
    SdlModalUi& operator=(const SdlModalUi&) = delete;

    // Off the window thread a box cannot be drawn: its text goes to stderr and the call
    // returns at once (a dialog returns dialogAbandoned).
    void showMessageBox(std::string_view text, BoxOwner owner) override;
    int runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) override;

    bool open() const;
    // True once after a box or dialog has gone: the picture is presented again without it.
    bool takeClosed();
    // A key press while something is open; false when nothing is open to take it.
    bool takeKey(ModalKey key);

    // Between frames: builds the font again when a text needs glyphs it lacks.
    void prepareFrame();
    // Inside a frame: every open box and dialog, the last opened on top and the only one
    // that takes input.
    void draw();

    // Where the innermost open dialog drew a control in its last frame, in window pixels.
    std::optional<PixelRect> controlRect(int controlId) const;

    // Texts are measured and broken with this font.
    static constexpr const char* fontPath = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf";

private:
    std::unique_ptr<ModalUiData> d_;
};

}  // namespace vesk::platform::sdl
