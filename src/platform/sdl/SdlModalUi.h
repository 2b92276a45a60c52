// The SDL backend's message boxes and dialogs, drawn with Dear ImGui over the picture. Each
// runs the window's nested loop until answered in a frame; a dialog's procedure runs between
// frames, so it may open boxes itself. An edit field holds at most its limit (a longer text
// the procedure sets is cut at a character). Relies on SdlPlatform's ImGui context.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <imgui.h>

#include "platform/MessageLoop.h"
#include "platform/ModalUi.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/TextLayout.h"

namespace vesk::platform::sdl {

// The keys a box or dialog answers itself rather than handing them to its widgets: Enter
// presses a box's OK or a dialog's default button, Esc presses a box's OK and does nothing
// in a dialog (and never reaches the window, so it cannot quit the program).
enum class ModalKey { Enter, Escape };

class SdlModalUi final : public ModalUi {
public:
    // The font is IPA P Gothic at `fontPixels`, with the Japanese glyphs; boxes and dialogs
    // open on `windowThread` only.
    SdlModalUi(MessageLoop& loop, float fontPixels, std::thread::id windowThread);
    ~SdlModalUi() override;
    SdlModalUi(const SdlModalUi&) = delete;
    SdlModalUi& operator=(const SdlModalUi&) = delete;

    // Off the window thread a box cannot be drawn: its text goes to stderr and the call
    // returns at once (a dialog returns dialogAbandoned).
    void showMessageBox(std::string_view text, BoxOwner owner) override;
    int runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) override;

    bool open() const { return !stack_.empty(); }
    // True once after a box or dialog has gone: the picture is presented again without it.
    bool takeClosed() {
        const bool was = closed_;
        closed_ = false;
        return was;
    }
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
    class Modal;
    class Box;
    class Dialog;
    class OnStack;

    void addFont();
    void ensureGlyphs(std::string_view text);
    bool onWindowThread() const { return std::this_thread::get_id() == windowThread_; }
    bool refuseOffThread(std::string_view what);

    MessageLoop& loop_;
    float fontPixels_;
    std::thread::id windowThread_;
    std::vector<Modal*> stack_;  // each lives in the call that shows it
    const Modal* lastTop_ = nullptr;
    std::uint32_t shown_ = 0;  // boxes and dialogs shown so far; names their ImGui windows
    bool closed_ = false;

    std::vector<char> fontData_;  // the font file, kept for the atlas's rebuilds
    bool fontMissing_ = false;
    ImVector<ImWchar> glyphRanges_;
    std::set<char32_t> extraGlyphs_;  // asked for beyond the Japanese ranges
    bool fontDirty_ = false;
    std::atomic<bool> reportedOffThread_{false};
};

}  // namespace vesk::platform::sdl
