// Replaces the program's operator new so a test can make allocations fail on cue: after
// FailAllocationsAfter(n) the (n + 1)-th allocation and every later one fails (throwing
// std::bad_alloc, or null from the nothrow forms) until AllowAllocations().
#pragma once

void FailAllocationsAfter(long allocations);
void AllowAllocations();
