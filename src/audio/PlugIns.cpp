#include "audio/PlugIns.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "common/Utils.h"

namespace brivanta::audio {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPluginName = 128;
constexpr int kFrameBytes = 4;  // 16-bit stereo

bool IsFolder(const std::string& folder) {
    std::error_code ec;
    return !folder.empty() && fs::is_directory(folder, ec);
}

// "dsp*.so", ignoring case.
bool IsPluginFileName(const std::string& name) {
    const std::string upper = common::UpperText(name);
    return upper.size() >= 6 && upper.starts_with("DSP") && upper.ends_with(".SO");
}

std::string PluginPath(const std::string& folder, const std::string& fileName) {
    return common::AddBackslash(folder) + fileName;
}

// Loads the library and initialises its module 0; on failure nothing stays loaded.
void LoadInto(TPluginItem& item, const std::string& path, void* parentWindow) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return;
    }
    auto entry = reinterpret_cast<winampDSPGetHeaderType>(dlsym(library, BRIVANTA_DSP_ENTRY));
    winampDSPHeader* header = entry != nullptr ? entry() : nullptr;
    winampDSPModule* module =
        header != nullptr && header->getModule != nullptr ? header->getModule(0) : nullptr;
    if (module == nullptr || module->Init == nullptr) {
        dlclose(library);
        return;
    }
    module->hDllInstance = library;
    module->hwndParent = parentWindow;
    if (module->Init(module) != 0) {
        dlclose(library);
        return;
    }
    item.Library = library;
    item.Header = header;
    item.Module = module;
    item.Loaded = true;
}

}  // namespace

void TPluginHost::InitPlugins() {
    pluginFiles_.clear();
    std::lock_guard lock(chainMutex_);
    plugins_.clear();
}

void TPluginHost::ScanPlugins(const std::string& folder) {
    pluginFiles_.clear();
    if (!IsFolder(folder)) {
        return;
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.starts_with('.') || it->is_directory(typeError) || !IsPluginFileName(name)) {
            continue;
        }
        pluginFiles_.push_back(name);
    }
    std::sort(pluginFiles_.begin(), pluginFiles_.end(), [](const auto& a, const auto& b) {
        return common::UpperText(a) < common::UpperText(b);
    });
}

bool TPluginHost::LoadPlugin(const std::string& folder, const std::string& fileName) {
    const std::string name = fileName.substr(0, kMaxPluginName);
    if (!IsFolder(folder) || fileName.empty() || PositionOf(name) >= 0) {
        return false;
    }
    TPluginItem item;
    item.Name = name;
    LoadInto(item, PluginPath(folder, fileName), parentWindow_);
    const bool loaded = item.Loaded;
    std::lock_guard lock(chainMutex_);
    plugins_.push_back(std::move(item));
    return loaded;
}

void TPluginHost::UnloadPlugin(size_t position) {
    TPluginItem item;
    {
        std::lock_guard lock(chainMutex_);
        if (position >= plugins_.size()) {
            return;
        }
        item = std::move(plugins_[position]);
        plugins_.erase(plugins_.begin() + static_cast<std::ptrdiff_t>(position));
    }
    if (!item.Loaded) {
        return;
    }
    if (item.Module->Quit != nullptr) {
        item.Module->Quit(item.Module);
    }
    dlclose(item.Library);
}

void TPluginHost::ConfigPlugin(size_t position) {
    winampDSPModule* module = nullptr;
    {
        std::lock_guard lock(chainMutex_);
        if (position >= plugins_.size() || !plugins_[position].Loaded) {
            return;
        }
        module = plugins_[position].Module;
    }
    // The chain only changes on this thread, so the module stays loaded while
    // the plug-in shows its own window.
    if (module->Config != nullptr) {
        module->Config(module);
    }
}

void TPluginHost::ProcessPlugins(uint8_t* data, uint32_t& size) {
    const uint32_t frames = size / kFrameBytes;
    {
        std::lock_guard lock(chainMutex_);
        for (const TPluginItem& item : plugins_) {
            if (item.Loaded && item.Module->ModifySamples != nullptr) {
                item.Module->ModifySamples(item.Module, reinterpret_cast<short*>(data),
                                           static_cast<int>(frames), 16, 2, 44100);
            }
        }
    }
    size = frames * kFrameBytes;
}

void TPluginHost::FreePlugins() {
    while (!Plugins().empty()) {
        UnloadPlugin(0);
    }
    pluginFiles_.clear();
}

int TPluginHost::PositionOf(const std::string& fileName) const {
    std::lock_guard lock(chainMutex_);
    for (size_t i = 0; i < plugins_.size(); ++i) {
        if (plugins_[i].Name == fileName) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<TPluginItem> TPluginHost::Plugins() const {
    std::lock_guard lock(chainMutex_);
    return plugins_;
}

void LoadPluginsInUse(TPluginHost& host, const std::string& folder,
                      const std::vector<std::string>& inUse,
                      const std::function<void(const std::string&)>& log) {
    for (const std::string& name : inUse) {
        const std::string path = PluginPath(folder, name);
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            log("Plugins: file don't exists " + path);
        } else if (!host.LoadPlugin(folder, name)) {
            log("Error load " + path);
        }
    }
}

}  // namespace brivanta::audio
