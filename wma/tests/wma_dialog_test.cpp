// The options dialog under Xvfb, driven from a second thread the way a user would, and
// its template as it stands in the built module's resources.
#include "wma_expected_formats.h"
#include "wma_test_support.h"
#include "vell_wma_ids.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>

namespace {

struct DialogSeen {
  LRESULT count = -2;
  LRESULT selected = -2;
  std::string selectedText;
  std::vector<std::string> items;
  bool closedByAction = false;
};

BOOL CALLBACK MatchOptionsDialog(HWND window, LPARAM found) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  // Other processes' windows are never asked for their text: they may be busy.
  if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::string(title) != "WMA format settings") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND FindOptionsDialog() {
  HWND found = nullptr;
  EnumWindows(MatchOptionsDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string ItemText(HWND list, LRESULT index) {
  char text[128] = {};
  if (index < 0 || SendMessageA(list, CB_GETLBTEXTLEN, index, 0) >= LRESULT(sizeof text)) return "";
  SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  return text;
}

// Opens the dialog through FilterGetOptions; a second thread waits for it, records what it
// shows, then does what a user would (act). Returns the options word.
DWORD RunDialog(const LoadedPlugin& plugin, DWORD options, std::function<void(HWND, HWND)> act,
                DialogSeen* seen) {
  std::thread user([&] {
    HWND dialog = nullptr;
    for (int i = 0; i < 500 && !dialog; ++i, Sleep(20)) dialog = FindOptionsDialog();
    if (!dialog) return;
    HWND list = GetDlgItem(dialog, IDC_WMA_FORMAT);
    seen->count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    seen->selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    seen->selectedText = ItemText(list, seen->selected);
    for (LRESULT i = 0; i < seen->count; ++i) seen->items.push_back(ItemText(list, i));
    act(dialog, list);
    for (int i = 0; i < 250 && IsWindow(dialog); ++i) Sleep(20);
    seen->closedByAction = !IsWindow(dialog);
    if (!seen->closedByAction) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);  // don't hang
  });
  const DWORD result = plugin.getOptions(nullptr, plugin.module, 0, 0, 0, options);
  user.join();
  return result;
}

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class WmaDialog : public ::testing::Test {
 protected:
  LoadedPlugin plugin{PluginPath().c_str()};
  void SetUp() override { ASSERT_TRUE(plugin.loaded()) << PluginPath(); }
};

TEST_F(WmaDialog, OpensOnTheDefaultRowAndOkReturnsTheChosenRow) {
  DialogSeen seen;
  EXPECT_EQ(RunDialog(plugin, 0, [](HWND d, HWND) { Press(d, IDOK); }, &seen), 30u);
  EXPECT_TRUE(seen.closedByAction);
  EXPECT_EQ(seen.count, 34);
  EXPECT_EQ(seen.selected, 29);
  EXPECT_EQ(seen.selectedText, "96 kbps, 44 kHz, stereo");
  ASSERT_EQ(seen.items.size(), 34u);
  for (size_t i = 0; i < seen.items.size(); ++i)
    EXPECT_EQ(seen.items[i], kExpectedFormatRows[i].text) << "list item " << i;

  // Another row picked in the list; a notification (high word not 0) closes nothing.
  DialogSeen picked;
  const DWORD row = RunDialog(plugin, 1, [](HWND d, HWND list) {
    SendMessageA(list, CB_SETCURSEL, 9, 0);
    PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
    Sleep(300);
    Press(d, IDOK);
  }, &picked);
  EXPECT_EQ(picked.selected, 0);
  EXPECT_EQ(row, 10u);
}

TEST_F(WmaDialog, CancelEscapeAndTheCloseBoxReturnZero) {
  const std::pair<const char*, std::function<void(HWND, HWND)>> ways[] = {
      {"Cancel", [](HWND d, HWND) { Press(d, IDCANCEL); }},
      {"Escape", [](HWND, HWND list) {
         PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0);
         PostMessageA(list, WM_KEYUP, VK_ESCAPE, 0);
       }},
      {"close box", [](HWND d, HWND) { PostMessageA(d, WM_CLOSE, 0, 0); }},
  };
  for (const auto& way : ways) {
    DialogSeen seen;
    EXPECT_EQ(RunDialog(plugin, 5, way.second, &seen), 0u) << way.first;
    EXPECT_TRUE(seen.closedByAction) << way.first;
    EXPECT_EQ(seen.selected, 4) << way.first;
  }
}

TEST_F(WmaDialog, WordNamingNoRowSelectsNothingAndOkGivesZero) {
  for (DWORD options : {35u, 0xFFFFFFFFu}) {
    DialogSeen seen;
    EXPECT_EQ(RunDialog(plugin, options, [](HWND d, HWND) { Press(d, IDOK); }, &seen), 0u);
    EXPECT_EQ(seen.count, 34);
    EXPECT_EQ(seen.selected, CB_ERR);
  }
}

// --- The template in the module's resources ---

struct TemplateReader {
  const uint8_t* p;
  uint16_t Word() { uint16_t v; std::memcpy(&v, p, 2); p += 2; return v; }
  uint32_t Dword() { uint32_t v; std::memcpy(&v, p, 4); p += 4; return v; }
  std::string Text() {  // a 16-bit string, ASCII here
    std::string s;
    for (uint16_t c = Word(); c != 0; c = Word()) s += static_cast<char>(c);
    return s;
  }
  // A menu, class or title field: 0xFFFF and an ordinal, or a string.
  std::string NameOrOrdinal() {
    uint16_t first;
    std::memcpy(&first, p, 2);
    if (first == 0xFFFF) {
      p += 2;
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void AlignDword(const uint8_t* base) {
    while ((p - base) % 4) ++p;
  }
};

TEST_F(WmaDialog, TemplateInTheModuleMatchesTheLayout) {
  HRSRC found = FindResourceA(plugin.module, MAKEINTRESOURCEA(IDD_WMA_FORMAT), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr);
  const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(plugin.module, found)));
  ASSERT_NE(base, nullptr);
  TemplateReader r{base};
  const uint32_t style = r.Dword();
  EXPECT_EQ(style, DWORD(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(r.Dword(), 0u);  // extended style
  const uint16_t items = r.Word();
  ASSERT_EQ(items, 4);
  const int16_t x = r.Word(), y = r.Word(), cx = r.Word(), cy = r.Word();
  EXPECT_EQ(std::make_tuple(x, y, cx, cy), std::make_tuple(0, 0, 112, 49));
  EXPECT_EQ(r.NameOrOrdinal(), "");  // no menu
  EXPECT_EQ(r.NameOrOrdinal(), "");  // the standard dialog class
  EXPECT_EQ(r.Text(), "WMA format settings");
  EXPECT_EQ(r.Word(), 8);
  EXPECT_EQ(r.Text(), "MS Sans Serif");

  struct Item { uint16_t id; const char* cls; const char* text; int16_t x, y, cx, cy; DWORD style; };
  const DWORD child = WS_CHILD | WS_VISIBLE;
  const Item expected[] = {
      {IDOK, "#128", "OK", 3, 33, 50, 14, child | WS_TABSTOP | BS_DEFPUSHBUTTON},
      {IDCANCEL, "#128", "Cancel", 59, 33, 50, 14, child | WS_TABSTOP | BS_PUSHBUTTON},
      {IDC_WMA_FORMAT, "#133", "", 3, 11, 105, 74,
       child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST},
      {0xFFFF, "#130", "Select format:", 5, 1, 44, 8, child | WS_GROUP | SS_LEFT},
  };
  for (const Item& e : expected) {
    r.AlignDword(base);
    const DWORD itemStyle = r.Dword();
    EXPECT_EQ(r.Dword(), 0u) << e.text;
    const int16_t ix = r.Word(), iy = r.Word(), icx = r.Word(), icy = r.Word();
    const uint16_t id = r.Word();
    EXPECT_EQ(id, e.id);
    EXPECT_EQ(itemStyle, e.style) << e.text;
    EXPECT_EQ(std::make_tuple(ix, iy, icx, icy), std::make_tuple(e.x, e.y, e.cx, e.cy)) << e.text;
    EXPECT_EQ(r.NameOrOrdinal(), e.cls) << e.text;
    EXPECT_EQ(r.NameOrOrdinal(), e.text);
    EXPECT_EQ(r.Word(), 0) << "creation data of " << e.text;
  }
}

}  // namespace
