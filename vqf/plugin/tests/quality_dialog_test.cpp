// The quality dialog, shown on the test display: a thread of the test finds it, reads and
// sets its combo box and presses a button, while FilterGetOptions runs the dialog. The
// template in the built module's resources is compared with the intended layout.
#include <string.h>

#include <atomic>
#include <functional>
#include <thread>

#include "vqf_test_support.h"

using namespace vqftest;

namespace {

constexpr int kComboId = 1001;

HWND FindQualityDialog() {
  for (int waited = 0; waited < 10000; waited += 20) {
    HWND dialog = FindWindowA("#32770", "VQF encoder settings");
    DWORD pid = 0;
    if (dialog) GetWindowThreadProcessId(dialog, &pid);
    if (dialog && pid == GetCurrentProcessId() && IsWindowVisible(dialog)) return dialog;
    Sleep(20);
  }
  return nullptr;
}

struct ComboState {
  std::vector<std::string> entries;
  int selected = -2;
};

ComboState ReadCombo(HWND combo) {
  ComboState state;
  LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[32] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    state.entries.push_back(text);
  }
  state.selected = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
  return state;
}

// Runs FilterGetOptions(options) while `act` handles the dialog from another thread; act
// returns the command to end it with (IDOK or IDCANCEL).
DWORD RunDialog(DWORD options, std::function<WPARAM(HWND dialog, HWND combo)> act) {
  std::thread driver([&] {
    HWND dialog = FindQualityDialog();
    if (!dialog) {
      ADD_FAILURE() << "the dialog did not appear";
      return;
    }
    WPARAM command = act(dialog, GetDlgItem(dialog, kComboId));
    PostMessageA(dialog, WM_COMMAND, command, 0);
  });
  DWORD result = Plugin().getOptions(nullptr, Plugin().module, 0, 0, 0, options);
  driver.join();
  return result;
}

// Opens the dialog on options, records what it shows and presses OK.
DWORD ShowAndConfirm(DWORD options, ComboState& shown) {
  return RunDialog(options, [&](HWND, HWND combo) {
    shown = ReadCombo(combo);
    return WPARAM(IDOK);
  });
}

const std::vector<std::string> kRates = {"8", "10", "16", "20", "24", "32", "40", "48"};

}  // namespace

TEST(VqfQualityDialog, OpensOnTheDefaultAndReturnsTheChoice) {
  ComboState shown;
  DWORD result = ShowAndConfirm(0, shown);
  EXPECT_EQ(shown.entries, kRates);
  EXPECT_EQ(shown.selected, 7) << "48 is the default";
  EXPECT_EQ(result, 8u);

  result = RunDialog(5, [&](HWND, HWND combo) {
    shown = ReadCombo(combo);
    SendMessageA(combo, CB_SETCURSEL, 2, 0);  // "16"
    return WPARAM(IDOK);
  });
  EXPECT_EQ(shown.selected, 4);
  EXPECT_EQ(result, 3u);
}

TEST(VqfQualityDialog, CancelKeepsTheInitialValue) {
  auto pickThenCancel = [](HWND, HWND combo) {
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    return WPARAM(IDCANCEL);
  };
  EXPECT_EQ(RunDialog(0, pickThenCancel), 8u);
  EXPECT_EQ(RunDialog(3, pickThenCancel), 3u);
}

// An options word outside the list selects nothing; OK then keeps the word as it was.
TEST(VqfQualityDialog, OutOfRangeOptionsSelectNothing) {
  ComboState shown;
  DWORD result = ShowAndConfirm(9, shown);
  EXPECT_EQ(shown.selected, CB_ERR);
  EXPECT_EQ(result, 9u);
}

namespace {

// Reads a DLGTEMPLATE and its items as the resource compiler stored them.
class TemplateReader {
 public:
  explicit TemplateReader(const uint8_t* at) : at_(at) {}
  uint16_t Word() {
    uint16_t w;
    memcpy(&w, at_, 2);
    at_ += 2;
    return w;
  }
  uint32_t Dword() { return uint32_t(Word()) | uint32_t(Word()) << 16; }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  // A name or ordinal: 0xFFFF then an ordinal, or a zero-terminated UTF-16 text.
  std::string Text() {
    std::string text;
    uint16_t w = Word();
    if (w == 0xFFFF) return "#" + std::to_string(Word());
    for (; w != 0; w = Word()) text += static_cast<char>(w);
    return text;
  }
  void AlignDword(const uint8_t* base) {
    while ((at_ - base) % 4) ++at_;
  }
  const uint8_t* at() const { return at_; }

 private:
  const uint8_t* at_;
};

struct Item {
  uint32_t style;
  int16_t x, y, cx, cy;
  uint16_t id;
  std::string cls, text;
};

}  // namespace

TEST(VqfQualityDialog, TemplateInTheModuleMatchesTheLayout) {
  HMODULE module = Plugin().module;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  ASSERT_NE(found, nullptr);
  const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(base, nullptr);
  TemplateReader r(base);
  const uint32_t style = r.Dword();
  EXPECT_EQ(style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  const uint16_t count = r.Word();
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 186);
  EXPECT_EQ(r.Short(), 45);
  EXPECT_EQ(r.Text(), "") << "menu";
  EXPECT_EQ(r.Text(), "") << "class";
  EXPECT_EQ(r.Text(), "VQF encoder settings");
  EXPECT_EQ(r.Word(), 8) << "font size";
  EXPECT_EQ(r.Text(), "MS Sans Serif");

  const DWORD child = WS_CHILD | WS_VISIBLE;
  const std::vector<Item> expected = {
      {child | WS_TABSTOP | BS_DEFPUSHBUTTON, 68, 26, 50, 14, 1, "#128", "OK"},
      {child | WS_TABSTOP | BS_PUSHBUTTON, 128, 26, 50, 14, 2, "#128", "Cancel"},
      {child | SS_LEFT, 8, 8, 24, 8, 0xFFFF, "#130", "Quality:"},
      {child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 36, 6, 48, 110, 1001, "#133", ""},
      {child | SS_LEFT, 88, 8, 49, 8, 0xFFFF, "#130", "kbps / channel"},
  };
  ASSERT_EQ(count, expected.size());
  for (const Item& want : expected) {
    SCOPED_TRACE(want.text.empty() ? "combo box" : want.text);
    r.AlignDword(base);
    Item got;
    got.style = r.Dword();
    EXPECT_EQ(r.Dword(), 0u) << "extended style";
    got.x = r.Short(), got.y = r.Short(), got.cx = r.Short(), got.cy = r.Short();
    got.id = r.Word();
    got.cls = r.Text();
    got.text = r.Text();
    uint16_t extra = r.Word();
    EXPECT_EQ(got.style, want.style);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.cls, want.cls);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(extra, 0) << "creation data";
  }
}
