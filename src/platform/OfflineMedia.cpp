// The offline render's table of outputs: the folder of PNG frames, then FFmpeg's formats
// when this build has them, from the video module loaded at the first need. The
// synthesiser comes with them: a build without video has no output that keeps sound.
#include "platform/OfflineMedia.h"

#include <filesystem>
#include <span>
#include <vector>

#include "platform/headless/PngFrames.h"
#if VESK_WITH_VIDEO
#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "platform/midi/FluidSynthOutput.h"
#include "platform/midi/OfflineSynth.h"
#include "platform/video/VideoModule.h"
#endif

namespace vesk::platform {

namespace {

namespace fs = std::filesystem;

constexpr char folderDescription[] = "a folder of PNG frames";

bool namesFolder(const std::string& path) {
    std::error_code ignored;
    return path.ends_with('/') || fs::is_directory(path, ignored) ||
           !fs::path(path).has_extension();
}

#if VESK_WITH_VIDEO
// The program's own folder, from the link the kernel keeps; empty when it cannot be read.
fs::path programFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 ? fs::path(std::string(buffer, std::size_t(length))).parent_path() : fs::path();
}

// Where the module is: beside an installed program (bin/ and lib/vesk/), in the build tree
// (the program at its root, the tests and benchmarks a folder down), or where it was built.
std::vector<fs::path> moduleCandidates() {
    const fs::path here = programFolder();
    const fs::path inLib = fs::path("lib") / "vesk" / video::videoModuleFile;
    return {here / ".." / inLib, here / inLib, fs::path(VESK_VIDEO_MODULE_BUILT)};
}

// The module's table, loaded once and kept for the program's life; null, with why, when it
// cannot be loaded.
const video::VideoModuleApi* videoModule(std::string& reason) {
    static std::string failure;
    static const video::VideoModuleApi* const api = []() -> const video::VideoModuleApi* {
        for (const fs::path& candidate : moduleCandidates()) {
            std::error_code ignored;
            if (!fs::exists(candidate, ignored)) continue;
            void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                failure = ::dlerror();
                return nullptr;
            }
            if (auto entry = reinterpret_cast<video::VideoModuleEntry>(::dlsym(handle, video::videoModuleEntry)))
                return entry();
            failure = candidate.string() + " is not the video module";
            return nullptr;
        }
        failure = std::string(video::videoModuleFile) + " is missing beside the program";
        return nullptr;
    }();
    if (!api) reason = "cannot write video: " + failure;
    return api;
}
#endif

std::string knownForms() {
    std::string known;
#if VESK_WITH_VIDEO
    std::string ignored;
    const video::VideoModuleApi* module = videoModule(ignored);
    for (const video::VideoFormat& format : module ? module->formats() : std::span<const video::VideoFormat>{})
        known += std::string(format.extension) + " (" + std::string(format.description) + "), ";
#endif
    return known + "or a folder for PNG frames";
}

}  // namespace

std::optional<MediaTarget> mediaTargetFor(const std::string& path, std::string& reason) {
    if (namesFolder(path))
        return MediaTarget{.form = MediaTarget::Form::Folder, .description = folderDescription,
                           .keepsPicture = true, .keepsSound = false, .windowSizeOnly = true};
    const std::string extension = fs::path(path).extension().string();
#if VESK_WITH_VIDEO
    const video::VideoModuleApi* module = videoModule(reason);
    if (!module) return std::nullopt;
    if (const video::VideoFormat* format = module->formatFor(extension)) {
        if (!module->available(*format, reason)) return std::nullopt;
        return MediaTarget{.form = MediaTarget::Form::File,
                           .description = std::string(format->description),
                           .keepsPicture = !format->picture.name.empty(),
                           .keepsSound = !format->sound.name.empty(),
                           .evenSize = format->evenSize,
                           .format = format};
    }
#endif
    reason = "cannot write " + path + ": unknown extension " + extension + "; this build writes " +
             knownForms();
    return std::nullopt;
}

std::unique_ptr<MediaWriter> openMediaWriter(const MediaTarget& target, const std::string& path,
                                             const MediaLayout& layout, std::string& reason) {
    if (target.form == MediaTarget::Form::Folder) return openPngFrames(path, layout, reason);
#if VESK_WITH_VIDEO
    const video::VideoModuleApi* module = videoModule(reason);
    if (!module) return nullptr;
    return module->openWriter(path, *static_cast<const video::VideoFormat*>(target.format), layout, reason);
#else
    reason = "this build writes no video files";
    return nullptr;
#endif
}

std::unique_ptr<OfflineSound> openOfflineSound(const std::string& soundFont,
                                               std::function<std::int64_t()> clockUs,
                                               SoundSink sink, std::string& reason) {
#if VESK_WITH_VIDEO
    const std::string found = midi::findSoundFont(soundFont);
    if (found.empty()) {
        reason = "no SoundFont is installed for the sound (timgm6mb-soundfont has one)";
        return nullptr;
    }
    return midi::OfflineSynth::create(found, std::move(clockUs), std::move(sink), reason);
#else
    (void)soundFont, (void)clockUs, (void)sink;
    reason = "this build has no synthesiser";
    return nullptr;
#endif
}

}  // namespace vesk::platform
