// The frames: the surface streamed to its texture and drawn scaled into the window with
// black bars, any box or dialog drawn over it by ImGui, and the pointer shown or hidden.
// A frame is drawn when the loop is idle and the picture changed or a box or dialog is
// open, so a still picture costs nothing.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include <GL/gl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include "platform/sdl/SdlBackendData.h"
#include "platform/sdl/SdlModalUi.h"

namespace vesk::platform::sdl {

namespace {

void uploadPicture(const SdlBackendData& bd) {
    glBindTexture(GL_TEXTURE_2D, bd.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    // 0xAARRGGBB words: blue in the lowest byte, which _REV reads first.
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, bd.surface.width(), bd.surface.height(), GL_BGRA,
                    GL_UNSIGNED_INT_8_8_8_8_REV, bd.surface.pixels().data());
}

// Pixel for pixel when unscaled, so the screen shows the surface's exact colours.
void chooseTextureFilter(SdlBackendData& bd, const PixelRect& picture) {
    const bool unscaled = picture.width == float(bd.sourceWidth) &&
                          picture.height == float(bd.sourceHeight);
    const int filter = unscaled ? GL_NEAREST : GL_LINEAR;
    if (filter == bd.textureFilter) return;
    glBindTexture(GL_TEXTURE_2D, bd.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    bd.textureFilter = filter;
}

// The picture behind everything ImGui draws this frame.
void drawPicture(SdlBackendData& bd) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const PixelRect r = pictureRect(bd, display.x, display.y);
    chooseTextureFilter(bd, r);
    ImGui::GetBackgroundDrawList()->AddImage(
        reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(bd.texture)), ImVec2(r.x, r.y),
        ImVec2(r.x + r.width, r.y + r.height), ImVec2(0, 0),
        ImVec2(float(bd.sourceWidth) / float(bd.surface.width()),
               float(bd.sourceHeight) / float(bd.surface.height())));
}

void updatePointer(SdlBackendData& bd) {
    // A box or dialog needs the pointer whatever the picture asked for.
    const bool show = !bd.pointerHidden || (bd.modalUi && bd.modalUi->open());
    if (show == bd.pointerShown) return;
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
    bd.pointerShown = show;
}

void renderFrame(SdlBackendData& bd) {
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(bd.window, &width, &height);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);  // the bars beside a picture of another aspect
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(bd.window);
    ++bd.framesPresented;
}

void present(SdlBackendData& bd, bool pictureChanged) {
    bd.presentNeeded = false;
    bd.modalUi->prepareFrame();
    if (pictureChanged) uploadPicture(bd);

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    drawPicture(bd);
    bd.modalUi->draw();
    ImGui::Render();
    updatePointer(bd);
    renderFrame(bd);
}

}  // namespace

void presentIfNeeded(SdlBackendData& bd) {
    const bool pictureChanged = bd.surface.takeChanged();
    const bool modalClosed = bd.modalUi->takeClosed();
    if (pictureChanged || modalClosed || bd.presentNeeded || bd.modalUi->open())
        present(bd, pictureChanged);
}

PixelRect pictureRect(const SdlBackendData& bd, float windowWidth, float windowHeight) {
    const float scale = std::min(windowWidth / float(bd.sourceWidth),
                                 windowHeight / float(bd.sourceHeight));
    const float width = std::round(float(bd.sourceWidth) * scale);
    const float height = std::round(float(bd.sourceHeight) * scale);
    return {std::floor((windowWidth - width) / 2), std::floor((windowHeight - height) / 2), width,
            height};
}

void setPointerHidden(SdlBackendData& bd, bool hidden) {
    bd.pointerHidden = hidden;
    updatePointer(bd);
}

}  // namespace vesk::platform::sdl
