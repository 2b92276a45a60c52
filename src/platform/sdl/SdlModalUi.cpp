// Message boxes and template dialogs as Dear ImGui windows over the picture. A frame only
// records what the user did and posts the nested loop's answer; the dialog procedure runs
// after that loop has returned, outside any frame, as a desktop's dialog manager calls it
// between messages. The font atlas holds the Japanese glyph set and grows by any other
// glyph a text brings.
#include "platform/sdl/SdlModalUi.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include <backends/imgui_impl_opengl3.h>
#include <imgui_internal.h>

namespace vesk::platform::sdl {

namespace {

// The letters whose mean width makes a dialog's horizontal base unit.
constexpr const char averageWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr float averageWidthLetters = 52.0f;
constexpr ImU32 errorIconRed = IM_COL32(204, 36, 36, 255);
constexpr ImU32 errorIconCross = IM_COL32(255, 255, 255, 255);
// A grown edit field starts with this much room; ImGui asks for more when it needs it.
constexpr std::size_t editRoom = 64;

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

// TrueType, OpenType and collection files; anything else would stop the atlas's builder.
bool looksLikeFont(const std::vector<char>& data) {
    if (data.size() < 12) return false;
    static constexpr const char* magics[] = {"\x00\x01\x00\x00", "OTTO", "true", "ttcf"};
    for (const char* magic : magics)
        if (std::memcmp(data.data(), magic, 4) == 0) return true;
    return false;
}

int growEditBuffer(ImGuiInputTextCallbackData* data) {
    if (data->EventFlag == ImGuiInputTextFlags_CallbackResize) {
        auto* buffer = static_cast<std::vector<char>*>(data->UserData);
        buffer->resize(std::size_t(std::max(data->BufSize, 1)));
        data->Buf = buffer->data();
    }
    return 0;
}

}  // namespace

// --- one open box or dialog ---

class SdlModalUi::Modal {
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

    std::uint32_t serial = 0;

protected:
    explicit Modal(MessageLoop& loop) : loop_(loop) {}
    bool answered() const { return answered_; }
    void answer() {
        if (answered_) return;
        answered_ = true;
        loop_.answer(modalId_);
    }

private:
    MessageLoop& loop_;
    std::uint32_t modalId_ = 0;
    bool answered_ = true;  // nothing waits before arm()
};

class SdlModalUi::OnStack {
public:
    OnStack(SdlModalUi& ui, Modal& modal) : ui_(ui) {
        modal.serial = ++ui.shown_;
        ui.stack_.push_back(&modal);
    }
    ~OnStack() {
        ui_.stack_.pop_back();
        ui_.lastTop_ = nullptr;  // whatever is on top now takes the focus back
        ui_.closed_ = true;
    }
    OnStack(const OnStack&) = delete;
    OnStack& operator=(const OnStack&) = delete;

private:
    SdlModalUi& ui_;
};

// An error box: the red icon, the text broken to a readable width, and OK. No caption.
class SdlModalUi::Box final : public Modal {
public:
    Box(MessageLoop& loop, std::string_view text) : Modal(loop), text_(text) {}

    void key(ModalKey) override { pressed_ = true; }

    void draw(bool top, bool becameTop, const std::string& windowName) override {
        const ImFont& font = *ImGui::GetFont();
        const float fs = ImGui::GetFontSize();
        const ImGuiStyle& style = ImGui::GetStyle();
        const ImVec2 display = ImGui::GetIO().DisplaySize;

        const float pad = std::round(fs * 0.9f);
        const float icon = std::round(fs * 2.0f);
        const float gap = std::round(fs * 0.75f);
        const float maxTextWidth = std::max(fs * 8.0f, std::min(display.x * 0.6f, fs * 30.0f));
        const std::vector<TextLine> lines = wrapText(text_, maxTextWidth, advanceOf(font));
        float textWidth = 0;
        for (const TextLine& line : lines) textWidth = std::max(textWidth, line.width);
        const float bodyHeight = std::max(icon, fs * float(lines.size()));
        const ImVec2 button(std::round(fs * 5.5f), std::round(fs + style.FramePadding.y * 2.0f + 4.0f));
        const ImVec2 size(std::ceil(std::max(icon + gap + textWidth, button.x) + 2.0f * pad),
                          std::ceil(3.0f * pad + bodyHeight + button.y));

        ImGui::SetNextWindowPos(ImVec2(std::floor(display.x / 2), std::floor(display.y / 2)),
                                ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::SetNextWindowSize(size, ImGuiCond_Always);
        if (becameTop) ImGui::SetNextWindowFocus();
        ImGui::Begin(windowName.c_str(), nullptr, modalWindowFlags | ImGuiWindowFlags_NoTitleBar);
        const ImVec2 origin = ImGui::GetWindowPos();
        ImDrawList& list = *ImGui::GetWindowDrawList();

        const ImVec2 centre(origin.x + pad + icon / 2, origin.y + pad + bodyHeight / 2);
        const float arm = icon * 0.2f;
        const float stroke = std::max(2.0f, std::round(icon * 0.1f));
        list.AddCircleFilled(centre, icon / 2, errorIconRed, 32);
        list.AddLine(ImVec2(centre.x - arm, centre.y - arm), ImVec2(centre.x + arm, centre.y + arm),
                     errorIconCross, stroke);
        list.AddLine(ImVec2(centre.x - arm, centre.y + arm), ImVec2(centre.x + arm, centre.y - arm),
                     errorIconCross, stroke);

        const PixelRect textRect{origin.x + pad + icon + gap, origin.y + pad, textWidth, bodyHeight};
        drawLines(list, font, text_, lines,
                  placeLines(lines, fs, textRect, HorizontalAlign::Left, VerticalAlign::Centre),
                  ImGui::GetColorU32(ImGuiCol_Text), nullptr);

        ImGui::SetCursorScreenPos(ImVec2(origin.x + std::floor((size.x - button.x) / 2),
                                         origin.y + size.y - pad - button.y));
        if (ImGui::Button("OK", button)) pressed_ = true;
        ImGui::End();
        if (pressed_ && top) answer();
    }

private:
    std::string text_;
    bool pressed_ = false;
};

// A dialog laid out from its template in dialog units, its edit fields kept in buffers of
// their limit so that ImGui never lets a character in that would not fit whole.
class SdlModalUi::Dialog final : public Modal {
public:
    struct Action {
        bool close = false;  // else a button
        int controlId = 0;
    };

    Dialog(MessageLoop& loop, const DialogTemplate& dialog, DialogControls& controls)
        : Modal(loop), dialog_(dialog), controls_(controls), edits_(dialog.controls.size()) {
        for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
            const DialogControl& c = dialog.controls[i];
            if (c.kind == ControlKind::Edit) edits_[i].limit = c.maxLength;
            if (focusIndex_ < 0 && c.kind == ControlKind::Edit && c.id != noControlId &&
                (c.style & controlStyle::tabStop))
                focusIndex_ = int(i);  // as a dialog gives the first tab stop the keyboard
        }
    }

    void key(ModalKey key) override {
        if (key == ModalKey::Enter) enterPressed_ = true;
    }

    // The edit fields show the controls' texts again (after the procedure has run).
    void refresh() {
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

    std::optional<Action> takeAction() {
        std::optional<Action> taken = action_;
        action_.reset();
        return taken;
    }

    std::optional<PixelRect> controlRect(int controlId) const override {
        auto it = rects_.find(controlId);
        if (it == rects_.end()) return std::nullopt;
        return it->second;
    }

    void draw(bool top, bool becameTop, const std::string& windowName) override {
        const ImFont& font = *ImGui::GetFont();
        const float fs = ImGui::GetFontSize();
        const ImGuiStyle& style = ImGui::GetStyle();
        const ImVec2 display = ImGui::GetIO().DisplaySize;
        const DialogUnits units = dialogUnits(averageCharWidth(font), fs);
        const float titleHeight = ImGui::GetFrameHeight();
        const PixelRect client = toPixels(units, 0, 0, dialog_.width, dialog_.height);
        const ImVec2 size(std::max(client.width, fs * 4.0f), titleHeight + client.height);

        ImGui::SetNextWindowPos(ImVec2(std::floor(display.x / 2), std::floor(display.y / 2)),
                                ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::SetNextWindowSize(size, ImGuiCond_Always);
        if (becameTop) ImGui::SetNextWindowFocus();
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
        bool keepOpen = true;
        const std::string name = dialog_.caption + windowName;
        ImGui::Begin(name.c_str(), dialog_.closeBox ? &keepOpen : nullptr, modalWindowFlags);
        ImGui::PopStyleVar();
        const ImVec2 origin = ImGui::GetWindowPos();
        rects_.clear();
        if (dialog_.closeBox)  // where ImGui puts it: a font-sized square and its padding
            rects_[closeBoxControl] = {origin.x + size.x - fs - 2 * style.FramePadding.x,
                                       origin.y, fs + 2 * style.FramePadding.x, titleHeight};

        for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
            const DialogControl& c = dialog_.controls[i];
            PixelRect r = toPixels(units, c.x, c.y, c.width, c.height);
            r.x += origin.x;
            r.y += origin.y + titleHeight;
            if (c.id != noControlId) rects_[c.id] = r;
            ImGui::PushID(int(i));
            switch (c.kind) {
            case ControlKind::Static: drawStatic(c, r, font); break;
            case ControlKind::Edit: drawEdit(i, r, top); break;
            case ControlKind::Button: drawButton(c, r); break;
            }
            ImGui::PopID();
        }

        if (!keepOpen) setAction({true, 0});
        if (enterPressed_) {
            enterPressed_ = false;
            if (const DialogControl* button = dialog_.defaultButton())
                setAction({false, button->id});
        }
        ImGui::End();

        // What was typed this frame is the controls' text before any command is handled.
        for (std::size_t i = 0; i < dialog_.controls.size(); ++i) {
            const DialogControl& c = dialog_.controls[i];
            if (c.kind == ControlKind::Edit && c.id != noControlId) controls_.type(c.id, current(i));
        }
        if (top) focusIndex_ = -1;
        if (action_ && top) answer();
    }

private:
    struct Edit {
        std::vector<char> buffer = std::vector<char>(editRoom, '\0');
        std::size_t limit = 0;  // bytes; 0 grows as needed
    };

    void setAction(Action action) {
        if (!action_ && !answered()) action_ = action;
    }

    std::string current(std::size_t index) const {
        const std::vector<char>& buffer = edits_[index].buffer;
        return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }

    void drawStatic(const DialogControl& c, const PixelRect& r, const ImFont& font) {
        const std::string& text = c.id == noControlId ? c.text : controls_.text(c.id);
        const std::vector<TextLine> lines = wrapText(text, r.width, advanceOf(font));
        const HorizontalAlign h = (c.style & controlStyle::alignCentre) ? HorizontalAlign::Centre
                                                                          : HorizontalAlign::Left;
        const VerticalAlign v = (c.style & controlStyle::verticalCentre) ? VerticalAlign::Centre
                                                                           : VerticalAlign::Top;
        const ImVec4 clip(r.x, r.y, r.x + r.width, r.y + r.height);
        drawLines(*ImGui::GetWindowDrawList(), font, text, lines,
                  placeLines(lines, font.FontSize, r, h, v), ImGui::GetColorU32(ImGuiCol_Text),
                  &clip);
    }

    void drawEdit(std::size_t index, const PixelRect& r, bool top) {
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
                            (c.style & controlStyle::border) ? 1.0f : 0.0f);
        ImGui::SetCursorScreenPos(ImVec2(r.x, r.y));
        ImGui::SetNextItemWidth(r.width);
        if (top && int(index) == focusIndex_) ImGui::SetKeyboardFocusHere();
        if (edit.limit) {
            edit.buffer.resize(edit.limit + 1, '\0');
            ImGui::InputText("##edit", edit.buffer.data(), edit.buffer.size());
        } else {
            ImGui::InputText("##edit", edit.buffer.data(), edit.buffer.size(),
                             ImGuiInputTextFlags_CallbackResize, growEditBuffer, &edit.buffer);
        }
        ImGui::PopStyleVar(2);
    }

    void drawButton(const DialogControl& c, const PixelRect& r) {
        const bool isDefault = (c.style & controlStyle::defaultButton) != 0;
        // The default button wears a heavier frame, as Enter presses it.
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, isDefault ? 2.0f : 1.0f);
        ImGui::SetCursorScreenPos(ImVec2(r.x, r.y));
        const std::string& label = c.id == noControlId ? c.text : controls_.text(c.id);
        if (ImGui::Button(label.c_str(), ImVec2(std::max(r.width, 1.0f), std::max(r.height, 1.0f))))
            setAction({false, c.id});
        ImGui::PopStyleVar();
    }

    const DialogTemplate& dialog_;
    DialogControls& controls_;
    std::vector<Edit> edits_;  // by control index; used for edit fields only
    std::map<int, PixelRect> rects_;
    std::optional<Action> action_;
    bool enterPressed_ = false;
    int focusIndex_ = -1;  // the edit field that takes the keyboard when the dialog opens
};

// --- the modal UI ---

SdlModalUi::SdlModalUi(MessageLoop& loop, float fontPixels, std::thread::id windowThread)
    : loop_(loop), fontPixels_(fontPixels), windowThread_(windowThread) {
    std::ifstream file(fontPath, std::ios::binary);
    if (file) fontData_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!looksLikeFont(fontData_)) {
        std::cerr << "vesk: the font " << fontPath
                  << " is missing or unreadable; boxes and dialogs use ImGui's default font,"
                     " which has no Japanese\n";
        fontData_.clear();
        fontMissing_ = true;
    }
    addFont();
}

SdlModalUi::~SdlModalUi() = default;

void SdlModalUi::addFont() {
    ImGuiIO& io = ImGui::GetIO();
    io.FontDefault = nullptr;
    if (!fontMissing_) {
        ImFontGlyphRangesBuilder builder;
        builder.AddRanges(io.Fonts->GetGlyphRangesJapanese());
        for (char32_t c : extraGlyphs_) builder.AddChar(ImWchar(c));
        glyphRanges_.clear();
        builder.BuildRanges(&glyphRanges_);
        ImFontConfig config;
        config.FontDataOwnedByAtlas = false;
        // Whole pixels keep small kanji sharp, and a single sample keeps the atlas of some
        // three thousand glyphs small.
        config.OversampleH = 1;
        config.OversampleV = 1;
        config.PixelSnapH = true;
        if (io.Fonts->AddFontFromMemoryTTF(fontData_.data(), int(fontData_.size()), fontPixels_,
                                           &config, glyphRanges_.Data))
            return;
    }
    ImFontConfig config;
    config.SizePixels = std::max(13.0f, std::round(fontPixels_));
    io.Fonts->AddFontDefault(&config);
}

void SdlModalUi::ensureGlyphs(std::string_view text) {
    if (fontMissing_) return;  // the default font cannot grow
    ImGuiIO& io = ImGui::GetIO();
    if (!io.Fonts->IsBuilt()) io.Fonts->Build();
    if (io.Fonts->Fonts.empty()) return;
    const ImFont& font = *io.Fonts->Fonts[0];
    for (std::size_t at = 0; at < text.size();) {
        char32_t c;
        at += decodeUtf8(text, at, c);
        // ImGui's glyphs are 16-bit; a glyph asked for once is not asked for again even
        // when the font turns out not to have it.
        if (c < 0x20 || c > 0xFFFF || font.FindGlyphNoFallback(ImWchar(c))) continue;
        if (extraGlyphs_.insert(c).second) fontDirty_ = true;
    }
}

void SdlModalUi::prepareFrame() {
    if (!fontDirty_) return;
    fontDirty_ = false;
    ImGuiIO& io = ImGui::GetIO();
    // Before the first frame the OpenGL backend has made no texture yet and makes it itself.
    const bool hadTexture = io.Fonts->TexID != nullptr;
    if (hadTexture) ImGui_ImplOpenGL3_DestroyFontsTexture();
    io.Fonts->Clear();
    addFont();
    io.Fonts->Build();
    if (hadTexture) ImGui_ImplOpenGL3_CreateFontsTexture();
}

bool SdlModalUi::refuseOffThread(std::string_view what) {
    if (onWindowThread()) return false;
    if (!reportedOffThread_.exchange(true))
        std::cerr << "vesk: a box or dialog was asked for off the window thread and is not shown: "
                  << what << "\n";
    return true;
}

void SdlModalUi::showMessageBox(std::string_view text, BoxOwner) {
    // Owned or not, the box keeps the window from its input: keys go to the box.
    if (refuseOffThread(text)) return;
    ensureGlyphs(text);
    Box box(loop_, text);
    OnStack onStack(*this, box);
    const std::uint32_t id = loop_.newModalId();
    box.arm(id);
    loop_.runModal(id);
}

int SdlModalUi::runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) {
    if (refuseOffThread(dialog.caption)) return dialogAbandoned;
    DialogControls controls(dialog);
    Dialog window(loop_, dialog, controls);
    OnStack onStack(*this, window);
    ensureGlyphs(dialog.caption);
    procedure.onInit(controls);
    for (const DialogControl& c : dialog.controls)
        ensureGlyphs(c.id == noControlId ? std::string_view(c.text) : controls.text(c.id));
    window.refresh();
    while (!controls.ended()) {
        const std::uint32_t id = loop_.newModalId();
        window.arm(id);
        if (!loop_.runModal(id)) break;  // the run is ending; the quit has been posted again
        const std::optional<Dialog::Action> action = window.takeAction();
        if (!action) continue;
        if (action->close)
            procedure.onClose(controls);
        else
            procedure.onCommand(controls, action->controlId);
        window.refresh();
    }
    return controls.ended() ? controls.result() : dialogAbandoned;
}

bool SdlModalUi::takeKey(ModalKey key) {
    if (stack_.empty()) return false;
    stack_.back()->key(key);
    return true;
}

void SdlModalUi::draw() {
    for (std::size_t i = 0; i < stack_.size(); ++i) {
        Modal& modal = *stack_[i];
        const bool top = i + 1 == stack_.size();
        // Named by depth and alternating, so consecutive boxes never share ImGui's state
        // and ImGui keeps no more than two windows per depth.
        const std::string name =
            "###vesk-modal-" + std::to_string(i) + "-" + std::to_string(modal.serial % 2);
        if (!top) ImGui::BeginDisabled();
        modal.draw(top, top && lastTop_ != &modal, name);
        if (!top) ImGui::EndDisabled();
    }
    lastTop_ = stack_.empty() ? nullptr : stack_.back();
}

std::optional<PixelRect> SdlModalUi::controlRect(int controlId) const {
    if (stack_.empty()) return std::nullopt;
    return stack_.back()->controlRect(controlId);
}

}  // namespace vesk::platform::sdl
