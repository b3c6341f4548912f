// The full path of a file name as the process resolves it now, so that a later step (the
// close removing an unfinished file) reaches the same file after the current directory
// has changed, as a host's file dialog may change it.
#pragma once

#include <string>

namespace vqf {

// The name resolved against the current directory; the name unchanged when it cannot be
// resolved. May throw std::bad_alloc.
std::string FullPath(const char* fileName);

}  // namespace vqf
