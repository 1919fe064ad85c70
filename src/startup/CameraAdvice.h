#pragma once
// What the operator is told to look at when no camera answers, after the cable: the
// platform's own steps for reaching a camera. One source file per platform.

#include <string>

namespace ostrelo {

// Lines added to the no-camera message, each starting with a line break; empty where the
// platform needs nothing beyond the cable.
std::string NoCameraAdvice();

}  // namespace ostrelo
