#pragma once

// Everything a resource or the daemon needs of the HTTP server layer.
#include "http_request.h"
#include "http_resource.h"
#include "http_response.h"
#include "webserver.h"
