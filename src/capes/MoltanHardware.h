#pragma once

// Detection of add-on boards on the SPI port. No detector is built yet: nothing is found.
// Returns true on failure (the -H and -C options exit with status 1 then).
bool DetectMoltanHardware(bool configure);
