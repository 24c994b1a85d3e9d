#include "http_resource.h"

namespace httpserver {

std::shared_ptr<http_response> http_resource::method_not_allowed() {
    return std::make_shared<string_response>("Method Not Allowed", 405);
}

std::shared_ptr<http_response> http_resource::not_found() {
    return std::make_shared<string_response>("Not Found", 404);
}

std::shared_ptr<http_response> http_resource::render_GET(const http_request&) {
    return method_not_allowed();
}
std::shared_ptr<http_response> http_resource::render_POST(const http_request&) {
    return method_not_allowed();
}
std::shared_ptr<http_response> http_resource::render_PUT(const http_request&) {
    return method_not_allowed();
}
std::shared_ptr<http_response> http_resource::render_DELETE(const http_request&) {
    return method_not_allowed();
}

std::shared_ptr<http_response> http_resource::render(const http_request& req) {
    const std::string& m = req.get_method();
    if (m == "GET" || m == "HEAD") {
        return render_GET(req);
    }
    if (m == "POST") {
        return render_POST(req);
    }
    if (m == "PUT") {
        return render_PUT(req);
    }
    if (m == "DELETE") {
        return render_DELETE(req);
    }
    return method_not_allowed();
}

} // namespace httpserver
