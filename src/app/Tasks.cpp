// The tasks beside a performance.
#include "app/Tasks.h"

#include <iostream>

#include "app/GivenFile.h"
#include "midi/SmfMerge.h"
#include "platform/midi/MidiDrivers.h"

namespace vesk::app {

int listPorts(const Options& options, std::ostream& out) {
    out << platform::midi::describePorts(options.midi);
    return 0;
}

int convertFile(const std::string& in, const std::string& out, std::ostream& log) {
    std::string error;
    const std::optional<std::vector<std::uint8_t>> bytes = readWholeFile(in, error);
    std::optional<midi::MergedSmf> smf;
    if (bytes && !(smf = midi::mergeSmf(*bytes, error))) error = "\"" + in + "\" " + error;
    std::optional<std::vector<std::uint8_t>> copy;
    if (smf && !(copy = midi::writeFormat0(*smf, error))) error = "\"" + in + "\" " + error;
    if (!copy || !writeWholeFile(out, *copy, error)) {
        log << "vesk: " << error << "\n";
        return exitFailed;
    }
    log << "vesk: wrote \"" << out << "\", format 0 with " << smf->events.size() << " events, from \"" << in
        << "\" (format " << smf->format << ", " << smf->tracks << (smf->tracks == 1 ? " track" : " tracks")
        << ")\n";
    return 0;
}

bool runTask(const Options& o, int& code) {
    if (o.help) std::cout << usageText();
    else if (o.version) std::cout << versionText();
    else if (o.listPorts) code = listPorts(o, std::cout);
    else if (!o.convert.empty()) code = convertFile(o.convert.front(), o.convert.back(), std::cerr);
    else return false;
    if (o.help || o.version) code = 0;
    return true;
}

}  // namespace vesk::app
