// Live on air: the play list drawn at the music's own pace and sent to an
// RTMP or SRT server through the render's encoder, reconnecting by itself.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "command_line.h"

struct Options;

inline constexpr char kStreamSection[] = "Streaming live";
inline constexpr char kStreamSectionNote[] =
    "A stream needs no window, no sound device and no GPU: it draws on the CPU as a render does, at the music's "
    "own pace, for as long as the list plays (for ever with --loop). One line says each outage and each "
    "reconnection, and, at most once a minute, the frames left out to keep up.";

// --stream and the options that go with it (rows of the player's table).
std::vector<OptionRule> streamOptionRules(Options& options);
// --stream against the rest of the command line (`given`: the options
// typed): the frame rate a stream defaults to, what it cannot go with.
bool checkStreamOptions(Options& options, const std::map<std::string, std::string>& given, std::string& error);

// The URL as it may be shown: its key (an RTMP URL's last part, an SRT
// URL's query, a password) written as "…".
std::string urlWithoutKey(const std::string& url);

// The URL to connect to and its key: the key kept out of the command line
// (--stream-key-file, else $LUMENVORTEX_STREAM_KEY) goes in as the URL's
// last part (RTMP) or its streamid (SRT). False with `error` set when the
// file cannot be read or the URL holds a key as well.
bool streamTarget(const Options& options, const char* keyFromEnvironment, std::string& url, std::string& key,
                  std::string& error);

// --stream: runs until the list ends (never with --loop) or a stop signal;
// 0 then, 1 when it cannot start.
int runStream(const Options& options);
