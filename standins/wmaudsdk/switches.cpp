#include "switches.h"

#include <cstring>

namespace vwma {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses digits in [begin, end) into a value of at most 'limit'.
bool ParseDigits(const char* begin, const char* end, uint64_t limit, uint64_t* value) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  if (begin == end) return false;
  uint64_t v = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > limit) return false;
  }
  *value = v;
  return true;
}

bool FlagOn(const char* text) {
  uint32_t v = 0;
  return text && ParseCount(text, &v) && v != 0;
}

// A positive count, or 'fallback' when the variable is unset, zero or malformed.
uint32_t PositiveOr(const char* text, uint32_t fallback) {
  uint32_t v = 0;
  return text && ParseCount(text, &v) && v != 0 ? v : fallback;
}

}  // namespace

bool ParseCount(const char* text, uint32_t* value) {
  uint64_t v = 0;
  if (!ParseDigits(text, text + std::strlen(text), 0xFFFFFFFFu, &v)) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

uint32_t ParseCreateFailures(const char* text) {
  uint32_t kinds = 0;
  const char* p = text;
  while (*p) {
    const char* end = std::strchr(p, ',');
    if (!end) end = p + std::strlen(p);
    const char* b = p;
    const char* e = end;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    const std::size_t n = static_cast<std::size_t>(e - b);
    if (n == 6 && std::strncmp(b, "reader", 6) == 0) kinds |= kCreateReader;
    if (n == 6 && std::strncmp(b, "writer", 6) == 0) kinds |= kCreateWriter;
    if (n == 4 && std::strncmp(b, "info", 4) == 0) kinds |= kCreateInfo;
    p = *end ? end + 1 : end;
  }
  return kinds;
}

bool ParseStatusAt(const char* text, uint32_t* status, uint64_t* beforeBlock) {
  const char* at = std::strchr(text, '@');
  if (!at) return false;
  uint64_t s = 0;
  uint64_t k = 0;
  if (!ParseDigits(text, at, 0xFFFFFFFFu, &s)) return false;
  if (!ParseDigits(at + 1, at + std::strlen(at), 0xFFFFFFFFu, &k)) return false;
  *status = static_cast<uint32_t>(s);
  *beforeBlock = k;
  return true;
}

uint32_t ReadCreateFailures(Lookup lookup, void* state) {
  const char* text = lookup("VELL_WMA_FAIL_CREATE", state);
  return text ? ParseCreateFailures(text) : 0;
}

WriterSwitches ReadWriterSwitches(Lookup lookup, void* state) {
  WriterSwitches s;
  s.refuseOutput = FlagOn(lookup("VELL_WMA_REFUSE_OUTPUT", state));
  s.refuseInput = FlagOn(lookup("VELL_WMA_REFUSE_INPUT", state));
  s.refuseWrite = PositiveOr(lookup("VELL_WMA_REFUSE_WRITE", state), 0);
  return s;
}

ReaderSwitches ReadReaderSwitches(Lookup lookup, void* state) {
  ReaderSwitches s;
  s.block = PositiveOr(lookup("VELL_WMA_BLOCK", state), s.block);
  s.blockGrow = PositiveOr(lookup("VELL_WMA_BLOCK_GROW", state), 0);
  if (const char* text = lookup("VELL_WMA_STATUS", state)) {
    s.hasStatus = ParseStatusAt(text, &s.status, &s.statusBefore);
  }
  uint32_t v = 0;
  if (const char* text = lookup("VELL_WMA_SILENT_AFTER", state)) {
    s.silent = ParseCount(text, &v);
    s.silentAfter = v;
  }
  if (const char* text = lookup("VELL_WMA_EXTRA_REF_MS", state)) {
    s.extraRef = ParseCount(text, &s.extraRefMs);
  }
  return s;
}

}  // namespace vwma
