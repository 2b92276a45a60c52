// vesk-seam-demo: runs the seam demo on a backend of the driver table, or headless with
// virtual time, where it can write every rendered frame as a PNG and prints everything
// it shows and sends, so two runs can be compared byte for byte.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "demo/SeamDemo.h"
#include "platform/Backends.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"

namespace {

using namespace vesk;

constexpr const char* usage =
    "Usage: vesk-seam-demo [options]\n"
    "Runs the platform seam's demo: the seed flake turning, the star ring, a ripple and a\n"
    "message box opened from inside a tick while the ticks go on.\n"
    "\n"
    "  --backend NAME   sdl, headless or auto (default auto: sdl when a display opens)\n"
    "  --windowed       a 1024x768 window instead of full screen (sdl)\n"
    "  --ticks N        quit after N complete ticks (default: run until Esc or close;\n"
    "                   headless: 60)\n"
    "  --box-at N       the tick that opens the message box (default 12; 0 none)\n"
    "  --ripple-at N    the tick that starts the ripple (default 4; 0 none)\n"
    "  --seed N         seed of the growth's random draws (default 1)\n"
    "  --frames DIR     headless: write each rendered frame as DIR/frame-NNNNNN.png\n"
    "  --help           this text\n"
    "\n"
    "Headless runs print every box, display mode, pointer move and MIDI message with its\n"
    "virtual time on standard output; Esc quits a real window.\n";

int badOption(const std::string& message) {
    std::cerr << "vesk-seam-demo: " << message << "\n" << "Try 'vesk-seam-demo --help'.\n";
    return 2;
}

bool parseCount(std::string_view text, int& out) {
    if (text.empty() || text.size() > 9) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

const char* kindName(platform::headless::Record::Kind kind) {
    using Kind = platform::headless::Record::Kind;
    switch (kind) {
    case Kind::MessageBox: return "message_box";
    case Kind::Dialog: return "dialog";
    case Kind::DisplayMode: return "display_mode";
    case Kind::Beep: return "beep";
    case Kind::Sleep: return "sleep";
    case Kind::Pointer: return "pointer";
    }
    return "?";
}

int runHeadless(demo::SeamDemoOptions options, const std::string& framesDir) {
    platform::headless::HeadlessPlatform headless;
    platform::midi::RecordingMidiOutput midi([&headless] { return headless.nowMs() * 1000; });
    headless.onRecord([](const platform::headless::Record& r) {
        std::printf("%lld %s \"%s\" %d %d %d %d\n", static_cast<long long>(r.timeMs),
                    kindName(r.kind), r.text.c_str(), r.a, r.b, r.c, int(r.flag));
    });
    bool frameFailed = false;
    if (!framesDir.empty()) {
        options.afterRepaint = [&](int repaints) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame-%06d.png", repaints);
            const std::string error = headless.writeSurfacePng(framesDir + name);
            if (!error.empty() && !frameFailed) {
                std::cerr << "vesk-seam-demo: " << error << "\n";
                frameFailed = true;
            }
        };
    }
    const int code = demo::runSeamDemo(headless, &midi, options);
    for (const auto& m : midi.entries()) {
        std::printf("%lld midi", static_cast<long long>(m.timeUs / 1000));
        for (std::uint8_t b : m.bytes) std::printf(" %02X", b);
        std::printf("\n");
    }
    std::printf("%lld exit %d\n", static_cast<long long>(headless.nowMs()), code);
    return frameFailed ? 1 : code;
}

}  // namespace

int main(int argc, char** argv) {
    demo::SeamDemoOptions options;
    std::string backend = "auto";
    std::string framesDir;
    bool windowed = false;
    bool ticksGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        } else if (arg == "--windowed") {
            windowed = true;
        } else if (arg == "--backend") {
            if (!value(v)) return badOption("--backend needs a name");
            backend = v;
        } else if (arg == "--frames") {
            if (!value(v) || v.empty()) return badOption("--frames needs a directory");
            framesDir = v;
        } else if (arg == "--ticks" || arg == "--box-at" || arg == "--ripple-at" || arg == "--seed") {
            int n = 0;
            if (!value(v) || !parseCount(v, n))
                return badOption(std::string(arg) + " needs a whole number, not '" + std::string(v) + "'");
            if (arg == "--ticks") options.quitAfterTicks = n, ticksGiven = true;
            if (arg == "--box-at") options.boxAtTick = n;
            if (arg == "--ripple-at") options.rippleAtTick = n;
            if (arg == "--seed") options.seed = unsigned(n);
        } else {
            return badOption("unknown option '" + std::string(arg) + "'");
        }
    }

    if (backend == "headless") {
        if (!ticksGiven) options.quitAfterTicks = 60;
        return runHeadless(options, framesDir);
    }
    if (!framesDir.empty()) return badOption("--frames needs --backend headless");

    platform::BackendOptions backendOptions;
    backendOptions.windowed = windowed;
    std::string reason;
    std::unique_ptr<platform::Platform> platform =
        platform::createBackend(backend, backendOptions, reason);
    if (!platform) {
        std::cerr << "vesk-seam-demo: " << reason << "\n";
        return 1;
    }
    return demo::runSeamDemo(*platform, nullptr, options);
}
