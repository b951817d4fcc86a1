// Reading a small file whole, from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Reads `path` whole when it is a regular file of at most `maxBytes` bytes. Anything else is
// refused without reading from it (a FIFO would block the reader, a device never ends): nullopt
// with `reason` set ("not a regular file", "larger than N bytes", or the system's text for an
// error) and `missing` telling whether nothing is found at the path.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t maxBytes,
                                         std::string& reason, bool* missing = nullptr);
