// How file names reach FFmpeg. Linux names are bytes and FFmpeg takes them as they are,
// except that a name whose first path component holds a colon ("take:1.vob") would be
// read as a protocol URL. Such names travel as "unicode:utf8:" + name and open through the
// "unicode" input scheme; names of the pass-through protocols and of registered input
// schemes ("opendvd:...") are left alone.
#pragma once

#include <string>

inline constexpr char kUnicodePrefix[] = "unicode:utf8:";  // 13 bytes
inline constexpr char kPassThroughProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// Registers the "unicode" input scheme once; registering again is harmless.
void RegisterUnicodeProtocol();

bool NeedsUnicodeName(const std::string& name);
// The name to hand to FFmpeg for reading.
std::string LibraryFileNameOf(const std::string& name);
// The name to hand to avio_open for writing ("file:" + name where FFmpeg would misread it).
std::string LibraryOutputNameOf(const std::string& name);
// The file behind a name given to FFmpeg: "unicode:utf8:" names lose the prefix (a name of
// exactly the prefix is not a prefixed name); other names come back unchanged.
std::string WideFileNameOf(const std::string& libraryName);
