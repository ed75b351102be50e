// The player's three ways to run, each returning the process's exit status:
// 0 done, 1 nothing could be played or something broke (a message says
// what), 2 a bad command line.
#pragma once

#include "options.h"

class PluginHost;
struct VirtualClock;

// A window on X11 with the music playing (or live sound with --capture).
int runLive(const Options& options);
// --render / --frames: video or PNG frames on a virtual clock, no window.
int runRender(const Options& options);
// Everything main() does: parse, then one of the above.
int runPlayer(int argc, char** argv);

// Loads the plug-in named by --plugin, else the usual places; starts it.
bool loadPlugin(PluginHost& host, const Options& options, std::string& error);
// The same, with the plug-in's time taken from `clock` (renders and streams);
// `use` ends the refusal of a plug-in without the clock extension.
bool loadPluginOnClock(PluginHost& host, const Options& options, VirtualClock& clock, const std::string& use,
                       std::string& error);
