// The session's lines, read and written with nlohmann-json, and the files' hashes with
// OpenSSL's SHA-256.
#include "app/SessionFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <utility>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

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
    if (hex.size() != std::size_t(liveMessageBytes) * 2) throw std::invalid_argument("a message is six hex digits");
    std::uint32_t word = 0;
    for (int i = 0; i < liveMessageBytes; ++i) {
        std::size_t used = 0;
        const unsigned long byte = std::stoul(hex.substr(std::size_t(i) * 2, 2), &used, hexBase);
        if (used != 2) throw std::invalid_argument("a message is six hex digits");
        word |= std::uint32_t(byte) << (i * bitsPerByte);
    }
    return word;
}

std::vector<std::uint8_t> notes(const Json& array) {
    std::vector<std::uint8_t> out;
    for (const Json& note : array) out.push_back(note.get<std::uint8_t>());
    return out;
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
    e.at = {o.at("tick").get<std::int64_t>(), o.at("painted").get<bool>()};
    switch (e.kind) {
    case Kind::Choice:
        e.endOfRun = o.contains("end");
        if (e.endOfRun) e.code = o.at("end").get<int>();
        if (o.contains("path")) e.path = o.at("path").get<std::string>(), e.channel = o.at("channel").get<int>();
        break;
    case Kind::Load: e.path = o.at("path").get<std::string>(), e.sha256 = o.at("sha256").get<std::string>(); break;
    case Kind::Dialog:
        e.fileText = o.at("file").get<std::string>(), e.path = o.at("path").get<std::string>();
        e.channelText = o.at("channel").get<std::string>();
        e.control = o.at("control").get<int>();
        break;
    case Kind::Live: e.ms = o.at("ms").get<double>(), e.message = messageWord(o.at("msg").get<std::string>()); break;
    case Kind::Take: e.on = notes(o.at("on")), e.off = notes(o.at("off")); break;
    case Kind::End: e.code = o.at("code").get<int>(), e.ms = o.value("ms", 0.0); break;
    case Kind::At: e.ms = o.value("ms", 0.0); break;
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
    session.width = o.at("width").get<int>();
    session.height = o.at("height").get<int>();
    session.unattended = o.at("unattended").get<bool>();
}

}  // namespace

std::optional<Session> readSession(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the session " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (std::string text; std::getline(in, text);) lines.push_back(text);
    // A last line without its newline was being written when the run stopped.
    in.clear();
    in.seekg(-1, std::ios::end);
    const bool cutShort = !lines.empty() && in.get() != '\n';
    Session session;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        try {
            const Json o = Json::parse(lines[i]);
            if (i == 0) readHeader(o, session);
            else session.events.push_back(fromJson(o));
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
        std::ifstream in(e.path, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        if (!in.good() && !in.eof()) {
            error = "the session played " + e.path + ", which cannot be read now: " + std::strerror(errno);
            return false;
        }
        if (sha256Hex(bytes) != e.sha256) {
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
