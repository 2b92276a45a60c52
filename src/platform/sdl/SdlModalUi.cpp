// The modal UI's stack of open boxes and dialogs, the nested loops they run, and the font
// they are drawn in. Its state is one ModalUiData. The Japanese font is read from its file
// while the window starts and goes into the atlas when the first box or dialog opens: a
// start that plays a file at once draws its first frame without building some three
// thousand glyphs. The atlas then grows by any other glyph a text brings, between frames.
#include "platform/sdl/SdlModalUi.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <future>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include "platform/sdl/SdlBackendData.h"
#include "platform/sdl/SdlModalWindows.h"

namespace vesk::platform::sdl {

struct ModalUiData {
    ModalUiData(SdlBackendData& backend, float fontPixels)
        : loop(backend.loop), windowThread(backend.windowThread), fontPixels(fontPixels) {}

    MessageLoop& loop;
    const std::thread::id windowThread;
    std::vector<Modal*> stack;  // each lives in the call that shows it
    const Modal* lastTop = nullptr;
    std::uint32_t shown = 0;  // boxes and dialogs shown so far; names their ImGui windows
    bool closed = false;
    std::atomic<bool> reportedOffThread{false};

    // The font.
    const float fontPixels;
    std::future<std::vector<char>> fontFile;  // being read until the first box or dialog
    bool japaneseWanted = false;              // a box or dialog has opened
    std::vector<char> fontData;  // the font file, kept for the atlas's rebuilds
    bool fontMissing = false;
    ImVector<ImWchar> glyphRanges;
    std::set<char32_t> extraGlyphs;  // asked for beyond the Japanese ranges
    bool fontDirty = false;
};

namespace {

// ImGui's default font is never smaller than this.
constexpr float smallestDefaultFontPixels = 13.0f;

// TrueType, OpenType and collection files; anything else would stop the atlas's builder.
bool looksLikeFont(const std::vector<char>& data) {
    constexpr std::size_t shortestFont = 12;  // the offset table
    constexpr std::size_t magicBytes = 4;
    if (data.size() < shortestFont) return false;
    static constexpr const char* magics[] = {"\x00\x01\x00\x00", "OTTO", "true", "ttcf"};
    for (const char* magic : magics)
        if (std::memcmp(data.data(), magic, magicBytes) == 0) return true;
    return false;
}

std::vector<char> readFontFile() {
    std::vector<char> data;
    std::FILE* file = std::fopen(SdlModalUi::fontPath, "rb");
    if (!file) return data;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        std::rewind(file);
        if (size > 0) data.resize(std::size_t(size));
        data.resize(std::fread(data.data(), 1, data.size(), file));
    }
    std::fclose(file);
    return data;
}

void takeFontFile(ModalUiData& d) {
    d.fontData = d.fontFile.valid() ? d.fontFile.get() : readFontFile();
    if (looksLikeFont(d.fontData)) return;
    std::cerr << "vesk: the font " << SdlModalUi::fontPath
              << " is missing or unreadable; boxes and dialogs use ImGui's default font,"
                 " which has no Japanese\n";
    d.fontData.clear();
    d.fontMissing = true;
}

bool addJapaneseFont(ModalUiData& d) {
    ImGuiIO& io = ImGui::GetIO();
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(io.Fonts->GetGlyphRangesJapanese());
    for (char32_t c : d.extraGlyphs) builder.AddChar(ImWchar(c));
    d.glyphRanges.clear();
    builder.BuildRanges(&d.glyphRanges);
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    // Whole pixels keep small kanji sharp, and a single sample keeps the atlas of some
    // three thousand glyphs small.
    config.OversampleH = 1;
    config.OversampleV = 1;
    config.PixelSnapH = true;
    return io.Fonts->AddFontFromMemoryTTF(d.fontData.data(), int(d.fontData.size()), d.fontPixels,
                                          &config, d.glyphRanges.Data) != nullptr;
}

void addFont(ModalUiData& d) {
    ImGui::GetIO().FontDefault = nullptr;
    if (d.japaneseWanted && !d.fontMissing && addJapaneseFont(d)) return;
    ImFontConfig config;
    config.SizePixels = std::max(smallestDefaultFontPixels, std::round(d.fontPixels));
    ImGui::GetIO().Fonts->AddFontDefault(&config);
}

void ensureGlyphs(ModalUiData& d, std::string_view text) {
    if (d.fontMissing) return;  // the default font cannot grow
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
        if (d.extraGlyphs.insert(c).second) d.fontDirty = true;
    }
}

// The atlas made again from the fonts and glyphs now wanted. Between frames.
void rebuildFont(ModalUiData& d) {
    ImGuiIO& io = ImGui::GetIO();
    // Before the first frame the OpenGL backend has made no texture yet and makes it itself.
    const bool hadTexture = io.Fonts->TexID != nullptr;
    if (hadTexture) ImGui_ImplOpenGL3_DestroyFontsTexture();
    io.Fonts->Clear();
    addFont(d);
    io.Fonts->Build();
    if (hadTexture) ImGui_ImplOpenGL3_CreateFontsTexture();
}

// The Japanese font, for the first box or dialog.
void wantJapanese(ModalUiData& d) {
    if (d.japaneseWanted) return;
    d.japaneseWanted = true;
    takeFontFile(d);
    d.fontDirty = false;
    rebuildFont(d);
}

bool refuseOffThread(ModalUiData& d, std::string_view what) {
    if (std::this_thread::get_id() == d.windowThread) return false;
    if (!d.reportedOffThread.exchange(true))
        std::cerr << "vesk: a box or dialog was asked for off the window thread and is not shown: "
                  << what << "\n";
    return true;
}

// A box or dialog on the stack for as long as the call that shows it runs.
class OnStack {
public:
    OnStack(ModalUiData& d, Modal& modal) : d_(d) {
        modal.serial = ++d.shown;
        d.stack.push_back(&modal);
    }
    ~OnStack() {
        d_.stack.pop_back();
        d_.lastTop = nullptr;  // whatever is on top now takes the focus back
        d_.closed = true;
    }
    OnStack(const OnStack&) = delete;
    OnStack& operator=(const OnStack&) = delete;

private:
    ModalUiData& d_;
};

// The dialog's texts: its caption and every control's, as the procedure set them.
void ensureDialogGlyphs(ModalUiData& d, const DialogTemplate& dialog,
                        const DialogControls& controls) {
    for (const DialogControl& c : dialog.controls)
        ensureGlyphs(d, c.id == noControlId ? std::string_view(c.text) : controls.text(c.id));
}

}  // namespace

SdlModalUi::SdlModalUi(SdlBackendData& backend, float fontPixels)
    : d_(std::make_unique<ModalUiData>(backend, fontPixels)) {
    d_->fontFile = std::async(std::launch::async, readFontFile);
    addFont(*d_);
}

SdlModalUi::~SdlModalUi() = default;

void SdlModalUi::prepareFrame() {
    if (!d_->fontDirty) return;
    d_->fontDirty = false;
    rebuildFont(*d_);
}

void SdlModalUi::showMessageBox(std::string_view text, BoxOwner) {
    // Owned or not, the box keeps the window from its input: keys go to the box.
    if (refuseOffThread(*d_, text)) return;
    wantJapanese(*d_);
    ensureGlyphs(*d_, text);
    ModalBox box(d_->loop, text);
    OnStack onStack(*d_, box);
    const std::uint32_t id = d_->loop.newModalId();
    box.arm(id);
    d_->loop.runModal(id);
}

int SdlModalUi::runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) {
    if (refuseOffThread(*d_, dialog.caption)) return dialogAbandoned;
    wantJapanese(*d_);
    DialogControls controls(dialog);
    ModalDialog window(d_->loop, dialog, controls);
    OnStack onStack(*d_, window);
    ensureGlyphs(*d_, dialog.caption);
    procedure.onInit(controls);
    ensureDialogGlyphs(*d_, dialog, controls);
    window.refresh();
    while (!controls.ended()) {
        const std::uint32_t id = d_->loop.newModalId();
        window.arm(id);
        if (!d_->loop.runModal(id)) break;  // the run is ending; the quit has been posted again
        const std::optional<ModalDialog::Action> action = window.takeAction();
        if (!action) continue;
        if (action->close)
            procedure.onClose(controls);
        else
            procedure.onCommand(controls, action->controlId);
        window.refresh();
    }
    return controls.ended() ? controls.result() : dialogAbandoned;
}

bool SdlModalUi::open() const { return !d_->stack.empty(); }

bool SdlModalUi::takeClosed() {
    const bool was = d_->closed;
    d_->closed = false;
    return was;
}

bool SdlModalUi::takeKey(ModalKey key) {
    if (d_->stack.empty()) return false;
    d_->stack.back()->key(key);
    return true;
}

void SdlModalUi::draw() {
    const std::vector<Modal*>& stack = d_->stack;
    for (std::size_t i = 0; i < stack.size(); ++i) {
        Modal& modal = *stack[i];
        const bool top = i + 1 == stack.size();
        // Named by depth and alternating, so consecutive boxes never share ImGui's state
        // and ImGui keeps no more than two windows per depth.
        const std::string name =
            "###vesk-modal-" + std::to_string(i) + "-" + std::to_string(modal.serial % 2);
        if (!top) ImGui::BeginDisabled();
        modal.draw(top, top && d_->lastTop != &modal, name);
        if (!top) ImGui::EndDisabled();
    }
    d_->lastTop = stack.empty() ? nullptr : stack.back();
}

std::optional<PixelRect> SdlModalUi::controlRect(int controlId) const {
    if (d_->stack.empty()) return std::nullopt;
    return d_->stack.back()->controlRect(controlId);
}

}  // namespace vesk::platform::sdl
