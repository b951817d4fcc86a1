// What the GUI tests check in files: the fixture disc's paths, a tone, a playing time. No Qt,
// so the whole-program test uses them too.
#pragma once

#include <string>

// `text` quoted for a shell command line.
std::string ShellQuote(const std::string& text);

// The fixture disc A as an image and as a folder.
std::string DiscAImage();
std::string DiscAFolder();
// Fixture disc F: one 8 s title with a busy picture (its conversions need the bit rate they
// are given).
std::string DiscFImage();

// The dominant tone of a media file's first audio stream (zero crossings of up to 2 s of
// mono from `from` seconds), -1 when it has no audio.
double ToneFrequency(const std::string& file, double from = 0.5);
// How long a media file plays (decoded), -1 when it cannot be read.
double MediaDuration(const std::string& file);
