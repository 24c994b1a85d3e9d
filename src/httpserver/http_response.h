#pragma once

#include <map>
#include <string>

#include "http_request.h"

namespace httpserver {

// What a resource answers: status, content type, extra headers and the body.
class http_response {
public:
    http_response(std::string content, int code, std::string contentType)
        : m_content(std::move(content)), m_code(code), m_contentType(std::move(contentType)) {}
    virtual ~http_response() = default;

    int get_response_code() const { return m_code; }
    const std::string& get_content_type() const { return m_contentType; }
    const std::string& get_content() const { return m_content; }

    http_response& with_header(const std::string& name, const std::string& value) {
        m_headers[name] = value;
        return *this;
    }
    const http_request::header_map& get_headers() const { return m_headers; }

private:
    std::string m_content;
    int m_code;
    std::string m_contentType;
    http_request::header_map m_headers;
};

// The common answer: a text body.
class string_response : public http_response {
public:
    explicit string_response(std::string content, int code = 200,
                             std::string contentType = "text/plain")
        : http_response(std::move(content), code, std::move(contentType)) {}
};

} // namespace httpserver
