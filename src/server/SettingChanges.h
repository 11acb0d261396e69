#pragma once

#include <cstdint>

#include "server/ServerSetting.h"

namespace brivanta::server {

// What a saved settings change asks the running server to restart.
enum TSettingChange : uint32_t {
    scStream = 1,
    scDevice = 2,
    scExternal = 8,
    scBlockSize = 16,
    scMaxConnections = 32,
};

// The change flags between the settings in use and newly saved ones.
uint32_t SettingChanges(const TSetting& before, const TSetting& after);

}  // namespace brivanta::server
