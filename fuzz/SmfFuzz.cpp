// Fuzz target: any bytes as a loaded file, its header checked and the whole track played
// on virtual time to an output that reads every byte it is given. Reads outside the
// loaded bytes, hangs and crashes are what the sanitizers and the fuzzer look for.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "midi/Sequencer.h"
#include "midi/SmfFile.h"
#include "platform/MidiMessage.h"
#include "platform/headless/HeadlessPlatform.h"
#include "ReadingOutput.h"

#if defined(__SANITIZE_ADDRESS__)
#define VESK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESK_ASAN 1
#endif
#endif
#ifdef VESK_ASAN
#include <sanitizer/asan_interface.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    platform::headless::HeadlessPlatform platform(8, 8);
    // One buffer for the whole run, as the program has. Bytes past the load hold what an
    // earlier, larger file left and must never be read: under AddressSanitizer they are
    // poisoned, so any read of them is reported.
    static midi::SmfFile file = [] {
        midi::SmfFile f;
        midi::allocSmfBuffer(f);
        return f;
    }();
    std::uint8_t* buffer = file.smfBuffer.get();
    if (!buffer) return 0;
    const std::size_t loaded = size < std::size_t(midi::smfBufferSize) ? size : midi::smfBufferSize - 1;
#ifdef VESK_ASAN
    ASAN_UNPOISON_MEMORY_REGION(buffer, midi::smfBufferSize);
#endif
    if (loaded) std::memcpy(buffer, data, loaded);
#ifdef VESK_ASAN
    ASAN_POISON_MEMORY_REGION(buffer + loaded, std::size_t(midi::smfBufferSize) - loaded);
#endif
    file.smfLength = int(loaded);
    file.listenChannel = size ? data[0] & platform::channelMask : 0;

    PerformanceState state;
    midi::NoteInbox inbox;
    fuzz::ReadingOutput output;
    midi::Sequencer sequencer(file, state, inbox, platform, &output);
    platform.runAt(0, [&] { sequencer.startLoaded(); });
    // Long enough for any file that plays (a whole track of small deltas), short of the
    // years a huge delta asks for.
    platform.stopAt(std::int64_t(1) << 40);
    platform.loop().run();
    inbox.drainInto(state);
    return 0;
}
