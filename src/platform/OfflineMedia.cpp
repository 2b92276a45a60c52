// The offline render's table of outputs: the folder of PNG frames, then FFmpeg's formats
// when this build has them. The synthesiser comes with them: a build without video has
// no output that keeps sound.
#include "platform/OfflineMedia.h"

#include <filesystem>

#include "platform/headless/PngFrames.h"
#if VESK_WITH_VIDEO
#include "platform/midi/FluidSynthOutput.h"
#include "platform/midi/OfflineSynth.h"
#include "platform/video/VideoWriter.h"
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

std::string knownForms() {
    std::string known;
#if VESK_WITH_VIDEO
    for (const video::VideoFormat& format : video::videoFormats())
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
    if (const video::VideoFormat* format = video::videoFormatFor(extension)) {
        if (!video::videoFormatAvailable(*format, reason)) return std::nullopt;
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
                                             const MediaSpec& spec, std::string& reason) {
    if (target.form == MediaTarget::Form::Folder) return openPngFrames(path, spec, reason);
#if VESK_WITH_VIDEO
    return video::openVideoWriter(path, *static_cast<const video::VideoFormat*>(target.format),
                                  spec, reason);
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
