// The plug-in links no C library, yet the compiler may emit calls to these two for block
// copies and zero fills. This file is built with loop-to-call rewriting turned off so that
// the loops below do not turn into calls to themselves.
#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  while (count--) *d++ = static_cast<unsigned char>(value);
  return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count--) *d++ = *s++;
  return destination;
}
