#include "GPIOManager.h"

GPIOManager GPIOManager::INSTANCE;
