#include "client/ClientStatus.h"

#include <cstdio>

namespace brivanta::client {

namespace {

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

}  // namespace

const char* StateName(TClientState state) {
    switch (state) {
        case csStop:
            return "Stop";
        case csOffline:
            return "Offline";
        case csConnect:
            return "Connect";
        case csLogin:
            return "Login";
        case csOnline:
            return "Online";
    }
    return "Stop";
}

std::string StatusText(TClientState state, int32_t correction) {
    if (state == csOnline && correction < 0) {
        return "Overtake";
    }
    if (state == csOnline && correction > 0) {
        return "Increase";
    }
    return StateName(state);
}

std::string StatusJson(const TClientStatus& s) {
    std::string json = "{";
    json += "\"state\":" + JsonText(s.stateText);
    json += ",\"buffered\":" + Fixed(s.buffered, 3);
    json += ",\"correction\":" + std::to_string(s.correction);
    json += ",\"next_seq\":" + std::to_string(s.nextSeq);
    json += ",\"connects\":" + std::to_string(s.connects);
    json += ",\"high_level\":" + Fixed(s.highLevel, 3);
    json += std::string(",\"overflow\":") + (s.overflow ? "true" : "false");
    json += ",\"corrected_chunks\":" + std::to_string(s.correctedChunks);
    json += ",\"dropped_bytes\":" + std::to_string(s.droppedBytes);
    json += std::string(",\"device_open\":") + (s.deviceState == dsOpen ? "true" : "false");
    json += ",\"left_db\":" + Fixed(s.leftDb, 1);
    json += ",\"right_db\":" + Fixed(s.rightDb, 1);
    json += ",\"device\":" + JsonText(s.device);
    json += ",\"server\":" + JsonText(s.server);
    json += ",\"codec\":" + JsonText(s.codec);
    json += ",\"bitrate\":" + JsonText(s.bitrate);
    json += "}";
    return json;
}

}  // namespace brivanta::client
