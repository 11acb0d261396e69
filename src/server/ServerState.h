#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ConnectionsView.h"

namespace brivanta::server {

enum class TLabelColour { Black, Red, Navy };

// What the server shows: published by the engine on its main thread, read by
// the window or the console as a copy.
struct TServerState {
    std::string Caption;  // the window caption
    std::string StatusText = "Server down";
    TLabelColour StatusColour = TLabelColour::Red;
    bool StatusClickable = false;  // during the start-up delay: "Click for drop delay"

    std::string LabDevice, LabDriver, LabCodec, LabFreq, LabChannel;
    bool DeviceOk = true, DriverOk = true, CodecOk = true;  // caption labels black, else red

    bool RunVisible = true, StopVisible = false, SettingVisible = true, RunEnabled = false;
    bool ShowLogConnect = false;  // the "LogConnect" page (setting Author)
    bool MinimiseRequested = false;

    bool Online = false;  // the stream listener is active
    int Listeners = 0;    // slots Online
    size_t Queue = 0;     // blocks queued
    uint16_t Seq = 0;     // the last sequence number
    bool Capturing = false;
    double LevelLeft = -100, LevelRight = -100;
    std::vector<TConnectionRow> Connections;
};

}  // namespace brivanta::server
