// The files of the update tree: whole, by byte range, or 304 for a cached copy.
#pragma once

#include <microhttpd.h>

#include <string>

#include "request.h"
#include "serve_path.h"

// Serves one file of the tree under root from a descriptor opened once: its length is that
// of the open file, and the bytes sent are read from it, so a file replaced meanwhile goes
// out whole in its old version. 404 for anything but a regular file.
MHD_Result ServeFile(MHD_Connection* connection, Request* r, const std::string& root,
                     const ServedPath& path);
