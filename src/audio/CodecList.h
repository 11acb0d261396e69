#pragma once

#include <string>
#include <vector>

#include "audio/MSACM.h"

namespace brivanta::audio {

// The lines of --list-codecs: one encodable format a line as
// "driver name<TAB>format tag<TAB>format index<TAB>format name", numbers in
// decimal, in catalogue order, for 16-bit PCM of the given rate and channels.
std::vector<std::string> ListCodecs(int samplesPerSec, int channels,
                                    std::shared_ptr<msacm::IAcm> acm = msacm::CreateCodecLayer());

}  // namespace brivanta::audio
