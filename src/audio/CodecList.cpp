#include "audio/CodecList.h"

#include "audio/ACM.h"

namespace brivanta::audio {

std::vector<std::string> ListCodecs(int samplesPerSec, int channels,
                                    std::shared_ptr<msacm::IAcm> acm) {
    TACM catalogue(TACM::kEncode, samplesPerSec, channels, 0, true, std::move(acm));
    std::vector<std::string> lines;
    for (const auto& driver : catalogue.Drivers()) {
        for (const auto& format : driver->Formats) {
            lines.push_back(driver->Name + '\t' + std::to_string(format->FormatTag()) + '\t' +
                            std::to_string(format->FormatIndex) + '\t' + format->Name);
        }
    }
    return lines;
}

}  // namespace brivanta::audio
