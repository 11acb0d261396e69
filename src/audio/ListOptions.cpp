#include "audio/ListOptions.h"

#include "audio/CodecList.h"
#include "audio/DeviceList.h"
#include "audio/SystemDevices.h"

namespace brivanta::audio {

bool RunListOption(const common::CommandLine& line, WaveDirection direction, std::ostream& out) {
    if (line.listCodecs) {
        for (const std::string& codec : ListCodecs(line.rate, line.channels)) {
            out << codec << "\n";
        }
        return true;
    }
    if (line.listDevices) {
        common::SystemClock clock;
        const auto devices = MakeSystemBackend(clock, {});
        WriteDeviceList(out, *devices, direction);
        return true;
    }
    return false;
}

}  // namespace brivanta::audio
