#include "FrameBufferDevices.h"

#include <fcntl.h>
#include <set>
#include <unistd.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

const char* DrmConnectorTypeName(unsigned type) {
    static const char* names[] = {"unknown",   "VGA",         "DVII",     "DVID",   "DVIA",      "Composite",
                                  "SVIDEO",    "LVDS",        "Component", "9PinDIN", "DisplayPort", "HDMI-A",
                                  "HDMI-B",    "TV",          "eDP",      "VIRTUAL", "DSI",        "DPI",
                                  "WRITEBACK", "SPI"};
    return type < sizeof(names) / sizeof(names[0]) ? names[type] : "unknown";
}

namespace {

std::string fourccText(uint32_t f) {
    std::string s;
    for (int i = 0; i < 4; i++) {
        s += (char)((f >> (8 * i)) & 0xFF);
    }
    return s;
}

void addName(Json::Value& result, bool debug, const std::string& name, const Json::Value& detail) {
    if (debug) {
        result[name] = detail;
    } else {
        result.append(name);
    }
}

void queryCard(int fd, Json::Value& result, bool debug) {
    drmModeRes* res = drmModeGetResources(fd);
    if (!res) {
        return;
    }
    drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    std::set<std::string> formats;
    if (drmModePlaneRes* planes = drmModeGetPlaneResources(fd)) {
        for (uint32_t i = 0; i < planes->count_planes; i++) {
            if (drmModePlane* p = drmModeGetPlane(fd, planes->planes[i])) {
                for (uint32_t f = 0; f < p->count_formats; f++) {
                    formats.insert(fourccText(p->formats[f]));
                }
                drmModeFreePlane(p);
            }
        }
        drmModeFreePlaneResources(planes);
    }
    for (int c = 0; c < res->count_connectors; c++) {
        drmModeConnector* con = drmModeGetConnector(fd, res->connectors[c]);
        if (!con) {
            continue;
        }
        if (con->count_modes > 0) {
            std::string name = std::string(DrmConnectorTypeName(con->connector_type)) + "-" +
                               std::to_string(con->connector_type_id);
            Json::Value detail(Json::objectValue);
            if (debug) {
                detail["modes"] = Json::Value(Json::arrayValue);
                for (int m = 0; m < con->count_modes; m++) {
                    const drmModeModeInfo& mi = con->modes[m];
                    std::string t = std::to_string(mi.hdisplay) + "x" + std::to_string(mi.vdisplay) + " " +
                                    std::to_string(mi.vrefresh) + "hz";
                    if (mi.type & DRM_MODE_TYPE_PREFERRED) {
                        t += " (preferred)";
                    }
                    detail["modes"].append(t);
                }
                detail["formats"] = Json::Value(Json::arrayValue);
                for (auto& f : formats) {
                    detail["formats"].append(f);
                }
            }
            addName(result, debug, name, detail);
        }
        drmModeFreeConnector(con);
    }
    drmModeFreeResources(res);
}

} // namespace

void GetFrameBufferDevices(Json::Value& result, bool debug, const std::string& fbDir, const std::string& drmPrefix) {
    result = debug ? Json::Value(Json::objectValue) : Json::Value(Json::arrayValue);
    for (int i = 0; i < 10; i++) {
        std::string name = "fb" + std::to_string(i);
        if (access((fbDir + name).c_str(), F_OK) == 0) {
            addName(result, debug, name, Json::Value(Json::objectValue));
        }
    }
    for (int i = 0; i < 10; i++) {
        std::string path = drmPrefix + std::to_string(i);
        if (access(path.c_str(), F_OK) != 0) {
            continue;
        }
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        queryCard(fd, result, debug);
        close(fd);
    }
}
