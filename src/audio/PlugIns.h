#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/Engine.h"

namespace brivanta::audio {

// One plug-in that was asked to load, whether or not loading succeeded.
struct TPluginItem {
    std::string Name;  // the file name, without folder, at most 128 bytes
    bool Loaded = false;
    void* Library = nullptr;
    winampDSPModule* Module = nullptr;
    winampDSPHeader* Header = nullptr;
};

// The host of DSP plug-ins: the plug-in files of a folder and the chain of
// plug-ins loaded from it, run in order over each block of audio.
//
// Threads: ScanPlugins, LoadPlugin, UnloadPlugin, ConfigPlugin and FreePlugins
// belong to the owner's main thread; ProcessPlugins runs on the audio thread.
// The chain is guarded so that a plug-in is never removed (or quit) while a
// block passes through it.
class TPluginHost {
  public:
    TPluginHost() = default;
    ~TPluginHost() { FreePlugins(); }
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;

    // Empties both lists without unloading (nothing is loaded yet).
    void InitPlugins();
    // Refills PluginFiles with the "dsp*.so" files of the folder (matched
    // ignoring case), sorted ignoring case; empty for a missing folder.
    void ScanPlugins(const std::string& folder);
    // True when the plug-in was newly loaded and initialised. An item is
    // added for every attempt with a new name, loaded or not.
    bool LoadPlugin(const std::string& folder, const std::string& fileName);
    void UnloadPlugin(size_t position);
    void ConfigPlugin(size_t position);
    // Runs every loaded plug-in over the block in place, as 16-bit stereo at
    // 44100 Hz whatever the stream is, and lowers size to whole 4-byte frames.
    void ProcessPlugins(uint8_t* data, uint32_t& size);
    void FreePlugins();

    // The position of the plug-in of that file name, or -1.
    int PositionOf(const std::string& fileName) const;

    const std::vector<std::string>& PluginFiles() const { return pluginFiles_; }
    // A copy of the chain, for views and tests.
    std::vector<TPluginItem> Plugins() const;

    // The window handle handed to plug-ins as their parent (none by default).
    void SetParentWindow(void* window) { parentWindow_ = window; }

  private:
    std::vector<std::string> pluginFiles_;  // main thread only
    void* parentWindow_ = nullptr;

    mutable std::mutex chainMutex_;
    std::vector<TPluginItem> plugins_;  // written on the main thread under chainMutex_
};

// Loads the plug-ins in use from the folder in order, as both programs do at
// start-up, logging "Error load <path>" for a plug-in that fails and
// "Plugins: file don't exists <path>" for a file that is missing.
void LoadPluginsInUse(TPluginHost& host, const std::string& folder,
                      const std::vector<std::string>& inUse,
                      const std::function<void(const std::string&)>& log);

}  // namespace brivanta::audio
