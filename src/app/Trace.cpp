// Trace lines and frames. Each line is one JSON object whose keys keep the order they are
// written in, "t" and "ev" first, so a reader (or a diff of two runs) sees them alike.
#include "app/Trace.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "midi/SmfLoading.h"
#include "platform/headless/PngFrames.h"

namespace vesk::app {

namespace {

using platform::headless::Record;
using Json = nlohmann::ordered_json;

// On one line, non-ASCII text as it is (the boxes speak Japanese); bytes that are not
// UTF-8 (a file name typed on the command line) become U+FFFD rather than bad JSON.
constexpr int compact = -1;
constexpr bool asciiOnly = false;
constexpr std::int64_t usPerMs = 1000;

Json bytesArray(std::span<const std::uint8_t> bytes) {
    Json out = Json::array();
    for (std::uint8_t b : bytes) out.push_back(b);
    return out;
}

std::string editText(const Record& r, int controlId) {
    for (const auto& [id, text] : r.fields)
        if (id == controlId) return text;
    return {};
}

// Run and the close box both end the file dialog with the same result; the button
// pressed last tells them apart.
const char* dialogOutcome(const Record& r) {
    if (r.result != midi::dialogRun) return "quit";
    return r.lastControl == midi::runButton ? "run" : "close";
}

}  // namespace

std::string framePath(const std::string& framesDir, int frame) {
    return platform::framePngPath(framesDir, frame);
}

Trace::Trace(platform::headless::HeadlessPlatform& platform, std::FILE* out, std::string framesDir)
    : platform_(platform), out_(out), framesDir_(std::move(framesDir)) {
    platform_.onRecord([this](const Record& r) { record(r); });
}

void Trace::line(std::string_view event, const Json& fields) {
    std::lock_guard lock(mutex_);
    if (!out_) return;  // no trace, or one that could not be written
    Json object = {{"ev", event}};
    for (const auto& field : fields.items()) object[field.key()] = field.value();
    const std::string text = object.dump(compact, ' ', asciiOnly, Json::error_handler_t::replace);
    // "t" first, in milliseconds to the microsecond, always with three decimals: the same
    // form on either clock, and a reader can hold a run against a file's timeline.
    const std::int64_t us = platform_.loop().source().nowUs();
    const int written = std::fprintf(out_, "{\"t\":%lld.%03lld,%s\n", static_cast<long long>(us / usPerMs),
                                     static_cast<long long>(us % usPerMs), text.c_str() + 1);
    if (written < 0 || std::fflush(out_) != 0 || std::ferror(out_)) writeFailed();
}

void Trace::writeFailed() {
    std::cerr << "vesk: cannot write the trace: " << std::strerror(errno) << "\n";
    // Nothing more is written to it; the run goes on and ends with the failure's code.
    out_ = nullptr;
    traceOk_ = false;
}

void Trace::record(const Record& r) {
    switch (r.kind) {
    case Record::Kind::MessageBox:
        line("message_box", {{"text", r.text}, {"owner", r.owner == platform::BoxOwner::Window}});
        break;
    case Record::Kind::Dialog:
        line("dialog", {{"result", dialogOutcome(r)},
                        {"file", editText(r, midi::fileNameControl)},
                        {"channel", editText(r, midi::channelControl)}});
        break;
    case Record::Kind::DisplayMode:
        line("display_mode",
             {{"w", r.width}, {"h", r.height}, {"bits", r.bits}, {"accepted", r.accepted}});
        break;
    case Record::Kind::Beep:
        line("beep", {{"hz", r.hz}, {"ms", r.ms}});
        break;
    case Record::Kind::Sleep:
    case Record::Kind::Pointer:
        break;
    }
}

void Trace::performanceStarted(const Vesk& vesk) {
    line("performance_start", {{"replayMode", int(vesk.state.replayMode)}});
}

void Trace::tickCompleted(const Vesk& vesk) {
    const PerformanceState& s = vesk.state;
    line("tick", {{"scoreTick", s.scoreTick},
                  {"silentTicks", s.silentTicks},
                  {"segmentCount", s.flake.segmentCount},
                  {"meshSegmentCount", s.flake.meshSegmentCount},
                  {"finaleStarted", bool(s.finaleStarted)},
                  {"rippleStage", s.rippleStage},
                  {"ringOffset", s.ringOffset}});
}

void Trace::repainted(const Vesk&) {
    if (framesDir_.empty() || !framesOk_) return;
    const std::string path = framePath(framesDir_, ++frames_);
    const std::string error = platform_.writeSurfacePng(path);
    if (!error.empty()) {
        std::cerr << "vesk: cannot write frames: " << error << "\n";
        framesOk_ = false;
        return;
    }
    line("frame", {{"file", path}});
}

void Trace::exit(int code) {
    line("exit", {{"code", code}});
    // Standard output may be a file that fills too; a closed trace file was checked line by line.
    std::lock_guard lock(mutex_);
    if (out_ && (std::fflush(out_) != 0 || std::ferror(out_))) writeFailed();
}

std::unique_ptr<platform::MidiOutput> Trace::Ports::openOutput() {
    return std::make_unique<TracingOutput>(trace_);
}

void Trace::TracingOutput::sendShort(std::uint32_t message) {
    const std::uint8_t bytes[3] = {std::uint8_t(message), std::uint8_t(message >> 8),
                                   std::uint8_t(message >> 16)};
    const int length = platform::shortMessageLength(bytes[0]);
    trace_.line("midi_out", {{"data", bytesArray(std::span(bytes, std::size_t(length)))}});
}

void Trace::TracingOutput::sendLong(std::span<const std::uint8_t> bytes) {
    trace_.line("midi_out_long", {{"data", bytesArray(bytes)}});
}

void Trace::TracingOutput::reset() { trace_.line("midi_reset", Json::object()); }

}  // namespace vesk::app
