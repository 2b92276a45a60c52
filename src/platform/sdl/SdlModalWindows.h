// The two kinds of ImGui window the modal UI opens over the picture: the error box and the
// dialog laid out from its template. Each is drawn inside a frame and only records what the
// user did; it tells the nested loop waiting on it when it has an answer. Internal to the
// SDL backend's modal UI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DialogTemplate.h"
#include "platform/MessageLoop.h"
#include "platform/sdl/SdlModalUi.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/TextLayout.h"

struct ImFont;
struct ImVec2;

namespace vesk::platform::sdl {

// One open box or dialog.
class Modal {
public:
    virtual ~Modal() = default;
    // Inside a frame. Only the top one takes input; `becameTop` on its first frame as such.
    virtual void draw(bool top, bool becameTop, const std::string& windowName) = 0;
    virtual void key(ModalKey key) = 0;
    virtual std::optional<PixelRect> controlRect(int) const { return std::nullopt; }

    // The nested loop `modalId` waits for this one's next answer.
    void arm(std::uint32_t modalId) {
        modalId_ = modalId;
        answered_ = false;
    }

    std::uint32_t serial = 0;  // which showing this is; names its ImGui window

protected:
    explicit Modal(MessageLoop& loop) : loop_(loop) {}
    bool answered() const { return answered_; }
    void answer();

private:
    MessageLoop& loop_;
    std::uint32_t modalId_ = 0;
    bool answered_ = true;  // nothing waits before arm()
};

// An error box: the red icon, the text broken to a readable width, and OK. No caption.
class ModalBox final : public Modal {
public:
    ModalBox(MessageLoop& loop, std::string_view text) : Modal(loop), text_(text) {}
    void key(ModalKey) override { pressed_ = true; }
    void draw(bool top, bool becameTop, const std::string& windowName) override;

private:
    std::string text_;
    bool pressed_ = false;
};

// A dialog laid out from its template in dialog units, its edit fields kept in buffers of
// their limit so that ImGui never lets a character in that would not fit whole.
class ModalDialog final : public Modal {
public:
    struct Action {
        bool close = false;  // else a button
        int controlId = 0;
    };

    ModalDialog(MessageLoop& loop, const DialogTemplate& dialog, DialogControls& controls);
    void key(ModalKey key) override;
    void draw(bool top, bool becameTop, const std::string& windowName) override;
    std::optional<PixelRect> controlRect(int controlId) const override;

    // The edit fields show the controls' texts again (after the procedure has run).
    void refresh();
    std::optional<Action> takeAction();

private:
    // A grown edit field starts with this much room; ImGui asks for more when it needs it.
    static constexpr std::size_t editRoom = 64;

    struct Edit {
        std::vector<char> buffer = std::vector<char>(editRoom, '\0');
        std::size_t limit = 0;  // bytes; 0 grows as needed
    };

    void begin(const ImVec2& size, bool becameTop, const std::string& windowName, bool& keepOpen);
    void drawControls(const DialogUnits& units, const ImVec2& clientOrigin, const ImFont& font,
                      bool top);
    void takeCloseAndEnter(bool keepOpen);
    void passTypedTexts();
    void setAction(Action action);
    std::string current(std::size_t index) const;
    void drawStatic(const DialogControl& c, const PixelRect& r, const ImFont& font);
    void drawEdit(std::size_t index, const PixelRect& r, bool top);
    void drawTextEnd(const char* text, const PixelRect& r, const ImVec2& padding);
    void drawButton(const DialogControl& c, const PixelRect& r);

    const DialogTemplate& dialog_;
    DialogControls& controls_;
    std::vector<Edit> edits_;  // by control index; used for edit fields only
    std::map<int, PixelRect> rects_;
    std::optional<Action> action_;
    bool enterPressed_ = false;
    int focusIndex_ = -1;  // the edit field that takes the keyboard when the dialog opens
};

}  // namespace vesk::platform::sdl
