#pragma once

#include <cstdint>
#include <string>

class ChannelOutput;

namespace KIVPlugins {

// Base of every object a loadable module's createPlugin() returns. The host owns the
// object and deletes it before it unloads the module.
class Plugin {
public:
    explicit Plugin(std::string const& name) : m_name(name) {}
    virtual ~Plugin() = default;

    // Synchronisation data from a master player; outputs leave it alone.
    virtual void multiSyncData(const uint8_t* data, int length) {}

    const std::string& GetName() const { return m_name; }

protected:
    std::string m_name;
};

// Mixed into the plugin class of an output module.
class ChannelOutputPlugin {
public:
    virtual ~ChannelOutputPlugin() = default;
    // A new, not yet initialised output; the caller owns it.
    virtual ChannelOutput* createChannelOutput(unsigned startChannel, unsigned channelCount) = 0;
};

} // namespace KIVPlugins

// The one entry point of a module: extern "C" KIVPlugins::Plugin* createPlugin();
using KIVCreatePluginFunc = KIVPlugins::Plugin* (*)();
