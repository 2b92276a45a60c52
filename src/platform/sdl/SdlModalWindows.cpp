// Message boxes and template dialogs as Dear ImGui windows, centred over the picture. A frame
// only records what the user did and posts the nested loop's answer; the dialog procedure
// runs after that loop has returned, outside any frame, as a desktop's dialog manager calls
// it between messages. Sizes are in units of the font's size, so they grow with the font.
#include "platform/sdl/SdlModalWindows.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include <imgui.h>
#include <imgui_internal.h>

namespace vesk::platform::sdl {

namespace {

// The letters whose mean width makes a dialog's horizontal base unit.
constexpr const char averageWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr float averageWidthLetters = 52.0f;

// The box, in font sizes: its padding, the icon and the gap after it, the text's width
// (a share of the screen within two bounds), the OK button's width.
constexpr float boxPaddingEm = 0.9f;
constexpr float boxIconEm = 2.0f;
constexpr float boxIconGapEm = 0.75f;
constexpr float boxNarrowestTextEm = 8.0f;
constexpr float boxWidestTextEm = 30.0f;
constexpr float boxWidestTextOfScreen = 0.6f;
constexpr float boxButtonEm = 5.5f;
constexpr float boxButtonExtraHeight = 4.0f;  // pixels beyond the frame's
// The error icon: a red disc with a white cross, its arms and stroke shares of its size.
constexpr ImU32 errorIconRed = IM_COL32(204, 36, 36, 255);
constexpr ImU32 errorIconCross = IM_COL32(255, 255, 255, 255);
constexpr float iconCrossArm = 0.2f;
constexpr float iconCrossStroke = 0.1f;
constexpr float thinnestCrossStroke = 2.0f;
constexpr int iconDiscSegments = 32;
// A dialog is never narrower than this many font sizes, whatever its template says.
constexpr float dialogNarrowestEm = 4.0f;
// The default button wears a heavier frame, as Enter presses it.
constexpr float defaultButtonBorder = 2.0f;
constexpr float frameBorder = 1.0f;

constexpr ImGuiWindowFlags modalWindowFlags =
    ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
    ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoScrollbar |
    ImGuiWindowFlags_NoScrollWithMouse;

float averageCharWidth(const ImFont& font) {
    return font.CalcTextSizeA(font.FontSize, FLT_MAX, 0.0f, averageWidthSample).x /
           averageWidthLetters;
}

Advance advanceOf(const ImFont& font) {
    return [&font](char32_t c) {
        return c <= 0xFFFF ? font.GetCharAdvance(ImWchar(c)) : font.FallbackAdvanceX;
    };
}

void drawLines(ImDrawList& list, const ImFont& font, std::string_view text,
               const std::vector<TextLine>& lines, const std::vector<LinePlacement>& placed,
               ImU32 colour, const ImVec4* clip) {
    for (std::size_t i = 0; i < lines.size() && i < placed.size(); ++i)
        list.AddText(&font, font.FontSize, ImVec2(placed[i].x, placed[i].y), colour,
                     text.data() + lines[i].begin, text.data() + lines[i].end, 0.0f, clip);
}

int growEditBuffer(ImGuiInputTextCallbackData* data) {
    if (data->EventFlag == ImGuiInputTextFlags_CallbackResize) {
        auto* buffer = static_cast<std::vector<char>*>(data->UserData);
        buffer->resize(std::size_t(std::max(data->BufSize, 1)));
        data->Buf = buffer->data();
    }
    return 0;
}

// The next window: this size, centred on the screen, and focused when it has just come
// on top.
void placeCentred(const ImVec2& size, bool becameTop) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(std::floor(display.x / 2), std::floor(display.y / 2)),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(size, ImGuiCond_Always);
    if (becameTop) ImGui::SetNextWindowFocus();
}

struct BoxLayout {
    float fontSize = 0;
    float pad = 0;
    float icon = 0;
    float gap = 0;
    std::vector<TextLine> lines;
    float textWidth = 0;
    float bodyHeight = 0;  // the text's or the icon's, whichever is taller
    ImVec2 button;
    ImVec2 size;
};

BoxLayout layOutBox(std::string_view text, const ImFont& font) {
    BoxLayout l;
    const float fs = l.fontSize = ImGui::GetFontSize();
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    l.pad = std::round(fs * boxPaddingEm);
    l.icon = std::round(fs * boxIconEm);
    l.gap = std::round(fs * boxIconGapEm);
    const float maxTextWidth =
        std::max(fs * boxNarrowestTextEm,
                 std::min(display.x * boxWidestTextOfScreen, fs * boxWidestTextEm));
    l.lines = wrapText(text, maxTextWidth, advanceOf(font));
    for (const TextLine& line : l.lines) l.textWidth = std::max(l.textWidth, line.width);
    l.bodyHeight = std::max(l.icon, fs * float(l.lines.size()));
    const float framePaddingY = ImGui::GetStyle().FramePadding.y;
    l.button = ImVec2(std::round(fs * boxButtonEm),
                      std::round(fs + framePaddingY * 2.0f + boxButtonExtraHeight));
    // Padding around the body and the button, and between them.
    l.size = ImVec2(std::ceil(std::max(l.icon + l.gap + l.textWidth, l.button.x) + 2.0f * l.pad),
                    std::ceil(3.0f * l.pad + l.bodyHeight + l.button.y));
    return l;
}

void drawErrorIcon(ImDrawList& list, const ImVec2& centre, float icon) {
    const float arm = icon * iconCrossArm;
    const float stroke = std::max(thinnestCrossStroke, std::round(icon * iconCrossStroke));
    list.AddCircleFilled(centre, icon / 2, errorIconRed, iconDiscSegments);
    list.AddLine(ImVec2(centre.x - arm, centre.y - arm), ImVec2(centre.x + arm, centre.y + arm),
                 errorIconCross, stroke);
    list.AddLine(ImVec2(centre.x - arm, centre.y + arm), ImVec2(centre.x + arm, centre.y - arm),
                 errorIconCross, stroke);
}

}  // namespace

// --- one open box or dialog ---

void Modal::answer() {
    if (answered_) return;
    answered_ = true;
    loop_.answer(modalId_);
}

// --- the box ---

void ModalBox::draw(bool top, bool becameTop, const std::string& windowName) {
    const ImFont& font = *ImGui::GetFont();
    const BoxLayout l = layOutBox(text_, font);
    placeCentred(l.size, becameTop);
    ImGui::Begin(windowName.c_str(), nullptr, modalWindowFlags | ImGuiWindowFlags_NoTitleBar);
    const ImVec2 origin = ImGui::GetWindowPos();
    ImDrawList& list = *ImGui::GetWindowDrawList();

    drawErrorIcon(list, ImVec2(origin.x + l.pad + l.icon / 2, origin.y + l.pad + l.bodyHeight / 2),
                  l.icon);
    const PixelRect textRect{origin.x + l.pad + l.icon + l.gap, origin.y + l.pad, l.textWidth,
                             l.bodyHeight};
    const std::vector<LinePlacement> placed =
        placeLines(l.lines, l.fontSize, textRect, HorizontalAlign::Left, VerticalAlign::Centre);
    drawLines(list, font, text_, l.lines, placed, ImGui::GetColorU32(ImGuiCol_Text), nullptr);

    ImGui::SetCursorScreenPos(ImVec2(origin.x + std::floor((l.size.x - l.button.x) / 2),
                                     origin.y + l.size.y - l.pad - l.button.y));
    if (ImGui::Button("OK", l.button)) pressed_ = true;
    ImGui::End();
    if (pressed_ && top) answer();
}

// --- the dialog ---

ModalDialog::ModalDialog(MessageLoop& loop, const DialogTemplate& dialog, DialogControls& controls)
    : Modal(loop), dialog_(dialog), controls_(controls), edits_(dialog.controls.size()) {
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const DialogControl& c = dialog.controls[i];
        if (c.kind == ControlKind::Edit) edits_[i].limit = c.maxLength;
        if (focusIndex_ < 0 && c.kind == ControlKind::Edit && c.id != noControlId &&
            (c.style & controlStyle::tabStop))
            focusIndex_ = int(i);  // as a dialog gives the first tab stop the keyboard
    }
}

void ModalDialog::key(ModalKey key) {
    if (key == ModalKey::Enter) enterPressed_ = true;
}

void ModalDialog::refresh() {
    bool changed = false;
    for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
        const DialogControl& c = dialog_.controls[i];
        if (c.kind != ControlKind::Edit || c.id == noControlId) continue;
        const std::string& text = controls_.text(c.id);
        if (current(i) == text) continue;
        Edit& edit = edits_[i];
        const std::string fitted = edit.limit ? truncateUtf8(text, edit.limit) : text;
        edit.buffer.assign(edit.limit ? edit.limit + 1 : fitted.size() + editRoom, '\0');
        std::copy(fitted.begin(), fitted.end(), edit.buffer.begin());
        changed = true;
    }
    // A field being typed in keeps ImGui's own copy of its text; let it go so the new
    // text shows.
    if (changed && ImGui::GetCurrentContext()) ImGui::ClearActiveID();
}

std::optional<ModalDialog::Action> ModalDialog::takeAction() {
    std::optional<Action> taken = action_;
    action_.reset();
    return taken;
}

std::optional<PixelRect> ModalDialog::controlRect(int controlId) const {
    auto it = rects_.find(controlId);
    if (it == rects_.end()) return std::nullopt;
    return it->second;
}

void ModalDialog::draw(bool top, bool becameTop, const std::string& windowName) {
    const ImFont& font = *ImGui::GetFont();
    const float fs = ImGui::GetFontSize();
    const DialogUnits units = dialogUnits(averageCharWidth(font), fs);
    const float titleHeight = ImGui::GetFrameHeight();
    const PixelRect client = toPixels(units, 0, 0, dialog_.width, dialog_.height);
    const ImVec2 size(std::max(client.width, fs * dialogNarrowestEm), titleHeight + client.height);

    bool keepOpen = true;
    begin(size, becameTop, windowName, keepOpen);
    const ImVec2 origin = ImGui::GetWindowPos();
    rects_.clear();
    if (dialog_.closeBox) {  // where ImGui puts it: a font-sized square and its padding
        const float padX = ImGui::GetStyle().FramePadding.x;
        rects_[closeBoxControl] = {origin.x + size.x - fs - 2 * padX, origin.y, fs + 2 * padX,
                                   titleHeight};
    }
    drawControls(units, ImVec2(origin.x, origin.y + titleHeight), font, top);
    takeCloseAndEnter(keepOpen);
    ImGui::End();

    passTypedTexts();
    if (top) focusIndex_ = -1;
    if (action_ && top) answer();
}

void ModalDialog::begin(const ImVec2& size, bool becameTop, const std::string& windowName,
                   bool& keepOpen) {
    placeCentred(size, becameTop);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    const std::string name = dialog_.caption + windowName;
    ImGui::Begin(name.c_str(), dialog_.closeBox ? &keepOpen : nullptr, modalWindowFlags);
    ImGui::PopStyleVar();
}

void ModalDialog::drawControls(const DialogUnits& units, const ImVec2& clientOrigin,
                          const ImFont& font, bool top) {
    for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
        const DialogControl& c = dialog_.controls[i];
        PixelRect r = toPixels(units, c.x, c.y, c.width, c.height);
        r.x += clientOrigin.x;
        r.y += clientOrigin.y;
        if (c.id != noControlId) rects_[c.id] = r;
        ImGui::PushID(int(i));
        switch (c.kind) {
        case ControlKind::Static: drawStatic(c, r, font); break;
        case ControlKind::Edit: drawEdit(i, r, top); break;
        case ControlKind::Button: drawButton(c, r); break;
        }
        ImGui::PopID();
    }
}

// The close box, then Enter for the default button; a button clicked this frame comes
// before both.
void ModalDialog::takeCloseAndEnter(bool keepOpen) {
    if (!keepOpen) setAction({true, 0});
    if (enterPressed_) {
        enterPressed_ = false;
        if (const DialogControl* button = dialog_.defaultButton()) setAction({false, button->id});
    }
}

// What was typed this frame is the controls' text before any command is handled.
void ModalDialog::passTypedTexts() {
    for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
        const DialogControl& c = dialog_.controls[i];
        if (c.kind == ControlKind::Edit && c.id != noControlId) controls_.type(c.id, current(i));
    }
}

void ModalDialog::setAction(Action action) {
    if (!action_ && !answered()) action_ = action;
}

std::string ModalDialog::current(std::size_t index) const {
    const std::vector<char>& buffer = edits_[index].buffer;
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

void ModalDialog::drawStatic(const DialogControl& c, const PixelRect& r, const ImFont& font) {
    const std::string& text = c.id == noControlId ? c.text : controls_.text(c.id);
    const std::vector<TextLine> lines = wrapText(text, r.width, advanceOf(font));
    const HorizontalAlign h = (c.style & controlStyle::alignCentre) ? HorizontalAlign::Centre
                                                                      : HorizontalAlign::Left;
    const VerticalAlign v = (c.style & controlStyle::verticalCentre) ? VerticalAlign::Centre
                                                                       : VerticalAlign::Top;
    const ImVec4 clip(r.x, r.y, r.x + r.width, r.y + r.height);
    drawLines(*ImGui::GetWindowDrawList(), font, text, lines,
              placeLines(lines, font.FontSize, r, h, v), ImGui::GetColorU32(ImGuiCol_Text), &clip);
}

void ModalDialog::drawEdit(std::size_t index, const PixelRect& r, bool top) {
    const DialogControl& c = dialog_.controls[index];
    Edit& edit = edits_[index];
    const float fs = ImGui::GetFontSize();
    ImVec2 padding = ImGui::GetStyle().FramePadding;
    // The field fills its rectangle, its text vertically centred in it.
    padding.y = std::max(0.0f, std::floor((r.height - fs) / 2));
    if (c.style & controlStyle::alignCentre) {
        const float textWidth = ImGui::CalcTextSize(edit.buffer.data()).x;
        padding.x = std::max(padding.x, std::floor((r.width - textWidth) / 2));
    }
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, padding);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize,
                        (c.style & controlStyle::border) ? frameBorder : 0.0f);
    ImGui::SetCursorScreenPos(ImVec2(r.x, r.y));
    ImGui::SetNextItemWidth(r.width);
    const bool focused = top && int(index) == focusIndex_;
    if (focused) ImGui::SetKeyboardFocusHere();
    // A text too long for the field shows its end, since the end of a path names the
    // file: drawn so while the field is not being typed in, and scrolled there when it
    // takes the keyboard with its text selected (the cursor at the end).
    const ImGuiID id = ImGui::GetID("##edit");
    const bool showEnd = !focused && ImGui::GetActiveID() != id &&
                         ImGui::CalcTextSize(edit.buffer.data()).x > r.width - 2 * padding.x;
    if (showEnd) ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(0, 0, 0, 0));
    if (edit.limit) {
        edit.buffer.resize(edit.limit + 1, '\0');
        ImGui::InputText("##edit", edit.buffer.data(), edit.buffer.size());
    } else {
        ImGui::InputText("##edit", edit.buffer.data(), edit.buffer.size(),
                         ImGuiInputTextFlags_CallbackResize, growEditBuffer, &edit.buffer);
    }
    if (ImGui::IsItemActivated())
        if (ImGuiInputTextState* state = ImGui::GetInputTextState(id)) state->CursorFollow = true;
    if (showEnd) {
        ImGui::PopStyleColor();
        drawTextEnd(edit.buffer.data(), r, padding);
    }
    ImGui::PopStyleVar(2);
}

// The text right-aligned in the field and cut at its left edge.
void ModalDialog::drawTextEnd(const char* text, const PixelRect& r, const ImVec2& padding) {
    const ImVec4 clip(r.x + padding.x, r.y, r.x + r.width - padding.x, r.y + r.height);
    const float width = ImGui::CalcTextSize(text).x;
    ImGui::GetWindowDrawList()->AddText(ImGui::GetFont(), ImGui::GetFontSize(),
                                        ImVec2(clip.z - width, r.y + padding.y),
                                        ImGui::GetColorU32(ImGuiCol_Text), text, nullptr, 0.0f, &clip);
}

void ModalDialog::drawButton(const DialogControl& c, const PixelRect& r) {
    const bool isDefault = (c.style & controlStyle::defaultButton) != 0;
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize,
                        isDefault ? defaultButtonBorder : frameBorder);
    ImGui::SetCursorScreenPos(ImVec2(r.x, r.y));
    const std::string& label = c.id == noControlId ? c.text : controls_.text(c.id);
    if (ImGui::Button(label.c_str(), ImVec2(std::max(r.width, 1.0f), std::max(r.height, 1.0f))))
        setAction({false, c.id});
    ImGui::PopStyleVar();
}

}  // namespace vesk::platform::sdl
