#include "Command.h"

Json::Value Command::getDescription() const {
    Json::Value cmd(Json::objectValue);
    cmd["name"] = name;
    if (!description.empty()) {
        cmd["description"] = description;
    }
    for (const auto& a : args) {
        Json::Value arg(Json::objectValue);
        arg["name"] = a.name;
        arg["type"] = a.type;
        arg["description"] = a.description;
        arg["optional"] = a.optional;
        if (a.min != a.max) {
            arg["min"] = a.min;
            arg["max"] = a.max;
        }
        if (!a.contentListUrl.empty()) {
            arg["contentListUrl"] = a.contentListUrl;
            arg["allowBlanks"] = a.allowBlanks;
        } else if (!a.contents.empty()) {
            Json::Value contents(Json::arrayValue);
            for (const auto& c : a.contents) {
                contents.append(c);
            }
            arg["contents"] = contents;
        }
        if (!a.defaultValue.empty()) {
            arg["default"] = a.defaultValue;
        }
        if (a.adjustable) {
            arg["adjustable"] = true;
            if (!a.adjustableGetValueURL.empty()) {
                arg["adjustableGetValueURL"] = a.adjustableGetValueURL;
            }
        }
        cmd["args"].append(arg);
    }
    return cmd;
}
