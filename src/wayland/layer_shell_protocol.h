// The generated layer-shell header, made includable from C++: the protocol names one argument
// "namespace", a C++ keyword.
#pragma once

#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
