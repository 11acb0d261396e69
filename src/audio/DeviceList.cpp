#include "audio/DeviceList.h"

namespace brivanta::audio {
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// The first maxChars characters of UTF-8 text (continuation bytes do not count).
std::string CutChars(const std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool startsChar = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsChar && ++chars > maxChars) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace

std::string ListedDeviceName(const std::string& reported, DeviceNameForm form) {
    if (form == DeviceNameForm::AsReported) {
        return CutChars(reported, kMaxDeviceNameChars);
    }
    // Trimmed again after the cut, so that a name never ends in a blank.
    return Trim(CutChars(Trim(reported), kMaxDeviceNameChars));
}

std::vector<WaveDeviceEntry> ListUsableDevices(IWaveBackend& backend, WaveDirection direction,
                                               DeviceNameForm form) {
    std::vector<WaveDeviceEntry> entries;
    for (const WaveDeviceInfo& info : backend.Devices(direction)) {
        if (info.supportsCdFormat) {
            entries.push_back(WaveDeviceEntry{info.id, ListedDeviceName(info.name, form)});
        }
    }
    return entries;
}

void WriteDeviceList(std::ostream& out, IWaveBackend& backend, WaveDirection direction) {
    const DeviceNameForm form =
        direction == WaveDirection::Input ? DeviceNameForm::Trimmed : DeviceNameForm::AsReported;
    for (const WaveDeviceEntry& entry : ListUsableDevices(backend, direction, form)) {
        out << entry.name << '\n';
    }
}

}  // namespace brivanta::audio
