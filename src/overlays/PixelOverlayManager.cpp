#include "overlays/PixelOverlayManager.h"

PixelOverlayManager PixelOverlayManager::INSTANCE;
