// Blocking HTTP requests through libcurl. Each call uses its own transfer, so any
// thread may call; the caller blocks for up to the timeout.

#include "common.h"

#include <curl/curl.h>

#include "kivversion.h"
#include "log.h"

static size_t appendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

bool urlHelper(const std::string& method, const std::string& url, const std::string& data, std::string& response,
               const std::vector<std::string>& extraHeaders, int timeoutSeconds) {
    std::string userAgent = std::string("KIV/") + getKIVVersionTriplet();
    response.clear();

    CURL* curl = curl_easy_init();
    if (!curl) {
        LogErr(kivlog::General, "Unable to create curl instance in urlHelper()\n");
        return false;
    }
    struct curl_slist* headers = nullptr;
    // One exit path so the transfer and header list are always freed.
    auto finish = [&](bool result) {
        curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
        return result;
    };

    CURLcode status = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToString);
    if (status != CURLE_OK) {
        LogErr(kivlog::General, "curl_easy_setopt() Error setting write callback function: %s\n",
               curl_easy_strerror(status));
        return finish(false);
    }
    status = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    if (status != CURLE_OK) {
        LogErr(kivlog::General, "curl_easy_setopt() Error setting class pointer: %s\n", curl_easy_strerror(status));
        return finish(false);
    }
    status = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (status != CURLE_OK) {
        LogErr(kivlog::General, "curl_easy_setopt() Error setting URL: %s\n", curl_easy_strerror(status));
        return finish(false);
    }

    if (!data.empty() && data.front() == '{' && data.back() == '}') {
        headers = curl_slist_append(headers, "Accept: application/json");
        headers = curl_slist_append(headers, "Content-Type: application/json");
    }
    for (const auto& header : extraHeaders) {
        headers = curl_slist_append(headers, header.c_str());
    }
    // No "Expect: 100-continue" round trip: small local peers often never answer it.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    if (method == "POST" || method == "PUT") {
        // With its length, so a body holding a NUL byte is sent whole.
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)data.size());
        status = curl_easy_setopt(curl, CURLOPT_POSTFIELDS, data.c_str());
        if (status != CURLE_OK) {
            LogErr(kivlog::General, "curl_easy_setopt() Error setting postfields data: %s\n",
                   curl_easy_strerror(status));
            return finish(false);
        }
    }
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, (long)timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 2L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    } else if (method == "PUT" || method == "DELETE") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    LogDebug(kivlog::General, "Calling %s %s\n", method.c_str(), url.c_str());
    status = curl_easy_perform(curl);
    if (status != CURLE_OK) {
        LogErr(kivlog::General, "curl_easy_perform() failed (%s): %s\n", url.c_str(), curl_easy_strerror(status));
        return finish(false);
    }
    LogDebug(kivlog::General, "%s %s resp: %s\n", method.c_str(), url.c_str(), response.c_str());
    return finish(true);
}

bool urlGet(const std::string& url, std::string& response) { return urlHelper("GET", url, "", response); }

bool urlPost(const std::string& url, const std::string& data, std::string& response) {
    return urlHelper("POST", url, data, response);
}

bool urlPut(const std::string& url, const std::string& data, std::string& response) {
    return urlHelper("PUT", url, data, response);
}

bool urlDelete(const std::string& url, const std::string& data, std::string& response) {
    return urlHelper("DELETE", url, data, response);
}

bool urlDelete(const std::string& url, std::string& response) { return urlHelper("DELETE", url, "", response); }
