#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Ping.h"
#include "UDPOutputData.h"

// Decides which controllers of the UDP output are reachable. One round pings every
// monitored controller once (each host once per round); consecutive failures escalate
// the time-out (250, 500, 1000 ms), the second failure also starts an HTTP probe, the
// third takes the destination out of the output with a user warning. A ping or probe
// answer puts it back and removes the warning.
class ControllerPinger {
public:
    // Pings all hosts at once; per request a result above 0 when the host answered.
    using PingFunction = std::function<std::vector<int>(const std::vector<PingRequest>& requests)>;
    // Probes all hosts at once; returns, per host, whether any HTTP answer came back.
    using ProbeFunction = std::function<std::vector<bool>(const std::vector<std::string>& hosts)>;

    ControllerPinger(PingFunction ping, ProbeFunction probe)
        : m_ping(std::move(ping)), m_probe(std::move(probe)) {}

    // Returns true when any destination changed state. Called from one thread at a time.
    bool PingControllers(const std::vector<UDPOutputData*>& outputs, bool failedOnly);

    static int timeoutFor(int failCount);
    static std::string warningFor(const UDPOutputData& output);

private:
    static bool restore(UDPOutputData& output);

    PingFunction m_ping;
    ProbeFunction m_probe;
};
