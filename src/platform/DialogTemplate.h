// A dialog described as data: caption, size and controls in dialog units, with the
// procedure that the dialog calls and the control texts it works on. Both backends lay
// the same template out; the system's code sees only DialogContext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

enum class ControlKind { Static, Edit, Button };

namespace controlStyle {
constexpr std::uint32_t alignLeft = 0x01;
constexpr std::uint32_t alignCentre = 0x02;
constexpr std::uint32_t verticalCentre = 0x04;
constexpr std::uint32_t border = 0x08;
constexpr std::uint32_t scrollHorizontally = 0x10;
constexpr std::uint32_t tabStop = 0x20;
constexpr std::uint32_t defaultButton = 0x40;  // pressed by the Enter key
}  // namespace controlStyle

constexpr int noControlId = -1;  // static texts

struct DialogControl {
    ControlKind kind = ControlKind::Static;
    int id = noControlId;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::string text;
    std::uint32_t style = 0;
    std::size_t maxLength = 0;  // edit fields: bytes the user can type; 0 no limit
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int width = 0, height = 0;  // dialog units
    std::string fontName;
    int fontPoints = 9;
    bool closeBox = true;
    std::vector<DialogControl> controls;

    const DialogControl* control(int controlId) const;
    const DialogControl* defaultButton() const;
};

// What a dialog procedure may do with the open dialog.
class DialogContext {
public:
    virtual ~DialogContext() = default;
    virtual void setControlText(int controlId, std::string_view text) = 0;
    // At most `maxBytes` bytes of the control's text, cut before a character that would
    // not fit whole.
    virtual std::string controlText(int controlId, std::size_t maxBytes) const = 0;
    virtual void endDialog(int result) = 0;
};

class DialogProcedure {
public:
    virtual ~DialogProcedure() = default;
    virtual void onInit(DialogContext& dialog) = 0;
    // A button was pressed (the default button also by Enter).
    virtual void onCommand(DialogContext& dialog, int controlId) = 0;
    // The close box (or the window manager's close) was used.
    virtual void onClose(DialogContext& dialog) = 0;
};

// The open dialog's control texts and its end, shared by the backends.
class DialogControls final : public DialogContext {
public:
    explicit DialogControls(const DialogTemplate& dialog);

    void setControlText(int controlId, std::string_view text) override;
    std::string controlText(int controlId, std::size_t maxBytes) const override;
    void endDialog(int result) override;

    // What the user types into an edit field: replaces its text, kept within its limit.
    void type(int controlId, std::string_view text);
    const std::string& text(int controlId) const;

    bool ended() const { return ended_; }
    int result() const { return result_; }

private:
    const DialogTemplate& dialog_;
    std::map<int, std::string> texts_;
    bool ended_ = false;
    int result_ = 0;
};

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string truncateUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace vesk::platform
