// Helpers for the media tests: small real files made on the spot.
#pragma once

#include <cstdint>
#include <string>

// A fresh, empty folder under the build tree's test-tmp/ for the calling test.
std::string TestFolder();
// Writes a mono 16-bit PCM WAV file of `seconds` at `rate` Hz holding a tone.
void WriteToneWav(const std::string& path, double seconds, int rate = 8000, double hz = 440);
std::string ReadFile(const std::string& path);
