// Started by winerun32.sh under several caller locales: the 32-bit process must start,
// and a file named with characters beyond ASCII must be created and found again both by
// its wide name and by its ANSI name (as the plug-ins pass names), in the folder given.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  // "é" and "ü" are in the ANSI code page (1252); "ł" (U+0142) is not and stays wide-only.
  const std::wstring wide = std::wstring(folder.begin(), folder.end()) + L"\\name-\u00e9\u00fc\u0142.txt";
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("wide name: error %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(h);
  const std::string ansi = folder + "\\name-\xe9\xfc.txt";  // code page 1252
  h = CreateFileA(ansi.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("ANSI name: error %lu (code page %u)\n", GetLastError(), GetACP());
    return 1;
  }
  CloseHandle(h);
  const bool found = GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES &&
                     GetFileAttributesA(ansi.c_str()) != INVALID_FILE_ATTRIBUTES;
  std::printf("code page %u, names %s\n", GetACP(), found ? "found" : "lost");
  return found ? 0 : 1;
}
