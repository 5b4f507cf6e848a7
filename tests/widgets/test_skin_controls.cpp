// The skinned controls on screen: their pixels (rendered off-screen with grab()) and the
// behaviour the main window relies on (clicks, keys, page switching, the gauge's caption).
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skincheckbox.h"
#include "widgets/skin/skindraw.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skineditfamily.h"
#include "widgets/skin/skinpagecontrol.h"
#include "widgets/skin/skinprogressbar.h"

#include <QAccessible>
#include <QDialog>
#include <QDir>
#include <QEnterEvent>
#include <QFileInfo>
#include <QStorageInfo>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QImage grab_image(QWidget &widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb rgb(uint32_t value) { return skin_color(value).rgb(); }

TEST(SkinButtonPixels, WinXPFrameCornerIsTheOpaqueFaceColour) {
  QWidget form;
  TskButton button(&form);
  button.SetUIStyle(WinXP);
  button.setGeometry(0, 0, 80, 27);
  const QImage image = grab_image(button);
  for (QPoint corner : {QPoint(0, 0), QPoint(79, 0), QPoint(0, 26), QPoint(79, 26)})
    EXPECT_EQ(image.pixel(corner), qRgb(236, 233, 216)) << corner.x() << "," << corner.y();
  EXPECT_FALSE(button.Transparent());
}

TEST(SkinButtonPixels, DisabledCaptionIsGreyOverAWhiteShadow) {
  TskButton button;
  button.SetUIStyle(WinXP);
  QFont crisp = button.font();
  crisp.setStyleStrategy(QFont::NoAntialias);
  crisp.setPixelSize(14);
  button.setFont(crisp);
  button.setText("WWW");
  button.resize(80, 27);
  button.setEnabled(false);
  const QImage image = grab_image(button);
  int grey = 0;
  for (int y = 0; y + 1 < image.height(); ++y)
    for (int x = 0; x + 1 < image.width(); ++x)
      if (image.pixel(x, y) == qRgb(0x80, 0x80, 0x80)) {
        ++grey;
        QRgb below_right = image.pixel(x + 1, y + 1);
        ASSERT_TRUE(below_right == qRgb(255, 255, 255) || below_right == qRgb(0x80, 0x80, 0x80))
            << x << "," << y;
      }
  EXPECT_GT(grey, 10);
}

TEST(SkinButtonPixels, FromThemeFileWithoutAThemeDrawsLikeDeepBlue) {
  TskButton from_file, deep_blue;
  from_file.SetUIStyle(FromThemeFile);
  deep_blue.SetUIStyle(DeepBlue);
  for (TskButton *button : {&from_file, &deep_blue}) {
    button->setText("Next");
    button->resize(80, 27);
  }
  EXPECT_EQ(grab_image(from_file), grab_image(deep_blue));
}

TEST(SkinButtonBehaviour, ReleaseOutsideDoesNotClickAndKeysClickOnRelease) {
  TskButton button;
  button.resize(80, 27);
  button.show();
  QSignalSpy clicks(&button, &QAbstractButton::clicked);
  QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(button.held());
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 10));
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_FALSE(button.held());

  button.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&button));
  button.setFocus();
  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
    QTest::keyPress(&button, key);
    EXPECT_TRUE(button.held()) << key;
    QTest::keyRelease(&button, key);
    EXPECT_FALSE(button.held()) << key;
  }
  EXPECT_EQ(clicks.count(), 2);

  button.setEnabled(false);
  QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(clicks.count(), 2);
}

TEST(SkinButtonBehaviour, EnterGoesToTheFocusedButtonElseToTheDefault) {
  struct EnterKey {
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  };
  for (const EnterKey &enter : {EnterKey{"Return", Qt::Key_Return, Qt::NoModifier},
                                EnterKey{"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier}}) {
    SCOPED_TRACE(enter.name);
    QWidget form;
    auto *edit = new TskEdit(&form);
    auto *other = new TskButton(&form);
    auto *ok = new TskButton(&form);
    ok->SetDefault(true);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QSignalSpy ok_clicks(ok, &QAbstractButton::clicked), other_clicks(other, &QAbstractButton::clicked);
    edit->setFocus();
    QTest::keyClick(edit, enter.key, enter.modifiers);
    EXPECT_EQ(ok_clicks.count(), 1);
    other->setFocus();
    QTest::keyClick(other, enter.key, enter.modifiers);
    EXPECT_EQ(ok_clicks.count(), 1);
    EXPECT_EQ(other_clicks.count(), 1);
  }
}

// The caption's "&" key clicks as the mouse does: once, at once, with the dialog's result.
TEST(SkinButtonBehaviour, MnemonicClickSetsTheModalResultAndClosesTheDialog) {
  QDialog dialog;
  auto *edit = new TskEdit(&dialog);
  auto *go = new TskButton(&dialog);
  go->setText("&Go");
  go->move(0, 30);
  go->SetModalResult(5);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  edit->setFocus();
  QSignalSpy clicks(go, &QAbstractButton::clicked);
  QTest::keyClick(edit, Qt::Key_G, Qt::AltModifier);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(dialog.result(), 5);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(SkinButtonBehaviour, HoldingRepeatsUntilTheClick) {
  TskButton button;
  button.resize(80, 27);
  button.show();
  button.SetMouseContinuouslyDownInterval(10);
  QSignalSpy repeats(&button, &TskCustomButton::MouseContinuouslyDown);
  QSignalSpy clicks(&button, &QAbstractButton::clicked);
  QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(QTest::qWaitFor([&] { return repeats.count() >= 3; }, 5000));
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(clicks.count(), 1);
  const int after_release = int(repeats.count());
  // Nothing may come once released: a timer of the same interval, started now, fires three
  // times, and a repeat timer still alive would have fired meanwhile.
  QTimer yardstick;
  int ticks = 0;
  QObject::connect(&yardstick, &QTimer::timeout, [&] { ++ticks; });
  yardstick.start(10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  EXPECT_EQ(repeats.count(), after_release);
}

TEST(SkinButtonBehaviour, ClickWritesTheModalResultEvenWhenZero) {
  for (int result : {0, 7}) {
    QDialog dialog;
    dialog.setResult(99);
    TskButton button(&dialog);
    button.SetModalResult(result);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(dialog.result(), result);
  }
}

struct GaugeRow {
  int position;
  int picture_right;  // exclusive right edge of the stretched picture; 1 for none
  const char *caption;
};

TEST(SkinProgressBar, FillsToThePositionAndCaptionsThePercentage) {
  const GaugeRow rows[] = {
      {0, 1, "0%"}, {50, 159, "50%"}, {100, 319, "100%"}, {150, 319, "150%"}, {-20, 1, "-20%"}};
  for (const GaugeRow &row : rows) {
    SCOPED_TRACE(row.position);
    TskProgressBar bar;
    bar.SetUIStyle(WinXP);
    bar.resize(320, 15);
    bar.SetPosition(row.position);
    EXPECT_EQ(bar.Caption(), row.caption);
    bar.SetShowCaption(false);
    const QImage image = grab_image(bar);
    const QRgb empty = rgb(0xDEEBEF);
    EXPECT_EQ(image.pixel(0, 7), rgb(0x686868));
    EXPECT_EQ(image.pixel(319, 7), rgb(0x686868));
    if (row.picture_right > 1) {
      EXPECT_NE(image.pixel(1, 7), empty);
      EXPECT_EQ(image.pixel(row.picture_right - 1, 7), image.pixel(1, 7));
    }
    if (row.picture_right < 319) {
      EXPECT_EQ(image.pixel(row.picture_right, 7), empty);
    }
    // A theme without a bar picture: the whole inside is the bar's colour, whatever the
    // position, never the leftovers of the paint buffer.
    bar.SetPicture(QImage());
    const QImage bare = grab_image(bar);
    int other = 0;
    for (int y = 1; y < 14; ++y)
      for (int x = 1; x < 319; ++x)
        other += bare.pixel(x, y) != empty;
    EXPECT_EQ(other, 0);
  }
}

TEST(SkinAccessibility, ScreenReadersReadCaptionsAndTheGaugeValue) {
  TskButton button;
  button.setText("Next");
  TskProgressBar bar;
  bar.SetPosition(30);
  QAccessibleInterface *reads_button = QAccessible::queryAccessibleInterface(&button);
  QAccessibleInterface *reads_bar = QAccessible::queryAccessibleInterface(&bar);
  ASSERT_TRUE(reads_button && reads_bar);
  EXPECT_EQ(reads_button->role(), QAccessible::Button);
  EXPECT_EQ(reads_button->text(QAccessible::Name), "Next");
  EXPECT_EQ(reads_bar->role(), QAccessible::ProgressBar);
  EXPECT_EQ(reads_bar->text(QAccessible::Value), "30%");
}

TEST(SkinProgressBar, SmartCaptionHidesTheTextAtMin) {
  TskProgressBar smart, plain;
  for (TskProgressBar *bar : {&smart, &plain}) {
    bar->resize(320, 15);
    bar->SetPosition(0);
  }
  smart.SetSmartShowCaption(true);
  plain.SetShowCaption(false);
  EXPECT_EQ(grab_image(smart), grab_image(plain));
  smart.SetPosition(1);
  EXPECT_NE(grab_image(smart), grab_image(plain));
  EXPECT_EQ(TskProgressBar::percent(5, 5, 9), 0);
}

TEST(SkinEditPixels, DisabledEditKeepsItsTwoLineBorder) {
  TskEdit edit;
  edit.SetUIStyle(WinXP);
  edit.resize(96, 21);
  edit.setEnabled(false);
  const QImage image = grab_image(edit);
  EXPECT_EQ(image.pixel(0, 10), rgb(0x686868));
  EXPECT_EQ(image.pixel(95, 10), rgb(0x686868));
  EXPECT_EQ(image.pixel(1, 10), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(48, 19), qRgb(255, 255, 255));
}

TEST(SkinComboPixels, WinXPShowsItsButtonPictureAndOthersDrawAnArrow) {
  for (int style : {WinXP, DeepBlue}) {
    SCOPED_TRACE(style);
    TskComboBox combo;
    combo.SetUIStyle(style);
    combo.resize(96, 21);
    const QImage image = grab_image(combo);
    const QRect R = TskCustomComboBox::button_rect(combo.size());
    EXPECT_EQ(image.pixel(0, 0), rgb(style == WinXP ? 0x686868 : 0x000000));
    const QPoint tip(R.left() + R.width() / 2, R.height() / 2 + 1);
    if (style == WinXP) {
      QImage face;
      ASSERT_TRUE(load_skin_resource("WINXP_COMBOBOX_BUTTON", face));
      QImage stretched(R.size(), QImage::Format_RGB32);
      QPainter painter(&stretched);
      painter.drawImage(QRect(QPoint(0, 0), R.size()), face);
      painter.end();
      EXPECT_EQ(image.copy(R), stretched);
    } else {
      EXPECT_EQ(image.pixel(tip), qRgb(0, 0, 0));
      EXPECT_EQ(image.pixel(R.left() + 2, R.top() + 1), rgb(GetInsideThemeColor(DeepBlue, 15)));
    }
  }
}

// The main window's page control: two pages, tabs hidden, switched by program.
struct PageStep {
  const char *what;
  enum { HideTab0, HideTab1, Activate } op;
  int index;
  int active;
  bool page0_enabled, page1_enabled;
};

TEST(SkinPageControl, HidingTabsAndSwitchingKeepsOnePageEnabled) {
  TskPageControl control;
  control.resize(352, 161);
  control.SetTabPosition(skBottom);
  control.SetUIStyle(WinXP);
  auto *page0 = new TskTabSheet(&control);
  auto *page1 = new TskTabSheet(&control);
  EXPECT_EQ(control.ActivePage(), page1) << "an inserted page becomes active";
  const PageStep steps[] = {
      {"hide page 0's tab", PageStep::HideTab0, 0, 1, false, true},
      {"hide the active page's tab: nowhere to go", PageStep::HideTab1, 0, 1, false, true},
      {"index out of range", PageStep::Activate, 2, 1, false, true},
      {"switch to page 0", PageStep::Activate, 0, 0, true, false},
      {"and back", PageStep::Activate, 1, 1, false, true},
  };
  for (const PageStep &step : steps) {
    SCOPED_TRACE(step.what);
    if (step.op == PageStep::HideTab0)
      page0->SetTabVisible(false);
    else if (step.op == PageStep::HideTab1)
      page1->SetTabVisible(false);
    else
      control.SetActivePageIndex(step.index);
    EXPECT_EQ(control.ActivePageIndex(), step.active);
    EXPECT_EQ(page0->isEnabled(), step.page0_enabled);
    EXPECT_EQ(page1->isEnabled(), step.page1_enabled);
  }
  EXPECT_EQ(page0->geometry(), QRect(3, 3, 346, 136));
  EXPECT_EQ(control.Strip()->geometry(), QRect(0, 142, 352, 19));
  const QImage image = grab_image(control);
  EXPECT_EQ(image.pixel(0, 0), rgb(0x686868));
  EXPECT_EQ(image.pixel(351, 100), rgb(0x686868));
}

TEST(SkinPageControl, HidingTheActiveTabMovesToTheNearestVisibleOne) {
  TskPageControl control;
  control.resize(300, 120);
  TskTabSheet *pages[3] = {new TskTabSheet(&control), new TskTabSheet(&control), new TskTabSheet(&control)};
  control.SetActivePageIndex(1);
  pages[1]->SetTabVisible(false);
  EXPECT_EQ(control.ActivePage(), pages[0]);
  pages[0]->SetTabVisible(false);
  EXPECT_EQ(control.ActivePage(), pages[2]);
}

TEST(SkinPageControl, TabsThatDoNotFitAreCutAndGetScrollArrows) {
  TskPageControl control;
  control.SetUIStyle(WinXP);
  control.resize(200, 80);
  control.show();
  for (const char *caption : {"", "A rather long caption", "Third"}) {
    auto *page = new TskTabSheet(&control);
    page->SetCaption(caption);
  }
  control.SetActivePageIndex(0);
  const QImage image = grab_image(control);
  TskTabControlTopPanel *strip = control.Strip();
  EXPECT_EQ(strip->TabWidth(0), 80);  // an empty caption
  const int bw = 72 / 4;
  EXPECT_EQ(strip->TabWidth(1), 200 - 2 * bw - 2 - (10 + 80)) << "cut to end before the arrows";
  EXPECT_EQ(strip->TabWidth(2), -1) << "nothing after a cut tab is laid out";
  EXPECT_TRUE(strip->ScrollArrowsShown());
  // The right arrow's picture sits at the strip's right end.
  QImage arrows;
  ASSERT_TRUE(load_skin_resource("WINXP_SCROLLBUTTON", arrows));
  // The strip (19 high) leaves no room to centre an 18-high arrow: it sits at the top.
  const QPoint arrow_centre(200 - bw - 2 + bw / 2, 9);
  EXPECT_EQ(image.pixel(arrow_centre), arrows.pixel(bw / 2, 9));

  QSignalSpy changes(&control, &TskTab::Changed);
  QSignalSpy clicks(&control, &TskTab::Click), double_clicks(&control, &TskTab::DblClick);
  QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(10 + 80 + 5, 5));
  EXPECT_EQ(control.ActivePageIndex(), 1);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(clicks.count(), 1);
  // A double click as the system delivers it: a click, then the second press as a double click.
  QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(10 + 5, 5));
  QTest::mouseDClick(strip, Qt::LeftButton, {}, QPoint(10 + 5, 5));
  EXPECT_EQ(control.ActivePageIndex(), 0);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(double_clicks.count(), 1);
  QTest::mouseClick(strip, Qt::RightButton, {}, QPoint(10 + 80 + 5, 5));
  EXPECT_EQ(clicks.count(), 2) << "the left button only";
}

// Pages made by the control are named after the first number no object of the form has,
// also after a page made earlier went.
TEST(SkinPageControl, NewPagesGetNamesNoOtherObjectHas) {
  QWidget form;
  auto *control = new TskPageControl(&form);
  (new QWidget(&form))->setObjectName("skTabSheet2");
  TskTabSheet *first = control->NewPage();
  TskTabSheet *second = control->NewPage();
  TskTabSheet *third = control->NewPage();
  EXPECT_EQ(first->objectName(), "skTabSheet1");
  EXPECT_EQ(second->objectName(), "skTabSheet3");
  EXPECT_EQ(third->objectName(), "skTabSheet4");
  EXPECT_EQ(third->Caption(), "skTabSheet4");
  delete second;
  EXPECT_EQ(control->NewPage()->objectName(), "skTabSheet3");
  EXPECT_EQ(control->NewPage()->objectName(), "skTabSheet5");
}

// ---- the rest of the family ----

TEST(SkinFamilyMarks, ClicksAndSpaceToggleACheckBoxAndOnlyTheUserClicks) {
  QWidget form;
  auto *box = new TskCheckBox("Echo typed charachters locally", &form);
  box->resize(box->sizeHint());
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QSignalSpy clicks(box, &QAbstractButton::clicked), toggles(box, &QAbstractButton::toggled);
  const QPoint on_caption(box->width() - 4, box->height() / 2);
  const struct {
    const char *step;
    std::function<void()> act;
    bool checked;
    int clicks, toggles;  // so far
  } steps[] = {
      {"click on the caption", [&] { QTest::mouseClick(box, Qt::LeftButton, {}, on_caption); }, true, 1, 1},
      {"click on the mark", [&] { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, 4)); }, false, 2, 2},
      {"space",
       [&] {
         box->setFocus();
         QTest::keyClick(box, Qt::Key_Space);
       },
       true, 3, 3},
      {"set by program", [&] { box->setChecked(false); }, false, 3, 4},
      {"click while disabled",
       [&] {
         box->setEnabled(false);
         QTest::mouseClick(box, Qt::LeftButton, {}, on_caption);
         box->setEnabled(true);
       },
       false, 3, 4},
  };
  for (const auto &s : steps) {
    s.act();
    EXPECT_EQ(box->isChecked(), s.checked) << s.step;
    EXPECT_EQ(clicks.count(), s.clicks) << s.step;
    EXPECT_EQ(toggles.count(), s.toggles) << s.step;
  }
}

TEST(SkinFamilyMarks, RadioButtonsKeepOneCheckedInEachParent) {
  QWidget form;
  auto *group_a = new QWidget(&form), *group_b = new QWidget(&form);
  group_b->move(0, 100);
  TskRadioButton *a[] = {new TskRadioButton("Block", group_a), new TskRadioButton("Underline", group_a),
                         new TskRadioButton("None", group_a)};
  auto *b = new TskRadioButton("VT52", group_b);
  for (int i = 0; i < 3; ++i)
    a[i]->setGeometry(0, i * 20, 100, 19);
  b->setGeometry(0, 0, 100, 19);
  form.show();
  const struct {
    const char *step;
    QAbstractButton *clicked;
    const char *states;  // a0 a1 a2 b after the click
  } steps[] = {{"first", a[0], "1000"},
               {"second takes over", a[1], "0100"},
               {"the checked one again", a[1], "0100"},
               {"another parent's", b, "0101"},
               {"third", a[2], "0011"}};
  for (const auto &s : steps) {
    QTest::mouseClick(s.clicked, Qt::LeftButton, {}, QPoint(30, 9));
    QString states;
    for (QAbstractButton *r : {static_cast<QAbstractButton *>(a[0]), static_cast<QAbstractButton *>(a[1]),
                               static_cast<QAbstractButton *>(a[2]), static_cast<QAbstractButton *>(b)})
      states += r->isChecked() ? '1' : '0';
    EXPECT_EQ(states, s.states) << s.step;
  }
}

TEST(SkinFamilyPixels, EachMarkStateShowsItsFrameOfTheStrip) {
  // Frames: checked, unchecked, checked disabled, unchecked disabled.
  const struct {
    bool checked, enabled;
    int frame;
  } cases[] = {{true, true, 1}, {false, true, 2}, {true, false, 3}, {false, false, 4}};
  for (int style = MacOS; style <= BlueGlass; ++style)
    for (int element : {skin_element::CheckBoxImage, skin_element::RadioButtonImage})
      for (const auto &c : cases) {
        QWidget form;
        QAbstractButton *mark = element == skin_element::CheckBoxImage
                                    ? static_cast<QAbstractButton *>(new TskCheckBox("x", &form))
                                    : static_cast<QAbstractButton *>(new TskRadioButton("x", &form));
        mark->setProperty("UIStyle", style);
        mark->setChecked(c.checked);
        mark->setEnabled(c.enabled);
        mark->resize(60, 21);
        QImage frame;
        ASSERT_TRUE(GetInsideThemeBitmap(style, element, frame, 4, c.frame));
        const QImage shot = grab_image(*mark);
        const int top = (shot.height() - frame.height()) / 2;
        int compared = 0;
        for (int y = 0; y < frame.height(); ++y)
          for (int x = 0; x < frame.width(); ++x)
            if (frame.pixel(x, y) != qRgb(255, 0, 255)) {
              ASSERT_EQ(shot.pixel(x, top + y), frame.pixel(x, y))
                  << "style " << style << " element " << element << " frame " << c.frame << " at " << x << ","
                  << y;
              ++compared;
            }
        EXPECT_GT(compared, frame.width() * frame.height() / 3);
      }
}

TEST(SkinFamilyPixels, ToolBarButtonIsFlatUntilPointedAtAndSunkWhenHeldOrChecked) {
  const QRgb bar = qRgb(200, 210, 220);
  const struct {
    const char *state;
    std::function<void(TskToolBarSpeedButton &)> set;
    QRgb corner, inside;
  } cases[] = {
      {"flat", [](TskToolBarSpeedButton &) {}, bar, bar},
      {"pointed at",
       [](TskToolBarSpeedButton &b) {
         QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
         QCoreApplication::sendEvent(&b, &enter);
       },
       rgb(0xC66931), rgb(0xEFD3C6)},
      {"held", [](TskToolBarSpeedButton &b) { QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(3, 3)); },
       rgb(0xC66931), rgb(0xE1AC93)},
      {"checked",
       [](TskToolBarSpeedButton &b) {
         b.setCheckable(true);
         b.setChecked(true);
       },
       rgb(0xC66931), rgb(0xE1AC93)},
      {"disabled and pointed at",
       [](TskToolBarSpeedButton &b) {
         b.setEnabled(false);
         QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
         QCoreApplication::sendEvent(&b, &enter);
       },
       bar, bar},
  };
  for (const auto &c : cases) {
    QWidget form;
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, QColor(bar));
    form.setPalette(palette);
    form.setAutoFillBackground(true);
    auto *button = new TskToolBarSpeedButton("", &form);
    button->SetUIStyle(WinXP);
    button->setGeometry(0, 0, 40, 22);
    c.set(*button);
    const QImage shot = grab_image(*button);
    EXPECT_EQ(shot.pixel(0, 0), c.corner) << c.state;
    EXPECT_EQ(shot.pixel(20, 11), c.inside) << c.state;
  }
}

TEST(SkinFamilyEdits, TypingKeepsOnlyWhatEachEditTakes) {
  const struct {
    const char *what;
    std::function<TskEdit *()> make;
    const char *keys;
    const char *shown;
  } cases[] = {
      {"number: letters and an inner minus refused", [] { return new TskNumberEdit; }, "12a-3", "123"},
      {"number: a leading minus, no point without decimals", [] { return new TskNumberEdit; }, "-4.5", "-45"},
      {"number: two decimals at most",
       [] {
         auto *e = new TskNumberEdit;
         e->SetDecimals(2);
         e->clear();
         return e;
       },
       "3.14159", "3.14"},
      {"mask: digits fill the address around the dots",
       [] {
         auto *e = new TskMaskEdit;
         e->SetEditMask("000.000.000.000;_");
         return e;
       },
       "192168001045", "192.168.001.045"},
      {"mask: a letter does not take a digit's place",
       [] {
         auto *e = new TskMaskEdit;
         e->SetEditMask("000.000.000.000;_");
         return e;
       },
       "1a2", "12_.___.___.___"},
      {"spin: beyond the bound when editing ends", [] { return new TskSpinEdit; }, "500\r", "100"},
      {"spin: no letters", [] { return new TskSpinEdit; }, "abc\r", "0"},
      {"spin: no minus while the bounds are not below 0", [] { return new TskSpinEdit; }, "-7\r", "70"},
  };
  for (const auto &c : cases) {
    std::unique_ptr<TskEdit> edit(c.make());
    edit->show();
    edit->setFocus();
    edit->home(false);
    QTest::keyClicks(edit.get(), QString::fromLatin1(c.keys).remove('\r'));
    if (QByteArray(c.keys).endsWith('\r'))
      QTest::keyClick(edit.get(), Qt::Key_Return);
    EXPECT_EQ(edit->displayText(), QString::fromLatin1(c.shown)) << c.what;
  }
  TskMaskEdit ip;
  ip.SetEditMask("999.999.999.999;_");  // every digit required
  ip.setText("192168001045");
  EXPECT_TRUE(ip.IsComplete());
  ip.setText("1921");
  EXPECT_FALSE(ip.IsComplete());
  TskNumberEdit number;
  number.SetDecimals(1);
  number.SetValue(-2.24);
  EXPECT_EQ(number.text(), "-2.2");
  EXPECT_DOUBLE_EQ(number.Value(), -2.2);
}

TEST(SkinFamilyEdits, SpinEditStepsWithinItsBoundsByKeysAndButtons) {
  QWidget form;
  auto *spin = new TskSpinEdit(&form);
  spin->setGeometry(0, 0, 70, 21);
  ASSERT_TRUE(spin->SetBounds(-2, 3));
  spin->SetValue(2);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  spin->setFocus();
  QSignalSpy changes(spin, &TskSpinEdit::ValueChanged);
  auto up = [&] { QTest::mouseClick(spin->Button()->UpButton(), Qt::LeftButton, {}, QPoint(3, 3)); };
  auto down = [&] { QTest::mouseClick(spin->Button()->DownButton(), Qt::LeftButton, {}, QPoint(3, 3)); };
  const struct {
    const char *step;
    std::function<void()> act;
    int value, changes;  // changes so far
  } steps[] = {
      {"Up", [&] { QTest::keyClick(spin, Qt::Key_Up); }, 3, 1},
      {"Up at the top", [&] { QTest::keyClick(spin, Qt::Key_Up); }, 3, 1},
      {"up button at the top", up, 3, 1},
      {"down button", down, 2, 2},
      {"Down five times",
       [&] {
         for (int i = 0; i < 5; ++i)
           QTest::keyClick(spin, Qt::Key_Down);
       },
       -2, 6},
      {"down button at the bottom", down, -2, 6},
      {"bounds the wrong way round are refused", [&] { EXPECT_FALSE(spin->SetBounds(5, 1)); }, -2, 6},
      {"new bounds pull the value inside", [&] { EXPECT_TRUE(spin->SetBounds(5, 10)); }, 5, 7},
      {"a typed number counts once editing ends",
       [&] {
         spin->selectAll();
         QTest::keyClicks(spin, "8");
         QTest::keyClick(spin, Qt::Key_Up);
       },
       9, 9},
  };
  for (const auto &s : steps) {
    s.act();
    EXPECT_EQ(spin->Value(), s.value) << s.step;
    EXPECT_EQ(spin->text(), QString::number(s.value)) << s.step;
    EXPECT_EQ(changes.count(), s.changes) << s.step;
    EXPECT_EQ(spin->MinValue() <= spin->Value() && spin->Value() <= spin->MaxValue(), true) << s.step;
  }

  // Held down, the up button keeps stepping until the top.
  spin->SetValue(5);
  QTest::mousePress(spin->Button()->UpButton(), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_TRUE(QTest::qWaitFor([&] { return spin->Value() == 10; }, 10000)) << spin->Value();
  QTest::mouseRelease(spin->Button()->UpButton(), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(spin->Value(), 10);
}

TEST(SkinFamilyLists, DriveListHoldsTheMountedVolumesAndChoosesByPath) {
  TskDriveComboBox drives;
  ASSERT_GT(drives.count(), 0);
  for (int i = 0; i < drives.count(); ++i)
    EXPECT_TRUE(QFileInfo(drives.itemData(i).toString()).isDir()) << drives.itemText(i).toStdString();
  EXPECT_EQ(drives.Drive(), QStorageInfo(QDir::currentPath()).rootPath()) << "starts on the current folder's";
  ASSERT_TRUE(drives.SetDrive(QDir::tempPath()));
  EXPECT_EQ(drives.Drive(), QStorageInfo(QDir::tempPath()).rootPath());
  const QString before = drives.Drive();
  EXPECT_FALSE(drives.SetDrive("/no/such/folder/anywhere"));
  EXPECT_EQ(drives.Drive(), before);
  drives.Refresh();
  EXPECT_EQ(drives.Drive(), before) << "a refresh keeps the chosen volume";
}

TEST(SkinFamilyLists, FilterListShowsDescriptionsAndGivesTheChosenMasks) {
  const struct {
    const char *filter;
    bool ok;
    QStringList items;  // after the call
    QStringList first_mask;
  } cases[] = {
      {"Images (*.bin *.img)|*.bin;*.img|All files (*)|*",
       true,
       {"Images (*.bin *.img)", "All files (*)"},
       {"*.bin", "*.img"}},
      {"Logs|*.log", true, {"Logs"}, {"*.log"}},
      {"Logs|*.log|Text", false, {"Logs"}, {"*.log"}},
      {"|*.txt", false, {"Logs"}, {"*.log"}},
      {"Text| ", false, {"Logs"}, {"*.log"}},
  };
  TskFilterComboBox filters;
  EXPECT_EQ(filters.Mask(), QStringList{"*"}) << "all files to start with";
  for (const auto &c : cases) {
    EXPECT_EQ(filters.SetFilter(c.filter), c.ok) << c.filter;
    EXPECT_EQ(filters.FilterError().isEmpty(), c.ok) << c.filter;
    QStringList items;
    for (int i = 0; i < filters.count(); ++i)
      items << filters.itemText(i);
    EXPECT_EQ(items, c.items) << c.filter;
    EXPECT_EQ(filters.Mask(), c.first_mask) << c.filter;
  }
}

}  // namespace
