#include "server/SettingChanges.h"

namespace brivanta::server {

uint32_t SettingChanges(const TSetting& before, const TSetting& after) {
    uint32_t changes = 0;
    if (before.Driver != after.Driver || before.Tag != after.Tag ||
        before.FormatIndex != after.FormatIndex || before.Port != after.Port ||
        before.Password != after.Password) {
        changes |= scStream;
    }
    if (before.Bitrate != after.Bitrate || before.Channles != after.Channles) {
        changes |= scStream | scDevice;
    }
    if (before.Device != after.Device) {
        changes |= scDevice;
    }
    if (before.ExtMode != after.ExtMode || before.ExtPort != after.ExtPort ||
        before.ExtPID != after.ExtPID || before.ExtPass != after.ExtPass ||
        before.ExtIPOnly != after.ExtIPOnly || before.ExtIP != after.ExtIP) {
        changes |= scExternal;
    }
    if (before.BlockSize != after.BlockSize) {
        changes |= scBlockSize;
    }
    if (before.MaxConnections != after.MaxConnections) {
        changes |= scMaxConnections;
    }
    return changes;
}

}  // namespace brivanta::server
