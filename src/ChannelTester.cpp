#include "ChannelTester.h"

ChannelTester ChannelTester::INSTANCE;
