// Linked into the test programs the win32 preset runs under wine32. Before the first test,
// the main thread creates a first window and starts and joins one thread, so that the
// loader's first-time work (the display driver, the thread start-up) is done on one thread.
// Under user-mode emulation, threads that reached that work at the same moment crashed the
// loader; the tests' own threads then start with it done.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

DWORD WINAPI Nothing(void*) { return 0; }

class MainThreadWarmup : public ::testing::Environment {
 public:
  void SetUp() override {
    HWND window = CreateWindowExA(0, "STATIC", "warm-up", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr) << "no first window: is there a display?";
    DestroyWindow(window);
    HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new MainThreadWarmup);

}  // namespace
