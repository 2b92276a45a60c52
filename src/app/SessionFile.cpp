// The session's lines, read and written with nlohmann-json, and the files' hashes with
// OpenSSL's SHA-256.
#include "app/SessionFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <utility>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "app/GivenFile.h"
#include "app/Options.h"
#include "platform/MidiMessage.h"
#include "platform/RegularFile.h"

namespace vesk::app {

namespace {

using Json = nlohmann::ordered_json;
using Kind = SessionEvent::Kind;

constexpr int compact = -1;
constexpr std::int64_t flushEveryMs = 1000;
constexpr int hexBase = 16;
constexpr std::uint32_t byteMask = 0xFF;
constexpr int bitsPerByte = 8;
constexpr int liveMessageBytes = 3;
// What a replay takes from a session: a window no larger than a wall of screens, times
// within what --until allows, notes and channels as MIDI has them.
constexpr int windowSideMax = 16384;
constexpr std::int64_t windowPixelsMax = std::int64_t(8192) * 8192;
constexpr double msMax = double(inputMsMax);
constexpr int channelCount = 16;
constexpr std::size_t readChunk = 1 << 16;

const std::map<Kind, std::string_view> kindNames = {
    {Kind::Start, "performance"}, {Kind::Choice, "choice"}, {Kind::Load, "load"}, {Kind::Dialog, "dialog"}, {Kind::Box, "box"},
    {Kind::Live, "live"},     {Kind::Take, "take"}, {Kind::At, "at"},         {Kind::End, "end"},
};

std::optional<Kind> kindNamed(const std::string& name) {
    for (const auto& [kind, text] : kindNames)
        if (text == name) return kind;
    return std::nullopt;
}

// The word's three bytes in the order they travel, status first: "903c64".
std::string messageHex(std::uint32_t word) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < liveMessageBytes; ++i) {
        const std::uint32_t byte = (word >> (i * bitsPerByte)) & byteMask;
        hex += digits[byte / hexBase];
        hex += digits[byte % hexBase];
    }
    return hex;
}

std::uint32_t messageWord(const std::string& hex) {
    const std::invalid_argument wrong("a live message is six hex digits, not '" + hex.substr(0, 16) + "'");
    if (hex.size() != std::size_t(liveMessageBytes) * 2) throw wrong;
    std::uint32_t word = 0;
    for (int i = 0; i < liveMessageBytes; ++i) {
        const char* digits = hex.data() + i * 2;
        std::uint32_t byte = 0;
        const auto [end, ec] = std::from_chars(digits, digits + 2, byte, hexBase);
        if (ec != std::errc{} || end != digits + 2) throw wrong;
        word |= byte << (i * bitsPerByte);
    }
    return word;
}

// A whole number of `what` from `low` to `high`, 0 <= low <= high.
std::int64_t within(const Json& value, std::int64_t low, std::int64_t high, const char* what) {
    if (value.is_number_unsigned()) {
        const std::uint64_t n = value.get<std::uint64_t>();
        if (n >= std::uint64_t(low) && n <= std::uint64_t(high)) return std::int64_t(n);
    } else if (value.is_number_integer()) {
        const std::int64_t n = value.get<std::int64_t>();
        if (n >= low && n <= high) return n;
    }
    throw std::invalid_argument(std::string(what) + " is " + value.dump() + ", not a whole number from " +
                                std::to_string(low) + " to " + std::to_string(high));
}

std::vector<std::uint8_t> notes(const Json& array) {
    std::vector<std::uint8_t> out;
    for (const Json& note : array.get_ref<const Json::array_t&>())
        out.push_back(std::uint8_t(within(note, 0, platform::highestNoteNumber, "a note")));
    return out;
}

double milliseconds(const Json& value) {
    const double ms = value.get<double>();
    if (!(ms >= 0 && ms <= msMax))
        throw std::invalid_argument("a time of " + value.dump() + " ms lies outside 0 to " + std::to_string(inputMsMax));
    return ms;
}

void putMoment(Json& object, SessionMoment at) {
    object["tick"] = at.tick;
    object["painted"] = at.painted;
}

Json toJson(const SessionEvent& e) {
    Json o = {{"ev", kindNames.at(e.kind)}};
    putMoment(o, e.at);
    switch (e.kind) {
    case Kind::Choice:
        if (e.endOfRun) o["end"] = e.code;
        else if (!e.path.empty()) o["path"] = e.path, o["channel"] = e.channel;
        else o["dialog"] = true;
        break;
    case Kind::Load: o["path"] = e.path, o["sha256"] = e.sha256; break;
    case Kind::Dialog:
        o["file"] = e.fileText, o["path"] = e.path, o["channel"] = e.channelText, o["control"] = e.control;
        break;
    case Kind::Box:
    case Kind::Start: break;
    case Kind::Live: o["ms"] = e.ms, o["msg"] = messageHex(e.message); break;
    case Kind::Take: o["on"] = e.on, o["off"] = e.off; break;
    case Kind::At: o["ms"] = e.ms; break;
    case Kind::End: o["ms"] = e.ms, o["code"] = e.code; break;
    }
    return o;
}

SessionEvent fromJson(const Json& o) {
    SessionEvent e;
    const std::optional<Kind> kind = kindNamed(o.at("ev").get<std::string>());
    if (!kind) throw std::invalid_argument("unknown event '" + o.at("ev").get<std::string>() + "'");
    e.kind = *kind;
    e.at = {within(o.at("tick"), 0, std::numeric_limits<std::int64_t>::max(), "a tick"),
            o.at("painted").get<bool>()};
    switch (e.kind) {
    case Kind::Choice:
        e.endOfRun = o.contains("end");
        if (e.endOfRun) e.code = o.at("end").get<int>();
        if (o.contains("path"))
            e.path = o.at("path").get<std::string>(), e.channel = int(within(o.at("channel"), 1, channelCount, "a channel"));
        break;
    case Kind::Load: e.path = o.at("path").get<std::string>(), e.sha256 = o.at("sha256").get<std::string>(); break;
    case Kind::Dialog:
        e.fileText = o.at("file").get<std::string>(), e.path = o.at("path").get<std::string>();
        e.channelText = o.at("channel").get<std::string>();
        e.control = o.at("control").get<int>();
        break;
    case Kind::Live: e.ms = milliseconds(o.at("ms")), e.message = messageWord(o.at("msg").get<std::string>()); break;
    case Kind::Take: e.on = notes(o.at("on")), e.off = notes(o.at("off")); break;
    case Kind::End: e.code = o.at("code").get<int>(), e.ms = milliseconds(o.value("ms", Json(0.0))); break;
    case Kind::At: e.ms = milliseconds(o.value("ms", Json(0.0))); break;
    case Kind::Box:
    case Kind::Start: break;
    }
    return e;
}

void readHeader(const Json& o, Session& session) {
    if (o.at("ev").get<std::string>() != "session") throw std::invalid_argument("it does not begin as a session does");
    if (o.at("version").get<int>() != sessionVersion)
        throw std::invalid_argument("it is of version " + o.at("version").dump() + "; this vesk reads version " +
                                    std::to_string(sessionVersion));
    session.seed = o.at("seed").get<unsigned>();
    session.width = int(within(o.at("width"), 1, windowSideMax, "the window's width"));
    session.height = int(within(o.at("height"), 1, windowSideMax, "the window's height"));
    if (std::int64_t(session.width) * session.height > windowPixelsMax)
        throw std::invalid_argument("a window of " + std::to_string(session.width) + "x" +
                                    std::to_string(session.height) + " is larger than any this vesk replays");
    session.unattended = o.at("unattended").get<bool>();
}

// The file's text; none with the reason. Only a regular file is read: a named pipe with
// no writer would hold the replay for ever.
std::optional<std::string> readText(const std::string& path, std::string& error) {
    std::string reason;
    std::optional<platform::RegularFile> file = platform::RegularFile::open(path, reason);
    for (std::string text; file;) {
        const std::size_t had = text.size();
        text.resize(had + readChunk);
        const std::optional<std::size_t> got =
            file->read(reinterpret_cast<std::uint8_t*>(text.data() + had), readChunk, reason);
        if (!got) break;
        text.resize(had + *got);
        if (*got < readChunk) return text;  // the end of the file
    }
    error = "cannot read the session " + path + ": " + reason;
    return std::nullopt;
}

}  // namespace

std::optional<Session> readSession(const std::string& path, std::string& error) {
    const std::optional<std::string> text = readText(path, error);
    if (!text) return std::nullopt;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text->size();) {
        const std::size_t end = std::min(text->find('\n', start), text->size());
        lines.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    // A last line without its newline was being written when the run stopped.
    const bool cutShort = !text->empty() && text->back() != '\n';
    Session session;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        try {
            const Json o = Json::parse(lines[i]);
            if (i == 0) {
                readHeader(o, session);
                continue;
            }
            SessionEvent e = fromJson(o);
            // Written as they happened: a moment before the last one is no session's.
            if (!session.events.empty() && e.at < session.events.back().at)
                throw std::invalid_argument("its moment (tick " + std::to_string(e.at.tick) +
                                            ") comes before the line above's");
            session.events.push_back(std::move(e));
        } catch (const std::exception& e) {
            if (i > 0 && i + 1 == lines.size() && cutShort) break;
            error = "the session " + path + " cannot be replayed: line " + std::to_string(i + 1) + ": " + e.what();
            return std::nullopt;
        }
    }
    if (lines.empty()) {
        error = "the session " + path + " is empty";
        return std::nullopt;
    }
    session.ended = !session.events.empty() && session.events.back().kind == Kind::End;
    for (const SessionEvent& e : session.events) session.lengthMs = std::max(session.lengthMs, e.ms);
    return session;
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        hex += digits[digest[i] / hexBase];
        hex += digits[digest[i] % hexBase];
    }
    return hex;
}

bool sessionFilesUnchanged(const Session& session, std::string& error) {
    for (const SessionEvent& e : session.events) {
        if (e.kind != Kind::Load) continue;
        std::string why;
        const std::optional<std::vector<std::uint8_t>> bytes = readWholeFile(e.path, why);
        if (!bytes) {
            error = "the session played " + e.path + ", which cannot be read now (" + why + ")";
            return false;
        }
        if (sha256Hex(*bytes) != e.sha256) {
            error = e.path + " has changed since the session was recorded (its SHA-256 differs), so the "
                             "session cannot be replayed as it was";
            return false;
        }
    }
    return true;
}

SessionWriter::SessionWriter(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

SessionWriter::~SessionWriter() { close(); }

bool SessionWriter::close() {
    if (!file_) return !failed_;
    flush();
    if (!file_) return false;
    std::FILE* file = std::exchange(file_, nullptr);
    if (std::fclose(file) != 0) fail();
    return !failed_;
}

void SessionWriter::fail() {
    std::cerr << "vesk: cannot write the session to " << path_ << ": " << std::strerror(errno) << "\n";
    if (file_) std::fclose(file_);
    file_ = nullptr;
    failed_ = true;
}

void SessionWriter::header(unsigned seed, int width, int height, bool unattended) {
    line({{"ev", "session"}, {"version", sessionVersion}, {"seed", seed}, {"width", width}, {"height", height},
          {"unattended", unattended}});
    flush();
}

void SessionWriter::write(const SessionEvent& event) {
    line(toJson(event));
    if (event.kind == Kind::End || event.kind == Kind::At) flush();
}

void SessionWriter::flushIfDue(std::int64_t nowMs, SessionEvent at) {
    if (nowMs - lastFlushMs_ < flushEveryMs) return;
    lastFlushMs_ = nowMs;
    // How far the run has come, so a replay of a run that then crashed goes as far.
    write(at);
}

void SessionWriter::line(const nlohmann::ordered_json& object) {
    if (!file_) return;
    const std::string text = object.dump(compact, ' ', false, Json::error_handler_t::replace) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail();
}

void SessionWriter::flush() {
    if (!file_) return;
    if (std::fflush(file_) != 0 || std::ferror(file_)) fail();
}

}  // namespace vesk::app
