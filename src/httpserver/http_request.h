#pragma once

#include <map>
#include <string>
#include <strings.h>
#include <vector>

namespace httpserver {

// Header names compare without regard to case, as HTTP wants.
struct header_less {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

// One complete request as the resources see it: the server has read the
// whole (bounded) body before a render_* method runs. Immutable afterwards,
// so a resource may read it from its worker thread without locks.
class http_request {
public:
    using arg_map = std::map<std::string, std::string>;
    using header_map = std::map<std::string, std::string, header_less>;

    http_request() = default;
    // The path is the decoded request path ("/command/Stop Now"); args are the
    // decoded query arguments; the server fills these, tests may build their own.
    http_request(std::string method, std::string path, arg_map args = {},
                 header_map headers = {}, std::string content = {},
                 std::string requestor = {});

    const std::string& get_method() const { return m_method; }
    const std::string& get_path() const { return m_path; }
    // The path split on "/" with empty pieces dropped: "/a//b/" gives a, b.
    const std::vector<std::string>& get_path_pieces() const { return m_pieces; }
    // Piece i, or "" when the path has fewer pieces.
    std::string get_path_piece(size_t i) const;

    // Query argument by name; "" when absent. The first of repeated names wins.
    std::string get_arg(const std::string& name) const;
    bool has_arg(const std::string& name) const { return m_args.count(name) != 0; }
    const arg_map& get_args() const { return m_args; }
    // "?a=1&b=2" built from the decoded arguments (for log lines), "" without any.
    const std::string& get_querystring() const { return m_querystring; }

    std::string get_header(const std::string& name) const;
    const header_map& get_headers() const { return m_headers; }

    const std::string& get_content() const { return m_content; }
    // The client's address as text (IPv4 or IPv6), "" when unknown.
    const std::string& get_requestor() const { return m_requestor; }

private:
    std::string m_method;
    std::string m_path;
    std::vector<std::string> m_pieces;
    arg_map m_args;
    std::string m_querystring;
    header_map m_headers;
    std::string m_content;
    std::string m_requestor;
};

} // namespace httpserver
