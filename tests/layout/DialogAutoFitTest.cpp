// The auto-fit of dialog rows: a fixture page laid out at 96 and 192 dpi and
// in landscape, the fill rows' shares, the margins and the class rules.
#include "layout/DialogAutoFit.h"
#include "layout/DialogTitle.h"
#include "layout/Fonts.h"
#include "layout/ScreenScale.h"
#include "platform/controls/ComboBox.h"
#include "tests/layout/ToolkitFixture.h"

namespace layouttest {
namespace {

plat::INT_PTR QuietProc(plat::HWND, plat::UINT msg, plat::WPARAM, plat::LPARAM) { return msg == plat::WM_INITDIALOG; }

struct FixedHeight : IRowHeightProvider {
  explicit FixedHeight(int h) : height(h) {}
  int GetHeight(plat::HWND, int) override { return height; }
  int height;
};

class DialogAutoFitTest : public ToolkitTest {
 protected:
  // An empty dialog covering the screen above the soft-key bar.
  plat::HWND Dialog(int height = -1) {
    static const struct {
      plat::DLGTEMPLATE t{plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 0, 0, 100, 100};
      plat::WORD menu = 0, cls = 0, title = 0;
    } empty;
    host_ = plat::CreateDialogIndirectParamW(nullptr, &empty.t, nullptr, &QuietProc, 0);
    plat::MoveWindow(host_, 0, 0, plat::ScreenWidth(), height < 0 ? plat::ScreenHeight() - ScaleY(26) : height, 1);
    return host_;
  }
  plat::HWND Font(plat::HWND w, plat::HFONT font) {
    plat::SendMessageW(w, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(font), 0);
    return w;
  }
  // Positions relative to the dialog's client area.
  plat::RECT At(plat::HWND w) {
    plat::RECT r = ScreenRect(w);
    plat::POINT p{r.left, r.top};
    plat::ScreenToClient(host_, &p);
    return plat::RECT{p.x, p.y, p.x + r.right - r.left, p.y + r.bottom - r.top};
  }
};

// A page as the option pages build it: a label, a check box, an edit with a
// spin buddy, a drop-down list, a list filling the rest and a push button at
// the bottom; header, margins and gap.
TEST_F(DialogAutoFitTest, FixturePageAt96And192DpiAndInLandscape) {
  struct Screen {
    int w, h, dpi;
    plat::RECT label, check, edit, upDown, combo, list, button;
  } screens[] = {
      // gap 4, margins 4 / 4, header 23: the first row at 23 + 4 + 4. The combo box is
      // asked for 80 px (its list's room) and the next row follows its real height, the field.
      {240, 320, 96, {8, 31, 232, 47}, {8, 51, 232, 67}, {8, 71, 213, 91}, {212, 71, 232, 91},
       {8, 95, 232, 119}, {8, 123, 232, 260}, {8, 264, 232, 286}},
      {480, 640, 192, {16, 62, 464, 93}, {16, 101, 464, 133}, {16, 141, 426, 180}, {424, 141, 464, 180},
       {16, 188, 464, 235}, {16, 243, 464, 519}, {16, 527, 464, 572}},
      // Landscape: the list fills what is left above the button.
      {320, 240, 96, {8, 31, 312, 47}, {8, 51, 312, 67}, {8, 71, 293, 91}, {292, 71, 312, 91},
       {8, 95, 312, 119}, {8, 123, 312, 195}, {8, 199, 312, 221}},
  };

  for (const Screen& s : screens) {
    SetScreen(s.w, s.h, s.dpi);
    Dialog();
    plat::HFONT normal = GetDialogFontCache().GetFont(false);
    plat::HWND label = Font(Child(u"static", 0, 0, 0, 10, 10, 1, u"Keep articles for"), normal);
    plat::HWND check = Font(Child(u"button", plat::BS_AUTOCHECKBOX, 0, 0, 10, 10, 2, u"Limit"), normal);
    plat::HWND edit = Font(Child(u"edit", plat::WS_BORDER, 0, 0, 10, 10, 3, u"30"), normal);
    plat::HWND upDown = Child(plat::UPDOWN_CLASSW, 0, 0, 0, ScaleX(20), 10, 4);
    plat::HWND combo = Font(Child(plat::WC_COMBOBOXW, 3, 0, 0, 10, 10, 5), normal);
    plat::HWND list = Font(Child(plat::WC_LISTVIEWW, plat::LVS_REPORT, 0, 0, 10, 10, 6), normal);
    plat::HWND button = Font(Child(u"button", plat::BS_PUSHBUTTON, 0, 0, 10, 10, 7, u"Clear"), normal);
    DialogAutoFit fit(host_, true, true, true);
    fit.AddRow(label);
    fit.AddRow(check);
    fit.AddRow(edit, DialogAutoFit::kTop, upDown);
    fit.AddRow(combo);
    fit.AddRow(list, DialogAutoFit::kFill);
    fit.AddRow(button, DialogAutoFit::kBottom);
    fit.Layout();
    const std::pair<plat::HWND, plat::RECT> expected[] = {{label, s.label}, {check, s.check},   {edit, s.edit},
                                                          {upDown, s.upDown}, {combo, s.combo}, {list, s.list},
                                                          {button, s.button}};
    int row = 0;
    for (const auto& [w, r] : expected) {
      const plat::RECT got = At(w);
      EXPECT_EQ(got.left, r.left) << s.w << "x" << s.h << " row " << row;
      EXPECT_EQ(got.top, r.top) << s.w << "x" << s.h << " row " << row;
      EXPECT_EQ(got.right, r.right) << s.w << "x" << s.h << " row " << row;
      EXPECT_EQ(got.bottom, r.bottom) << s.w << "x" << s.h << " row " << row;
      ++row;
    }
    plat::DestroyWindow(host_);
    host_ = nullptr;
  }
}

TEST_F(DialogAutoFitTest, ACheckBoxTextIsMeasuredInTheWidthBesideItsCheckMark) {
  // The row is as wide as the text plus the scroll bar's width (taken by
  // every measured text) plus room: the text keeps to one line only when the
  // room holds the check mark with its gap.
  SetScreen(240, 320, 96);
  const std::u16string text = u"Keep the newest articles";
  struct Case {
    int room;
    bool oneLine;
  } cases[] = {{plat::GetSystemMetrics(plat::SM_CXMENUCHECK), true},
               {plat::GetSystemMetrics(plat::SM_CXMENUCHECK) - 1, false}};
  ASSERT_GT(plat::GetSystemMetrics(plat::SM_CXMENUCHECK), plat::GetSystemMetrics(plat::SM_CXSMICON));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    Dialog();
    plat::HFONT normal = GetDialogFontCache().GetFont(false);
    plat::HWND check = Font(Child(u"button", plat::BS_AUTOCHECKBOX, 0, 0, 10, 10, 2, text.c_str()), normal);
    plat::HDC dc = plat::GetDC(check);
    plat::HGDIOBJ old = plat::SelectObject(dc, normal);
    plat::SIZE extent{};
    plat::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    plat::TEXTMETRICW tm{};
    plat::GetTextMetricsW(dc, &tm);
    plat::SelectObject(dc, old);
    plat::ReleaseDC(check, dc);
    plat::MoveWindow(host_, 0, 0, extent.cx + plat::GetSystemMetrics(plat::SM_CXVSCROLL) + c.room, 200, 1);
    DialogAutoFit fit(host_, false, false, false);
    fit.AddRow(check);
    fit.Layout();
    const plat::RECT r = At(check);
    if (c.oneLine)
      EXPECT_LT(r.bottom - r.top, 2 * tm.tmHeight);
    else
      EXPECT_GE(r.bottom - r.top, 2 * tm.tmHeight);
    plat::DestroyWindow(host_);
    host_ = nullptr;
  }
}

TEST_F(DialogAutoFitTest, FillRowsShareTheSpareWithTheRemainderLast) {
  SetScreen(240, 320, 96);
  Dialog(70);
  plat::RECT client{};
  plat::GetClientRect(host_, &client);
  ASSERT_EQ(client.bottom, 70);
  FixedHeight twenty(20);
  DialogAutoFit fit(host_, false, false, false);
  plat::HWND rows[3];
  for (int i = 0; i < 3; ++i) {
    rows[i] = Child(u"static", 0, 0, 0, 10, 10, 10 + i);
    DialogAutoFit::Row row;
    row.control = rows[i];
    row.anchor = DialogAutoFit::kFill;
    row.provider = &twenty;
    fit.AddRow(row);
  }
  fit.Layout();
  const int heights[] = {23, 23, 24};
  const int tops[] = {0, 23, 46};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(At(rows[i]).top, tops[i]) << i;
    EXPECT_EQ(At(rows[i]).bottom - At(rows[i]).top, heights[i]) << i;
    EXPECT_EQ(At(rows[i]).right, 240) << i;
  }
}

TEST_F(DialogAutoFitTest, MarginsHiddenRowsSpacingAndTheClassRules) {
  SetScreen(240, 320, 96);
  Dialog();
  plat::RECT m{};
  DialogAutoFit(host_, false, true, true).GetMargins(m);
  EXPECT_EQ(m.left, 4);
  EXPECT_EQ(m.top, 4);
  EXPECT_EQ(m.right, 4);
  EXPECT_EQ(m.bottom, 0);
  plat::HFONT eight = CreateFontSimple(u"DejaVu Sans", 8, 400, false, 0);
  plat::HWND edit = Font(Child(u"edit", 0, 0, 0, 10, 10, 1), eight);
  const int fontHeight = GetWindowFontHeight(edit);
  ASSERT_GE(fontHeight, 8);
  ASSERT_LE(fontHeight, 10);
  EXPECT_EQ(DialogAutoFit::ClassHeight(edit, 200), fontHeight + 6);  // + (96 + 8) * 6 / 96
  plat::HWND push = Font(Child(u"button", plat::BS_PUSHBUTTON, 0, 0, 10, 10, 2, u"Same text"), eight);
  plat::HWND box = Font(Child(u"button", plat::BS_AUTOCHECKBOX, 0, 0, 10, 10, 3, u"Same text"), eight);
  EXPECT_EQ(DialogAutoFit::ClassHeight(push, 200), 13 * 7 / 4);  // 7/4 of the base unit
  EXPECT_EQ(DialogAutoFit::ClassHeight(box, 200), (96 + 3) * 16 / 96);  // the minimum beats 8 px of text
  EXPECT_EQ(DialogAutoFit::ClassHeight(Child(plat::WC_COMBOBOXW, 3, 0, 0, 10, 10, 4), 200), 80);
  EXPECT_EQ(DialogAutoFit::ClassHeight(Child(u"SIPPREF", 0, 0, 0, 0, 0, 5), 200), 0);

  DialogAutoFit fit(host_, false, true, true);
  fit.AddRow(edit);
  fit.AddRow(push);
  fit.AddRow(box);
  ASSERT_TRUE(fit.SetControlSpacing(push, 10, 5, 20, 3));
  EXPECT_FALSE(fit.SetControlSpacing(host_, 1, 1, 1, 1));
  fit.SetVisibleControls({edit, push});
  fit.Layout();
  EXPECT_EQ(At(edit).left, 4);
  EXPECT_EQ(At(edit).top, GetDialogHeaderHeight() + 4);
  EXPECT_EQ(At(push).left, 14);
  EXPECT_EQ(At(push).top, At(edit).bottom + 5);
  EXPECT_EQ(At(push).right, 240 - 4 - 20);
  EXPECT_FALSE(plat::IsWindowVisible(box));
  EXPECT_EQ(At(box).left, -1000);
  EXPECT_EQ(At(box).top, -1000);
  plat::DeleteObject(eight);
}

}  // namespace
}  // namespace layouttest
