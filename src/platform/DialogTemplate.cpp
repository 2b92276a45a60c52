// Dialog templates and the control texts of an open dialog.
#include "platform/DialogTemplate.h"

namespace vesk::platform {

const DialogControl* DialogTemplate::control(int controlId) const {
    if (controlId == noControlId) return nullptr;
    for (const DialogControl& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

const DialogControl* DialogTemplate::defaultButton() const {
    for (const DialogControl& c : controls)
        if (c.kind == ControlKind::Button && (c.style & controlStyle::defaultButton)) return &c;
    return nullptr;
}

std::string truncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    return std::string(text.substr(0, end));
}

DialogControls::DialogControls(const DialogTemplate& dialog) : dialog_(dialog) {
    for (const DialogControl& c : dialog.controls)
        if (c.id != noControlId) texts_[c.id] = c.text;
}

void DialogControls::setControlText(int controlId, std::string_view text) {
    if (dialog_.control(controlId)) texts_[controlId] = std::string(text);
}

std::string DialogControls::controlText(int controlId, std::size_t maxBytes) const {
    auto it = texts_.find(controlId);
    if (it == texts_.end()) return {};
    return truncateUtf8(it->second, maxBytes);
}

void DialogControls::endDialog(int result) {
    if (ended_) return;  // the first end counts, as a dialog that has ended takes no more
    ended_ = true;
    result_ = result;
}

void DialogControls::type(int controlId, std::string_view text) {
    const DialogControl* c = dialog_.control(controlId);
    if (!c || c->kind != ControlKind::Edit) return;
    texts_[controlId] = c->maxLength ? truncateUtf8(text, c->maxLength) : std::string(text);
}

const std::string& DialogControls::text(int controlId) const {
    static const std::string none;
    auto it = texts_.find(controlId);
    return it == texts_.end() ? none : it->second;
}

}  // namespace vesk::platform
