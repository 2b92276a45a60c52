// Trace lines and frames.
#include "app/Trace.h"

#include <iostream>

#include "midi/SmfLoading.h"

namespace vesk::app {

namespace {

using platform::headless::Record;

std::string bytesArray(std::span<const std::uint8_t> bytes) {
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ",";
        out += std::to_string(bytes[i]);
    }
    return out + "]";
}

const char* boolText(bool b) { return b ? "true" : "false"; }

std::string editText(const Record& r, int controlId) {
    for (const auto& [id, text] : r.fields)
        if (id == controlId) return text;
    return {};
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

Trace::Trace(platform::headless::HeadlessPlatform& platform, std::FILE* out, std::string framesDir)
    : platform_(platform), out_(out), framesDir_(std::move(framesDir)) {
    platform_.onRecord([this](const Record& r) { record(r); });
}

void Trace::line(const std::string& event, const std::string& fields) {
    if (!out_) return;
    std::lock_guard lock(mutex_);
    std::fprintf(out_, "{\"t\":%lld,\"ev\":\"%s\"%s}\n", static_cast<long long>(platform_.nowMs()),
                 event.c_str(), fields.c_str());
    std::fflush(out_);
}

void Trace::record(const Record& r) {
    switch (r.kind) {
    case Record::Kind::MessageBox:
        line("message_box", ",\"text\":" + jsonString(r.text) + ",\"owner\":" + boolText(r.owner == platform::BoxOwner::Window));
        break;
    case Record::Kind::Dialog: {
        // Run and the close box both end the file dialog with 1; the button tells them apart.
        const char* result = r.result == midi::dialogRun ? (r.lastControl == midi::runButton ? "run" : "close") : "quit";
        line("dialog", std::string(",\"result\":\"") + result + "\",\"file\":" +
                           jsonString(editText(r, midi::fileNameControl)) + ",\"channel\":" +
                           jsonString(editText(r, midi::channelControl)));
        break;
    }
    case Record::Kind::DisplayMode:
        line("display_mode", ",\"w\":" + std::to_string(r.width) + ",\"h\":" + std::to_string(r.height) +
                                 ",\"bits\":" + std::to_string(r.bits) + ",\"accepted\":" + boolText(r.accepted));
        break;
    case Record::Kind::Beep:
        line("beep", ",\"hz\":" + std::to_string(r.hz) + ",\"ms\":" + std::to_string(r.ms));
        break;
    case Record::Kind::Sleep:
    case Record::Kind::Pointer:
        break;
    }
}

void Trace::performanceStarted(const Vesk& vesk) {
    line("performance_start", ",\"replayMode\":" + std::to_string(int(vesk.state.replayMode)));
}

void Trace::tickCompleted(const Vesk& vesk) {
    const PerformanceState& s = vesk.state;
    line("tick", ",\"scoreTick\":" + std::to_string(s.scoreTick) + ",\"silentTicks\":" +
                     std::to_string(s.silentTicks) + ",\"segmentCount\":" +
                     std::to_string(s.flake.segmentCount) + ",\"meshSegmentCount\":" +
                     std::to_string(s.flake.meshSegmentCount) + ",\"finaleStarted\":" +
                     boolText(s.finaleStarted) + ",\"rippleStage\":" + std::to_string(s.rippleStage) +
                     ",\"ringOffset\":" + std::to_string(s.ringOffset));
}

void Trace::repainted(const Vesk&) {
    if (framesDir_.empty() || !framesOk_) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06d.png", ++frames_);
    const std::string path = framesDir_ + name;
    const std::string error = platform_.writeSurfacePng(path);
    if (!error.empty()) {
        std::cerr << "vesk: cannot write frames: " << error << "\n";
        framesOk_ = false;
        return;
    }
    line("frame", ",\"file\":" + jsonString(path));
}

void Trace::exit(int code) { line("exit", ",\"code\":" + std::to_string(code)); }

std::unique_ptr<platform::MidiOutput> Trace::Ports::openOutput() {
    return std::make_unique<TracingOutput>(trace_);
}

void Trace::TracingOutput::sendShort(std::uint32_t message) {
    const std::uint8_t bytes[3] = {std::uint8_t(message), std::uint8_t(message >> 8),
                                   std::uint8_t(message >> 16)};
    const int length = platform::shortMessageLength(bytes[0]);
    trace_.line("midi_out", ",\"data\":" + bytesArray(std::span(bytes, std::size_t(length))));
}

void Trace::TracingOutput::sendLong(std::span<const std::uint8_t> bytes) {
    trace_.line("midi_out_long", ",\"data\":" + bytesArray(bytes));
}

void Trace::TracingOutput::reset() { trace_.line("midi_reset", ""); }

}  // namespace vesk::app
