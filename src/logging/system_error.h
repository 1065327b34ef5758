// The one text form of an operating-system error used everywhere: "Is a directory (os error 21)".
#pragma once

#include <string>

namespace tarvik {

std::string os_error_text(int errnum);

}  // namespace tarvik
