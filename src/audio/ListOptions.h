#pragma once

#include <ostream>

#include "audio/WaveDevice.h"
#include "common/CommandLine.h"

namespace brivanta::audio {

// Answers --list-codecs or --list-devices (devices of the given direction) on
// out; false when the command line asks for neither.
bool RunListOption(const common::CommandLine& line, WaveDirection direction, std::ostream& out);

}  // namespace brivanta::audio
