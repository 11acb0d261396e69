#include "server/SettingChanges.h"

#include <gtest/gtest.h>

#include <functional>

namespace brivanta::server {
namespace {

TEST(SettingChanges, EachFieldSetsItsFlags) {
    struct Case {
        const char* field;
        std::function<void(TSetting&)> change;
        uint32_t flags;
    } cases[] = {
        {"Driver", [](TSetting& s) { s.Driver = "Opus"; }, scStream},
        {"Tag", [](TSetting& s) { s.Tag = 80; }, scStream},
        {"FormatIndex", [](TSetting& s) { s.FormatIndex = 3; }, scStream},
        {"Port", [](TSetting& s) { s.Port = 2200; }, scStream},
        {"Password", [](TSetting& s) { s.Password = "x"; }, scStream},
        {"Bitrate", [](TSetting& s) { s.Bitrate = 48000; }, scStream | scDevice},
        {"Channles", [](TSetting& s) { s.Channles = 1; }, scStream | scDevice},
        {"Device", [](TSetting& s) { s.Device = "Virtual silence"; }, scDevice},
        {"ExtMode", [](TSetting& s) { s.ExtMode = 1; }, scExternal},
        {"ExtPort", [](TSetting& s) { s.ExtPort = 2200; }, scExternal},
        {"ExtPID", [](TSetting& s) { s.ExtPID = 3; }, scExternal},
        {"ExtPass", [](TSetting& s) { s.ExtPass = "p"; }, scExternal},
        {"ExtIPOnly", [](TSetting& s) { s.ExtIPOnly = true; }, scExternal},
        {"ExtIP", [](TSetting& s) { s.ExtIP = "10.0.0.1"; }, scExternal},
        {"BlockSize", [](TSetting& s) { s.BlockSize = 3; }, scBlockSize},
        {"MaxConnections", [](TSetting& s) { s.MaxConnections = 5; }, scMaxConnections},
        {"Name", [](TSetting& s) { s.Name = "Other"; }, 0},
        {"Auto", [](TSetting& s) { s.Auto = true; }, 0},
        {"ToTray", [](TSetting& s) { s.ToTray = true; }, 0},
    };
    const TSetting before;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        TSetting after = before;
        c.change(after);
        EXPECT_EQ(SettingChanges(before, after), c.flags);
    }
}

}  // namespace
}  // namespace brivanta::server
