#include "PluginManager.h"

PluginManager PluginManager::INSTANCE;

void PluginManager::init() {}
void PluginManager::loadUserPlugins() {}
void PluginManager::Cleanup() {}
