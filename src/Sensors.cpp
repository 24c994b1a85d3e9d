#include "Sensors.h"

Sensors Sensors::INSTANCE;
