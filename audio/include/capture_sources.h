// The capture sources of the sound server, for --list-sources and --capture
// of both programs.
#pragma once

#include <string>

#include "lv/capture.h"

// Lists the sources on stdout; errors go to stderr prefixed with `program`.
// The exit status: 0, or 1 when the sound server cannot be asked.
int listCaptureSources(const char* program);

// The source called `name` ("" for the default output's monitor); nullptr
// when there is none such.
const lv::CaptureSource* findCaptureSource(const lv::CaptureServerInfo& server, const std::string& name);
