#include "ControllerPinger.h"

#include <map>

#include "WarningHolder.h"
#include "log.h"

int ControllerPinger::timeoutFor(int failCount) {
    if (failCount == 1) return 500;
    if (failCount == 2) return 1000;
    return 250;
}

std::string ControllerPinger::warningFor(const UDPOutputData& o) {
    return "Cannot Ping " + o.GetOutputTypeString() + " Channel Data Target " + o.ipAddress +
           " " + o.description;
}

bool ControllerPinger::restore(UDPOutputData& o) {
    o.failCount = 0;
    if (o.valid) return false;
    WarningHolder::RemoveWarning(warningFor(o));
    LogWarn(kivlog::ChannelOut, "Could ping host %s, re-adding to outputs\n", o.ipAddress.c_str());
    o.valid = true;
    return true;
}

bool ControllerPinger::PingControllers(const std::vector<UDPOutputData*>& outputs,
                                       bool failedOnly) {
    LogExcess(kivlog::ChannelOut, "Pinging controllers to see what is online\n");
    bool changed = false;
    std::vector<UDPOutputData*> watched;
    std::vector<PingRequest> requests;
    std::map<std::string, bool> answered;
    for (UDPOutputData* o : outputs) {
        if (!o->IsPingable() || !o->Monitor() || !o->active) continue;
        if (failedOnly && o->failCount <= 0) continue;
        watched.push_back(o);
        // Each host once per round, with the time-out of its first entry.
        if (answered.emplace(o->ipAddress, false).second)
            requests.push_back({o->ipAddress, timeoutFor(o->failCount)});
    }
    if (!requests.empty()) {
        const std::vector<int> results = m_ping(requests);
        for (size_t i = 0; i < requests.size() && i < results.size(); i++)
            answered[requests[i].host] = results[i] > 0;
    }
    std::vector<std::string> probes;
    for (UDPOutputData* o : watched) {
        if (answered[o->ipAddress]) {
            // Any answer ends the run of consecutive failures.
            changed |= restore(*o);
            continue;
        }
        const int fails = ++o->failCount;
        LogDebug(kivlog::ChannelOut, "Could not ping host %s   Fail count: %d   Currently Valid: %d\n",
                 o->ipAddress.c_str(), fails, o->valid ? 1 : 0);
        if (fails == 2) {
            bool started = false;
            for (const std::string& h : probes) started |= h == o->ipAddress;
            if (!started) probes.push_back(o->ipAddress);
        } else if (fails == 3 && o->valid) {
            WarningHolder::AddWarning(warningFor(*o));
            LogWarn(kivlog::ChannelOut, "Could not ping host %s, removing from output\n",
                    o->ipAddress.c_str());
            o->valid = false;
            changed = true;
        } else if (fails > 4) {
            o->failCount = 0;
        }
    }
    if (!probes.empty() && m_probe) {
        const std::vector<bool> ok = m_probe(probes);
        for (size_t i = 0; i < probes.size() && i < ok.size(); i++) {
            if (!ok[i]) continue;
            for (UDPOutputData* o : outputs)
                if (o->IsPingable() && o->Monitor() && o->active && o->ipAddress == probes[i])
                    changed |= restore(*o);
        }
    }
    return changed;
}
