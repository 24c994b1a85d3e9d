// Text helpers: comparisons, case, trimming, replacing, splitting, base64.

#include "common.h"

#include <algorithm>
#include <cctype>
#include <sstream>

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void toUpper(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)toupper(c); });
}

void toLower(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)tolower(c); });
}

std::string toUpperCopy(const std::string& text) {
    std::string copy = text;
    toUpper(copy);
    return copy;
}

std::string toLowerCopy(const std::string& text) {
    std::string copy = text;
    toLower(copy);
    return copy;
}

void TrimWhiteSpace(std::string& text) {
    size_t first = 0;
    while (first < text.size() && isspace((unsigned char)text[first])) {
        first++;
    }
    size_t last = text.size();
    while (last > first && isspace((unsigned char)text[last - 1])) {
        last--;
    }
    text = text.substr(first, last - first);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return; // would never advance
    }
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

void ReplaceString(std::string& text, const std::string& from, const std::string& to) { replaceAll(text, from, to); }

bool replaceStart(std::string& text, const std::string& prefix, const std::string& to) {
    if (!startsWith(text, prefix)) {
        return false;
    }
    text.replace(0, prefix.size(), to);
    return true;
}

bool replaceEnd(std::string& text, const std::string& suffix, const std::string& to) {
    if (!endsWith(text, suffix)) {
        return false;
    }
    text.replace(text.size() - suffix.size(), suffix.size(), to);
    return true;
}

std::string tail(const std::string& text, int n) {
    if (n <= 0) {
        return "";
    }
    if ((size_t)n >= text.size()) {
        return text;
    }
    return text.substr(text.size() - n);
}

std::string GetFileExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return "";
    }
    return name.substr(dot + 1);
}

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    std::istringstream in(text);
    std::string piece;
    while (std::getline(in, piece, delimiter)) {
        pieces.push_back(piece);
    }
    return pieces;
}

static void addUnquoted(std::vector<std::string>& pieces, const std::string& piece) {
    if (piece.size() > 2 && (piece.front() == '"' || piece.front() == '\'') && piece.back() == piece.front()) {
        pieces.push_back(piece.substr(1, piece.size() - 2));
    } else {
        pieces.push_back(piece);
    }
}

std::vector<std::string> splitWithQuotes(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    bool inQuotes = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '"' || c == '\'') {
            inQuotes = !inQuotes;
        } else if (c == delimiter && !inQuotes) {
            addUnquoted(pieces, text.substr(start, i - start));
            start = i + 1;
        }
    }
    addUnquoted(pieces, text.substr(start));
    return pieces;
}

std::string getSimpleXMLTag(const std::string& xml, const std::string& tag) {
    std::string open = "<" + tag + ">";
    std::string close = "</" + tag + ">";
    size_t begin = xml.find(open);
    if (begin == std::string::npos) {
        return "";
    }
    begin += open.size();
    size_t end = xml.find(close, begin);
    if (end == std::string::npos) {
        return "";
    }
    return xml.substr(begin, end - begin);
}

uint8_t ReverseBitsInByte(uint8_t value) {
    static const uint8_t nibble[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                       0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};
    return (uint8_t)((nibble[value & 0x0F] << 4) | nibble[value >> 4]);
}

static const char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const uint8_t* data, unsigned length) {
    std::string out;
    if (!data) {
        return out;
    }
    out.reserve((length + 2) / 3 * 4);
    unsigned i = 0;
    for (; i + 2 < length; i += 3) {
        uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += BASE64_ALPHABET[(v >> 18) & 0x3F];
        out += BASE64_ALPHABET[(v >> 12) & 0x3F];
        out += BASE64_ALPHABET[(v >> 6) & 0x3F];
        out += BASE64_ALPHABET[v & 0x3F];
    }
    if (i < length) {
        uint32_t v = data[i] << 16;
        if (i + 1 < length) {
            v |= data[i + 1] << 8;
        }
        out += BASE64_ALPHABET[(v >> 18) & 0x3F];
        out += BASE64_ALPHABET[(v >> 12) & 0x3F];
        out += (i + 1 < length) ? BASE64_ALPHABET[(v >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::vector<uint8_t> base64Decode(const std::string& text) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        } else {
            break; // "=" padding or anything foreign ends the data
        }
        bits = (bits << 6) | v;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back((uint8_t)(bits >> count));
        }
    }
    return out;
}
