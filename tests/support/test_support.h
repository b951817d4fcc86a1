// Helpers for the test suites: scratch folders and small real files made on the spot.
#pragma once

#include <cstdint>
#include <string>

// A fresh, empty folder under the build tree's test-tmp/ named after the calling test.
std::string TestFolder();
// The build tree's fixture folder (disc_a/, disc_a.iso, disc_b/, ...).
std::string FixturesDir();
// Writes a mono 16-bit PCM WAV file of `seconds` at `rate` Hz holding a tone.
void WriteToneWav(const std::string& path, double seconds, int rate = 8000, double hz = 440);
std::string ReadFile(const std::string& path);
// Runs a shell command; returns its standard output. `status` receives the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
