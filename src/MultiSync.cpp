#include "MultiSync.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include "kivversion.h"
#include "settings.h"

MultiSync MultiSync::INSTANCE;

bool MultiSync::Init() {
    return true;
}

void MultiSync::ShutdownSync() {}

void MultiSync::SendSeqOpenPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncStartPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncStopPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncPacket(const std::string& filename, int frames, float seconds) {}
void MultiSync::SendBlankingDataPacket() {}

Json::Value MultiSync::GetSystems(bool localOnly, bool timestamps) {
    Json::Value result(Json::objectValue);
    result["systems"] = Json::Value(Json::arrayValue);
    char host[256] = "";
    gethostname(host, sizeof(host) - 1);
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return result;
    }
    for (struct ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        struct in_addr address = ((struct sockaddr_in*)a->ifa_addr)->sin_addr;
        if ((ntohl(address.s_addr) >> 24) == 127) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &address, text, sizeof(text));
        Json::Value system(Json::objectValue);
        system["hostname"] = host;
        system["address"] = text;
        system["interface"] = a->ifa_name ? a->ifa_name : "";
        system["version"] = getKIVVersion();
        system["mode"] = getKIVmodeStr();
        system["uuid"] = getSetting("SystemUUID");
        system["local"] = true;
        result["systems"].append(system);
    }
    freeifaddrs(list);
    return result;
}
