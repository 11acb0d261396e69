// Fuzz target: any bytes as a settings file, read as both programs read theirs.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "client/ClientSetting.h"
#include "common/ProfileFile.h"
#include "common/ProfileSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivanta;
    common::ProfileFile file;
    file.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    common::SettingsReader read(file);
    std::string text;
    int32_t number = 0;
    uint16_t port = 0;
    double fraction = 0;
    std::vector<std::string> list;
    read.Text("Setting", "Name", "", 128, text);
    read.Integer<int32_t>("setting", "Bitrate", 44100, number);
    read.Integer<uint16_t>("Setting", "Port", 2102, port);
    read.Number("Setting", "Buffer", 1.0, fraction);
    read.Password("Setting", "Password", text);
    read.NumberedList("Plugins", "File", list);
    file.WriteString("Setting", "Name", "x");
    file.EraseSection("Plugins");
    (void)file.Text();
    return 0;
}
