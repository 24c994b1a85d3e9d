#include "Plugin.h"
#include "UDPOutput.h"

namespace {

class UDPPlugin : public KIVPlugins::Plugin, public KIVPlugins::ChannelOutputPlugin {
public:
    UDPPlugin() : KIVPlugins::Plugin("UDP") {}
    ChannelOutput* createChannelOutput(unsigned int startChannel, unsigned int channelCount) override {
        return new UDPOutput(startChannel, channelCount);
    }
};

} // namespace

extern "C" KIVPlugins::Plugin* createPlugin() { return new UDPPlugin(); }
