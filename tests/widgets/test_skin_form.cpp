// The skinned form and title bar: where their buttons and frame edges are in each look, what
// a click, a drag or a double click does to the window, the window's rounded shape, and the
// caption cut to the room it has. Pictures of the demo window in every look go to the build
// tree's artifacts/ folder for a person to look at.
#include "tests/support/wait.h"
#include "tools/skindemo/demoform.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinform.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextBoundaryFinder>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace std::chrono_literals;

// Default title bar buttons: control box, close, maximise, minimise.
enum { ControlBox, Close, Max, Min };

bool settle(const std::function<bool()> &done) {
  return zv_test::wait_until(
      [&] {
        QApplication::processEvents();
        return done();
      },
      5s);
}

struct Window {
  QWidget window;
  TskForm *form;
  explicit Window(int style, QRect geometry = QRect(50, 60, 400, 300)) {
    form = new TskForm(&window);
    form->SetUIStyle(style);
    window.setGeometry(geometry);
    window.show();
    settle([&] { return window.geometry() == geometry; });
  }
  QPoint centre_of(int button) const { return form->TitleBar()->ButtonRect(button).center(); }
};

// A press on `pressed` at `from` (form coordinates), then moves with the left button held
// and a release, which go to `grabber`: the widget that took the press, as the pointer's
// grab would send them.
void drag(TskForm *form, QWidget *pressed, QWidget *grabber, QPoint from, QPoint by) {
  const QPoint global = form->mapToGlobal(from);
  QMouseEvent press(QEvent::MouseButtonPress, pressed->mapFromGlobal(global), global, Qt::LeftButton,
                    Qt::LeftButton, {});
  QApplication::sendEvent(pressed, &press);
  for (int step = 1; step <= 2; ++step) {
    const QPoint to = global + by * step / 2;
    QMouseEvent move(QEvent::MouseMove, grabber->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(grabber, &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, grabber->mapFromGlobal(global + by), global + by,
                      Qt::LeftButton, Qt::NoButton, {});
  QApplication::sendEvent(grabber, &release);
}

// A theme that has border pictures, which no built-in look has.
class BorderTheme : public ThemeSource {
 public:
  std::optional<QByteArray> file(const std::string &key) const override {
    const QSize size = key == "FormLeftBorderImage" ? QSize(8, 10) : QSize(10, 7);
    if (key != "FormLeftBorderImage" && key != "FormBottomBorderImage")
      return std::nullopt;
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
  }
  std::optional<int64_t> integer(const std::string &) const override { return std::nullopt; }
  std::optional<bool> boolean(const std::string &) const override { return std::nullopt; }
};

TEST(SkinTitleBar, ButtonsSitWhereEachLookPutsThemAndGapsAreCaption) {
  struct Row {
    int style;
    QRect close, max, min, control_box;
  } rows[] = {
      // right edge 400 less the right offset and the 3-pixel frame; one pixel between buttons
      {MacOS, {382, 4, 17, 17}, {364, 4, 17, 17}, {346, 4, 17, 17}, {6, 4, 17, 17}},
      {WinXP, {378, 5, 21, 21}, {356, 5, 21, 21}, {334, 5, 21, 21}, {5, 5, 21, 21}},
      {DeepBlue, {378, 2, 19, 19}, {358, 2, 19, 19}, {338, 2, 19, 19}, {3, 2, 19, 19}},
      {Protein, {378, 2, 19, 19}, {358, 2, 19, 19}, {338, 2, 19, 19}, {3, 2, 19, 19}},
      {BlueGlass, {381, 6, 19, 19}, {361, 6, 19, 19}, {341, 6, 19, 19}, {7, 6, 19, 19}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(skin_style_name(row.style));
    Window w(row.style);
    const TskTitleBar *bar = w.form->TitleBar();
    const std::map<int, QRect> expected = {
        {Close, row.close}, {Max, row.max}, {Min, row.min}, {ControlBox, row.control_box}};
    for (const auto &[button, rect] : expected) {
      EXPECT_EQ(bar->ButtonRect(button), rect) << button;
      for (QPoint inside : {rect.topLeft(), rect.bottomRight()}) {
        const TskTitleBar::Hit hit = bar->HitTest(inside);
        EXPECT_EQ(hit.kind, TskTitleBar::Hit::Button);
        EXPECT_EQ(hit.button, button);
      }
    }
    for (QPoint outside : {row.close.topLeft() - QPoint(1, 0), row.min.topLeft() - QPoint(1, 0),
                           row.close.bottomLeft() + QPoint(0, 1), QPoint(200, 10)})
      EXPECT_EQ(bar->HitTest(outside).kind, TskTitleBar::Hit::Caption) << outside.x() << "," << outside.y();
    const QRect room = bar->CaptionRoom();
    EXPECT_GT(room.left(), row.control_box.right());
    EXPECT_LT(room.right(), row.min.left());
  }
}

TEST(SkinForm, FrameEdgesFollowTheFrameWidthAndGoAwayWhenMaximised) {
  TskFileTheme bordered;
  bordered.Load(QStringLiteral("borders.skn"), std::make_unique<BorderTheme>());
  struct Row {
    const char *name;
    int style;
    TskFileTheme *theme;
    QPoint at;
    Qt::Edges edges;
  } rows[] = {
      {"left", WinXP, nullptr, {0, 150}, Qt::LeftEdge},
      {"left, inner pixel", DeepBlue, nullptr, {2, 150}, Qt::LeftEdge},
      {"client", DeepBlue, nullptr, {3, 150}, {}},
      {"right", MacOS, nullptr, {397, 150}, Qt::RightEdge},
      {"bottom", Protein, nullptr, {200, 299}, Qt::BottomEdge},
      {"bottom-left corner grip", BlueGlass, nullptr, {8, 298}, Qt::BottomEdge | Qt::LeftEdge},
      {"bottom-right from the side", WinXP, nullptr, {398, 290}, Qt::BottomEdge | Qt::RightEdge},
      {"top", WinXP, nullptr, {200, 1}, Qt::TopEdge},
      {"top-left from the side", DeepBlue, nullptr, {1, 8}, Qt::TopEdge | Qt::LeftEdge},
      {"caption", MacOS, nullptr, {200, 10}, {}},
      // a theme's 8-pixel left picture leaves 6 pixels of frame, its 7-pixel bottom one 5
      {"theme left", FromThemeFile, &bordered, {5, 150}, Qt::LeftEdge},
      {"theme client", FromThemeFile, &bordered, {6, 150}, {}},
      {"theme bottom", FromThemeFile, &bordered, {200, 295}, Qt::BottomEdge},
      {"theme above the bottom", FromThemeFile, &bordered, {200, 294}, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Window w(row.style);
    w.form->SetFileTheme(row.theme);
    EXPECT_EQ(w.form->EdgesAt(row.at), row.edges);
    w.form->SetMaximized(true);
    EXPECT_EQ(w.form->EdgesAt(row.at), Qt::Edges());
  }
  Window w(FromThemeFile);
  w.form->SetFileTheme(&bordered);
  EXPECT_EQ(w.form->LeftBorderWidth(), 8);
  EXPECT_EQ(w.form->Client()->geometry().left(), 6);
  EXPECT_EQ(w.form->Client()->geometry().bottom(), 300 - 5 - 1);
}

TEST(SkinTitleBar, CaptionIsCutToTheRoomKeepingAllThatFits) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  const QFontMetrics metrics(font);
  const QString caption =
      QStringLiteral("ZeVavi \u2013 flashing TORQA at 192.168.102.45 (e\u0301tape 3) \U0001F600 done");
  const int whole = metrics.horizontalAdvance(caption);
  const int dots = metrics.horizontalAdvance(QStringLiteral("..."));
  for (int room : {whole + 10, whole, whole - 1, 200, 120, 61, dots + 1, dots, dots - 1, 0}) {
    SCOPED_TRACE(room);
    const QString shown = TskTitleBar::ElideCaption(caption, metrics, room);
    EXPECT_LE(metrics.horizontalAdvance(shown), room);
    if (room >= whole) {
      EXPECT_EQ(shown, caption);
      continue;
    }
    if (room < dots) {
      EXPECT_TRUE(shown.isEmpty());
      continue;
    }
    ASSERT_TRUE(shown.endsWith(QStringLiteral("...")));
    const QString kept = shown.chopped(3);
    EXPECT_TRUE(caption.startsWith(kept));
    EXPECT_FALSE(!kept.isEmpty() && kept.back().isHighSurrogate()) << "half a letter kept";
    // One more letter would not have fitted.
    QTextBoundaryFinder letters(QTextBoundaryFinder::Grapheme, caption);
    letters.setPosition(kept.size());
    const qsizetype next = letters.toNextBoundary();
    if (next > 0 && next < caption.size()) {
      EXPECT_GT(metrics.horizontalAdvance(caption.left(next) + QStringLiteral("...")), room);
    }
  }
}

TEST(SkinForm, MaximiseCoversTheAvailableAreaAndRestoreReturns) {
  for (int style : {WinXP, DeepBlue, BlueGlass}) {
    SCOPED_TRACE(skin_style_name(style));
    const QRect normal(50, 60, 400, 300);
    Window w(style, normal);
    const QRect available = w.window.screen()->availableGeometry();
    ASSERT_NE(available.size(), normal.size());

    QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Max));
    EXPECT_TRUE(settle([&] { return w.window.geometry() == available; }));
    EXPECT_TRUE(w.form->Maximized());
    QImage restore;
    GetInsideThemeBitmap(style, 5, restore, 18, 10);
    EXPECT_EQ(w.form->TitleBar()->Buttons()[Max].Pictures[0], restore) << "the restore glyph shows";
    EXPECT_TRUE(w.window.mask().isEmpty()) << "no rounding at the screen's edges";
    EXPECT_EQ(w.form->geometry(), QRect(QPoint(), available.size()));

    QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Max));
    EXPECT_TRUE(settle([&] { return w.window.geometry() == normal; }));
    EXPECT_FALSE(w.form->Maximized());
    QImage maximise;
    GetInsideThemeBitmap(style, 5, maximise, 18, 7);
    EXPECT_EQ(w.form->TitleBar()->Buttons()[Max].Pictures[0], maximise);

    // A maximise that does not come from our button (the window manager's) is followed too,
    // and a double click on the caption restores.
    w.window.setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(settle([&] { return w.window.geometry() == available; }));
    EXPECT_TRUE(w.form->Maximized());
    QTest::mouseDClick(w.form->TitleBar(), Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_TRUE(settle([&] { return w.window.geometry() == normal; }));
  }
}

TEST(SkinForm, WindowCornersAreCutAsEachLookRoundsThem) {
  // Row 0 of a rounding of diameter d keeps the pixels from `first_kept` on.
  struct Row {
    int style;
    int first_kept;
  } rows[] = {{MacOS, 0}, {WinXP, 4}, {DeepBlue, 0}, {Protein, 0}, {BlueGlass, 3}};
  for (const Row &row : rows) {
    SCOPED_TRACE(skin_style_name(row.style));
    Window w(row.style);
    const QImage picture = window_picture(w.window);
    ASSERT_EQ(picture.size(), QSize(400, 300));
    auto shows = [&](int x, int y) { return qAlpha(picture.pixel(x, y)) == 255; };
    for (int x : {row.first_kept, 399 - row.first_kept})
      EXPECT_TRUE(shows(x, 0)) << x;
    if (row.first_kept > 0) {
      EXPECT_FALSE(shows(row.first_kept - 1, 0));
      EXPECT_FALSE(shows(400 - row.first_kept, 0));
      EXPECT_FALSE(shows(0, 1));
    }
    // The lower corners are square in every look.
    EXPECT_TRUE(shows(0, 299));
    EXPECT_TRUE(shows(399, 299));
    // The frame line runs down both sides and along the bottom in the look's colour.
    const QRgb frame = skin_color(GetInsideThemeColor(row.style, 16)).rgb();
    EXPECT_EQ(picture.pixel(0, 150) | 0xFF000000, frame);
    EXPECT_EQ(picture.pixel(399, 150) | 0xFF000000, frame);
    EXPECT_EQ(picture.pixel(200, 299) | 0xFF000000, frame);
  }
}

TEST(SkinTitleBar, ClicksDoWhatTheirButtonsSay) {
  struct Row {
    const char *name;
    std::function<void(Window &)> act;
    std::function<bool(Window &)> done;
  } rows[] = {
      {"minimise",
       [](Window &w) { QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Min)); },
       [](Window &w) { return bool(w.window.windowState() & Qt::WindowMinimized); }},
      {"close",
       [](Window &w) { QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Close)); },
       [](Window &w) { return !w.window.isVisible(); }},
      {"double click on the control box closes",
       [](Window &w) {
         QTest::mouseDClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(ControlBox));
         w.form->TitleBar()->SystemMenu()->hide();
       },
       [](Window &w) { return !w.window.isVisible(); }},
      {"control box opens the window menu",
       [](Window &w) { QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(ControlBox)); },
       [](Window &w) {
         QMenu *menu = w.form->TitleBar()->SystemMenu();
         const bool open = menu->isVisible() && menu->actions().size() == 4;
         menu->hide();
         return open;
       }},
      {"release off the button does nothing",
       [](Window &w) {
         QTest::mousePress(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Close));
         QTest::mouseRelease(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(Max));
       },
       [](Window &w) { return w.window.isVisible() && !w.form->Maximized(); }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Window w(WinXP);
    row.act(w);
    EXPECT_TRUE(settle([&] { return row.done(w); }));
  }

  // Help and custom buttons only report their clicks.
  Window w(DeepBlue);
  std::vector<TskTitleBarButton> buttons = w.form->TitleBar()->Buttons();
  TskTitleBarButton help, custom;
  help.ButtonType = skHelp;
  custom.ButtonType = skCustom;
  custom.Pictures[0] = custom.Pictures[1] = custom.Pictures[2] = QImage(15, 15, QImage::Format_RGB32);
  buttons.push_back(help);
  buttons.push_back(custom);
  w.form->TitleBar()->SetButtons(buttons);
  QSignalSpy helps(w.form, &TskForm::HelpBtnClick), customs(w.form, &TskForm::BtnClick);
  QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(4));
  QTest::mouseClick(w.form->TitleBar(), Qt::LeftButton, {}, w.centre_of(5));
  ASSERT_EQ(helps.count(), 1);
  EXPECT_EQ(helps[0][1].toInt(), 4);
  ASSERT_EQ(customs.count(), 1);
  EXPECT_EQ(customs[0][1].toInt(), 5);
  EXPECT_TRUE(w.window.isVisible());
}

TEST(SkinForm, DraggingTheCaptionMovesAndTheFrameResizes) {
  struct Row {
    const char *name;
    QPoint from;  // in the form
    QPoint by;
    QRect after;
  } rows[] = {
      {"caption moves", {150, 10}, {30, 20}, {80, 80, 400, 300}},
      {"right edge widens", {398, 150}, {25, 40}, {50, 60, 425, 300}},
      {"bottom-left corner", {1, 299}, {-10, 15}, {40, 60, 410, 315}},
      {"top edge through the title bar", {200, 0}, {7, -12}, {50, 48, 400, 312}},
      {"never below the least size", {398, 299}, {-390, -290}, {50, 60, 150, 50}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Window w(WinXP);
    // Presses land on whatever lies there; a press on the frame is the form's to follow.
    QWidget *under = w.form->childAt(row.from);
    const bool edge = w.form->EdgesAt(row.from) != Qt::Edges();
    drag(w.form, under ? under : w.form, edge ? static_cast<QWidget *>(w.form) : w.form->TitleBar(), row.from,
         row.by);
    EXPECT_TRUE(settle([&] { return w.window.geometry() == row.after; }))
        << w.window.geometry().x() << "," << w.window.geometry().y() << " " << w.window.width() << "x"
        << w.window.height();
  }
  Window w(WinXP);
  w.form->SetMaximized(true);
  const QRect maximised = w.window.geometry();
  drag(w.form, w.form->TitleBar(), w.form->TitleBar(), QPoint(150, 10), QPoint(30, 20));
  EXPECT_EQ(w.window.geometry(), maximised) << "a maximised window stays put";
}

TEST(SkinForm, RefusesASecondFormAndBadCollections) {
  QWidget window;
  auto *form = new TskForm(&window);
  try {
    new TskForm(&window);
    ADD_FAILURE() << "a second skinned form was accepted";
  } catch (const std::logic_error &e) {
    EXPECT_STREQ(e.what(), "Sorry, You can create only one TskForm component in one form!");
  }
  EXPECT_EQ(window.findChildren<TskForm *>().size(), 1);

  TskTitleBar *bar = form->TitleBar();
  const size_t sections = bar->Sections().size(), buttons = bar->Buttons().size();
  TskTitleBarSection client;
  client.Align = skClient;
  EXPECT_THROW(bar->SetSections({client, client}), std::invalid_argument);
  EXPECT_EQ(bar->Sections().size(), sections);
  TskTitleBarButton box;
  box.ButtonType = skControlBox;
  EXPECT_THROW(bar->SetButtons({box, box}), std::invalid_argument);
  EXPECT_EQ(bar->Buttons().size(), buttons);

  // Controls made on the window afterwards start in the form's look.
  form->SetUIStyle(Protein);
  TskButton button(form->Client());
  EXPECT_EQ(button.UIStyle(), Protein);
}

QString artifacts() {
  QDir().mkpath(QStringLiteral(ZEVAVI_ARTIFACTS_DIR));
  return QStringLiteral(ZEVAVI_ARTIFACTS_DIR);
}

TEST(SkinFormPictures, DemoWindowInEveryLookAndACaptionAtThreeWidths) {
  for (int style = MacOS; style <= BlueGlass; ++style) {
    SkinDemo demo = make_skin_demo(style);
    demo.window->show();
    QApplication::processEvents();
    const QString path =
        artifacts() + QStringLiteral("/skinform-%1.png").arg(skin_style_name(style)).toLower();
    EXPECT_TRUE(window_picture(*demo.window).save(path)) << path.toStdString();
  }
  for (int width : {600, 300, 180}) {
    SkinDemo demo = make_skin_demo(WinXP, QSize(width, 180));
    demo.form->SetCaption(QStringLiteral("ZeVavi \u2013 upgrading TORQA at 192.168.102.45"));
    demo.window->show();
    QApplication::processEvents();
    const TskTitleBar *bar = demo.form->TitleBar();
    EXPECT_LE(QFontMetrics(bar->Font()).horizontalAdvance(bar->ShownCaption()), bar->CaptionRoom().width());
    EXPECT_EQ(bar->ShownCaption().endsWith(QStringLiteral("...")), width < 600) << width;
    const QString path = artifacts() + QStringLiteral("/skinform-caption-%1.png").arg(width);
    EXPECT_TRUE(window_picture(*demo.window).save(path)) << path.toStdString();
  }
}

}  // namespace
