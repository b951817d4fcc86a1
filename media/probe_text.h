// Texts the probe's description is made of, shared with the transcoder's messages and the
// application's file-information window. Pure functions: callable from any thread.
#pragma once

#include <cstdint>
#include <string>

struct AVDictionary;
struct AVCodecParameters;
struct AVRational;

// "HH:MM:SS.mmm" from microseconds, hours not wrapped at 24 and at least two digits;
// "N/A" for AV_NOPTS_VALUE. A negative time is written with a leading "-".
std::string FormatDuration(int64_t micros);

// "%.2f GB" above 2^30 bytes, "%.2f MB" above 2^20, "%.2f KB" above 2^10, else "%d Byte".
std::string FormatFileSize(int64_t bytes);

// The value of the first entry whose key equals `key` exactly (case-sensitive), else
// `defaultValue`. A null dictionary holds no entries.
std::string MetadataValue(const AVDictionary* dict, const std::string& key,
                          const std::string& defaultValue = std::string());

// "Video", "Audio", "Data", "Subtitle", "Attachment" for the AVMediaType numbers 0..4,
// "Unknown" for any other.
std::string MediaTypeName(int codecType);

// The display key of a metadata key: ID3v2 frame identifiers ("TIT2", "TP1", ...) become
// their plain names ("title", "artist"); any other key is returned unchanged.
std::string DisplayMetadataKey(const std::string& key);

// The "Metadata:" block of a dictionary, each line prefixed by `indent` and ending in "\n";
// empty for a null or empty dictionary and for one whose only entry is "language"
// (the language is shown on the stream line instead).
std::string MetadataBlock(const AVDictionary* dict, const std::string& indent);

// ", 25 fps", ", 29.97 fps", ", 90k tbn": one rate of a stream line. Empty when the rate's
// numerator or denominator is zero.
std::string RatePiece(AVRational rate, const char* suffix);

// "%d.%.6d" seconds and microseconds; a negative time keeps its sign ("-0.021333").
std::string FormatSecondsMicros(int64_t micros);

// The codec of a stream as the probe names it: "mpeg2video(MPEG-2 video)" when a decoder
// exists, else the codec's descriptor name, else its tag as text.
std::string CodecDescription(const AVCodecParameters* par);
