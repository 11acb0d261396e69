#include "audio/WaveDevice.h"

#include "audio/PortAudioDevices.h"

namespace brivanta::audio {

std::string WaveErrorText(int code) {
    switch (code) {
        case 0:
            return "success";
        case -1:
            return "no usable device";
        case wave_error::kError:
            return "device error";
        case wave_error::kBadDeviceId:
            return "no such device";
        case wave_error::kAllocated:
            return "device is in use";
        case wave_error::kNoMemory:
            return "device queue is full";
        case wave_error::kInvalidParam:
            return "invalid call";
        case wave_error::kBadFormat:
            return "format not supported";
        default:
            return code < 0 ? PortAudioErrorText(code) : "error " + std::to_string(code);
    }
}

}  // namespace brivanta::audio
