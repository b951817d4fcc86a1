// A TSchemeStream over a plain file (64-bit offsets).
#pragma once

#include <memory>
#include <string>

#include "media/io_scheme.h"

// Opens `path` for reading; null with `error` set to an FFmpeg error code on failure.
std::unique_ptr<TSchemeStream> OpenFileStream(const std::string& path, int& error);
