#include "http_request.h"

namespace httpserver {

http_request::http_request(std::string method, std::string path, arg_map args,
                           header_map headers, std::string content, std::string requestor)
    : m_method(std::move(method)), m_path(std::move(path)), m_args(std::move(args)),
      m_headers(std::move(headers)), m_content(std::move(content)),
      m_requestor(std::move(requestor)) {
    size_t start = 0;
    while (start <= m_path.size()) {
        size_t end = m_path.find('/', start);
        if (end == std::string::npos) {
            end = m_path.size();
        }
        if (end > start) {
            m_pieces.emplace_back(m_path, start, end - start);
        }
        start = end + 1;
    }
    for (const auto& [name, value] : m_args) {
        m_querystring += m_querystring.empty() ? "?" : "&";
        m_querystring += name;
        m_querystring += "=";
        m_querystring += value;
    }
}

std::string http_request::get_path_piece(size_t i) const {
    return i < m_pieces.size() ? m_pieces[i] : std::string();
}

std::string http_request::get_arg(const std::string& name) const {
    auto it = m_args.find(name);
    return it == m_args.end() ? std::string() : it->second;
}

std::string http_request::get_header(const std::string& name) const {
    auto it = m_headers.find(name);
    return it == m_headers.end() ? std::string() : it->second;
}

} // namespace httpserver
