#pragma once

#include <memory>

#include "http_request.h"
#include "http_response.h"

namespace httpserver {

// Base of everything mounted on a webserver. A resource overrides the methods
// it serves; the others answer 405. render_* run on the server's worker
// threads, several at once, so a resource guards its own state. Exceptions
// thrown by a render_* method are caught by the server and answered 500.
class http_resource {
public:
    virtual ~http_resource() = default;

    virtual std::shared_ptr<http_response> render_GET(const http_request& req);
    virtual std::shared_ptr<http_response> render_POST(const http_request& req);
    virtual std::shared_ptr<http_response> render_PUT(const http_request& req);
    virtual std::shared_ptr<http_response> render_DELETE(const http_request& req);

    // Picks the render_* method for the request's method (HEAD is answered as
    // GET, without the body); unknown methods answer 405.
    std::shared_ptr<http_response> render(const http_request& req);

    static std::shared_ptr<http_response> method_not_allowed();
    static std::shared_ptr<http_response> not_found();
};

} // namespace httpserver
