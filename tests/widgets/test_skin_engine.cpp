// The skin engine's arithmetic: element lookups and style resolution, frame cutting, the
// nine-slice layout with its crops, rotations, and the artwork's geometry.
#include "widgets/skin/skindraw.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skinstyle.h"

#include <QLabel>
#include <QPainter>
#include <gtest/gtest.h>

#include <map>

namespace {

struct LookupRow {
  const char *what;
  int style, index;
  uint32_t colour;
  int integer;
  bool flag;
};

TEST(SkinLookups, EachKindAnswersOnlyForItsOwnEntries) {
  const LookupRow rows[] = {
      {"WinXP control border", WinXP, 25, 0x686868, -1, false},
      {"WinXP form border", WinXP, 16, 0xC82C00, -1, false},
      {"WinXP round corner", WinXP, 14, 0, 13, false},
      {"BlueGlass title top", BlueGlass, 9, 0, 6, false},
      {"MacOS right offset", MacOS, 8, 0, -2, false},
      {"MacOS button transparency", MacOS, 2, 0, -1, true},
      {"WinXP button transparency", WinXP, 2, 0, -1, false},
      {"Protein title button transparency", Protein, 6, 0, -1, true},
      {"bitmap entry", WinXP, 1, 0, -1, false},
      {"last entry", DeepBlue, 48, 0xE8E8E8, -1, false},
      {"style 0 finds nothing", FromThemeFile, 25, 0, -1, false},
      {"style 6 finds nothing", 6, 25, 0, -1, false},
      {"index 0", WinXP, 0, 0, -1, false},
      {"index 49", WinXP, 49, 0, -1, false},
  };
  for (const LookupRow &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(GetInsideThemeColor(row.style, row.index), row.colour);
    EXPECT_EQ(GetInsideThemeInt(row.style, row.index), row.integer);
    EXPECT_EQ(GetInsideThemeBool(row.style, row.index), row.flag);
  }
}

TEST(SkinLookups, BitmapLookupOnAnotherKindLeavesOrEmptiesTheBitmap) {
  QImage kept(3, 3, QImage::Format_RGB32);
  EXPECT_FALSE(GetInsideThemeBitmap(WinXP, 25, kept));
  EXPECT_EQ(kept.size(), QSize(3, 3));
  GetInsideThemeBitmap(WinXP, 25, kept, 2, 1);
  EXPECT_TRUE(kept.isNull());
  QImage unchanged(3, 3, QImage::Format_RGB32);
  GetInsideThemeBitmap(7, 1, unchanged);
  EXPECT_EQ(unchanged.size(), QSize(3, 3));
}

struct ResolveRow {
  const char *what;
  int style;
  bool theme_loaded;
  bool reads_file;
  int resolved;
};

class OneColourTheme : public ThemeSource {
 public:
  std::optional<QByteArray> file(const std::string &) const override { return std::nullopt; }
  std::optional<int64_t> integer(const std::string &key) const override {
    return key == "ControlBorderColor" ? std::optional<int64_t>(0x123456) : std::nullopt;
  }
  std::optional<bool> boolean(const std::string &) const override { return std::nullopt; }
};

TEST(SkinResolution, OnlyFromThemeFileWithAUsableThemeReadsTheFile) {
  const ResolveRow rows[] = {
      {"from file, loaded", FromThemeFile, true, true, FromThemeFile},
      {"from file, none loaded", FromThemeFile, false, false, DeepBlue},
      {"built-in with a loaded theme", WinXP, true, false, WinXP},
      {"built-in without", Protein, false, false, Protein},
  };
  for (const ResolveRow &row : rows) {
    SCOPED_TRACE(row.what);
    TskFileTheme theme;
    if (row.theme_loaded)
      theme.Load("x.skn", std::make_unique<OneColourTheme>());
    int resolved = -1;
    EXPECT_EQ(UsingFileTheme(&theme, row.style, resolved), row.reads_file);
    EXPECT_EQ(resolved, row.resolved);
    EXPECT_EQ(skin_color_of(&theme, row.style, 25),
              row.reads_file ? 0x123456u : GetInsideThemeColor(row.resolved, 25));
  }
  int resolved = -1;
  EXPECT_FALSE(UsingFileTheme(nullptr, FromThemeFile, resolved));
  EXPECT_EQ(resolved, DeepBlue);
}

TEST(SkinResolution, ContainerHandsTheStyleOnlyToSkinnedChildren) {
  QWidget page;
  auto *edit = new TskEdit(&page);
  auto *label = new QLabel(&page);
  TskFileTheme theme;
  ContainerApplyUIStyle(&page, WinXP, &theme);
  EXPECT_EQ(edit->UIStyle(), WinXP);
  EXPECT_EQ(edit->FileTheme(), &theme);
  EXPECT_EQ(edit->BorderColor(), 0x686868u);
  EXPECT_FALSE(label->property("UIStyle").isValid());
}

TEST(SkinResolution, ThemeManagerStylesTheListedControlsOfItsForm) {
  QWidget form;
  auto *listed = new TskEdit(&form);
  listed->setObjectName("listed");
  auto *other = new TskEdit(&form);
  TskThemeManager manager(&form);
  manager.Components() << "listed"
                       << "gone";
  manager.SetUIStyle(WinXP);
  EXPECT_EQ(listed->UIStyle(), WinXP);
  EXPECT_EQ(other->UIStyle(), DeepBlue);
  EXPECT_EQ(manager.Components(), QStringList{"listed"}) << "a missing component leaves the list";
}

TEST(SkinResolution, ADestroyedFileThemeFallsBackToDeepBlue) {
  TskEdit edit;
  auto theme = std::make_unique<TskFileTheme>();
  edit.SetFileTheme(theme.get());
  edit.SetUIStyle(WinXP);
  theme.reset();
  EXPECT_EQ(edit.FileTheme(), nullptr);
  EXPECT_EQ(edit.UIStyle(), DeepBlue);
}

// A strip whose every pixel tells its own column.
QImage numbered_strip(int width, int height) {
  QImage strip(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      strip.setPixel(x, y, qRgb(x, y, 7));
  return strip;
}

TEST(SkinFrames, StripsAreCutIntoEqualFramesAndTheRemainderIsDropped) {
  struct Row {
    int strip_width, count, index, first_column, width;
  } rows[] = {{54, 3, 1, 0, 18},  {54, 3, 2, 18, 18}, {54, 3, 3, 36, 18}, {18, 2, 2, 9, 9},
              {55, 3, 3, 36, 18}, {72, 4, 4, 54, 18}, {6, 1, 1, 0, 6}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.strip_width << " / " << row.count << " #" << row.index);
    QImage frame = SpitBitmap(numbered_strip(row.strip_width, 5), row.count, row.index);
    ASSERT_EQ(frame.size(), QSize(row.width, 5));
    EXPECT_EQ(qRed(frame.pixel(0, 0)), row.first_column);
    EXPECT_EQ(qRed(frame.pixel(row.width - 1, 4)), row.first_column + row.width - 1);
  }
}

struct SliceRow {
  const char *what;
  QSize frame;
  QRect target;
  std::map<std::string, std::pair<QRect, QRect>> pieces;  // name: source, target
};

TEST(SkinNineSlice, PiecesFollowTheCropAndStretchRules) {
  const SliceRow rows[] = {
      {"WinXP button frame on the form's 80 x 27 button",
       {18, 21},
       {0, 0, 80, 27},
       {{"top-left", {ltrb(0, 0, 9, 10), ltrb(0, 0, 9, 10)}},
        {"bottom-left", {ltrb(0, 12, 9, 21), ltrb(0, 18, 9, 27)}},
        {"top-right", {ltrb(10, 0, 18, 10), ltrb(72, 0, 80, 10)}},
        {"bottom-right", {ltrb(10, 12, 18, 21), ltrb(72, 18, 80, 27)}},
        {"left", {ltrb(0, 10, 9, 11), ltrb(0, 10, 9, 18)}},
        {"right", {ltrb(10, 11, 18, 12), ltrb(72, 10, 80, 18)}},
        {"top", {ltrb(9, 0, 10, 10), ltrb(9, 0, 72, 10)}},
        {"centre", {ltrb(9, 10, 10, 11), ltrb(9, 10, 72, 17)}},
        {"bottom", {ltrb(9, 11, 10, 21), ltrb(8, 17, 72, 27)}}}},
      {"the same frame on a 10 x 10 target: corners cropped toward their own corners",
       {18, 21},
       {0, 0, 10, 10},
       {{"top-left", {ltrb(0, 0, 5, 5), ltrb(0, 0, 5, 5)}},
        {"bottom-left", {ltrb(0, 17, 5, 21), ltrb(0, 6, 5, 10)}},
        {"top-right", {ltrb(14, 0, 18, 5), ltrb(6, 0, 10, 5)}},
        {"bottom-right", {ltrb(14, 17, 18, 21), ltrb(6, 6, 10, 10)}},
        {"left", {ltrb(0, 10, 5, 11), ltrb(0, 5, 5, 6)}},
        {"right", {ltrb(14, 11, 18, 12), ltrb(6, 5, 10, 6)}},
        {"top", {ltrb(9, 0, 10, 5), ltrb(5, 0, 6, 5)}},
        {"bottom", {ltrb(9, 16, 10, 21), ltrb(4, 5, 6, 10)}}}},
      {"the file button's 16 x 21: the right corners are one pixel narrower",
       {18, 21},
       {0, 0, 16, 21},
       {{"top-left", {ltrb(0, 0, 8, 10), ltrb(0, 0, 8, 10)}},
        {"bottom-left", {ltrb(0, 12, 8, 21), ltrb(0, 12, 8, 21)}},
        {"top-right", {ltrb(11, 0, 18, 10), ltrb(9, 0, 16, 10)}},
        {"bottom-right", {ltrb(11, 12, 18, 21), ltrb(9, 12, 16, 21)}},
        {"left", {ltrb(0, 10, 8, 11), ltrb(0, 10, 8, 12)}},
        {"right", {ltrb(11, 11, 18, 12), ltrb(9, 10, 16, 12)}},
        {"top", {ltrb(9, 0, 10, 10), ltrb(8, 0, 9, 10)}},
        {"centre", {ltrb(9, 10, 10, 11), ltrb(8, 10, 9, 11)}},
        {"bottom", {ltrb(9, 11, 10, 21), ltrb(7, 11, 9, 21)}}}},
  };
  for (const SliceRow &row : rows) {
    SCOPED_TRACE(row.what);
    std::map<std::string, std::pair<QRect, QRect>> laid;
    for (const SlicePiece &piece : SpitDrawLayout(row.frame, row.target, false))
      laid[piece.name] = {piece.source, piece.target};
    EXPECT_EQ(laid, row.pieces);
  }
}

TEST(SkinNineSlice, OnlyTransparentCornersLetTheKeyThrough) {
  QImage frame(18, 21, QImage::Format_RGB32);
  frame.fill(qRgb(255, 0, 255));
  frame.setPixel(9, 10, qRgb(1, 2, 3));
  for (bool transparent : {false, true}) {
    QImage target(40, 40, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    SpitDraw(frame, painter, QRect(0, 0, 40, 40), transparent);
    painter.end();
    EXPECT_EQ(target.pixel(0, 0), transparent ? qRgb(255, 255, 255) : qRgb(255, 0, 255)) << transparent;
    EXPECT_EQ(target.pixel(20, 20), qRgb(1, 2, 3));  // the centre: one pixel stretched
    EXPECT_EQ(target.pixel(20, 2), qRgb(255, 255, 255)) << "edges are always keyed";
  }
}

TEST(SkinTurns, EveryPixelLandsWhereTheTurnSendsIt) {
  const QImage source = numbered_strip(3, 2);  // pixel (x, y) holds red x, green y
  struct Row {
    const char *what;
    void (*turn)(QImage &);
    QSize size;
    QPoint old_pixel, new_pixel;
  } rows[] = {
      {"quarter counter-clockwise", RoundPicture, {2, 3}, {0, 0}, {0, 2}},
      {"quarter counter-clockwise", RoundPicture, {2, 3}, {2, 1}, {1, 0}},
      {"half", RoundPicture2, {3, 2}, {0, 0}, {2, 1}},
      {"half", RoundPicture2, {3, 2}, {2, 0}, {0, 1}},
      {"quarter clockwise", RoundPicture3, {2, 3}, {0, 0}, {1, 0}},
      {"quarter clockwise", RoundPicture3, {2, 3}, {1, 1}, {0, 1}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    QImage turned = source;
    row.turn(turned);
    ASSERT_EQ(turned.size(), row.size);
    QRgb moved = turned.pixel(row.new_pixel);
    EXPECT_EQ(QPoint(qRed(moved), qGreen(moved)), row.old_pixel);
  }
}

// The geometry the controls cut the artwork by.
TEST(SkinArtwork, StripsHaveTheirStatedSizes) {
  struct Row {
    const char *name;
    QSize size;
  } rows[] = {
      {"MACOS_BUTTON", {252, 23}},
      {"WINXP_BUTTON", {54, 21}},
      {"DEEPBLUE_BUTTON", {222, 21}},
      {"PROTEIN_BUTTON", {222, 21}},
      {"BLUEGLASS_BUTTON", {231, 27}},
      {"MACOS_CHECKBOX", {60, 17}},
      {"MACOS_RADIOBUTTON", {64, 17}},
      {"WINXP_CHECKBOX", {52, 13}},
      {"BLUEGLASS_RADIOBUTTON", {52, 13}},
      {"MACOS_PROGRESSBAR", {13, 10}},
      {"WINXP_PROGRESSBAR", {6, 10}},
      {"PROTEIN_PROGRESSBAR", {1, 10}},
      {"MACOS_SCROLLBUTTON", {72, 18}},
      {"WINXP_SCROLLBUTTON", {72, 18}},
      {"MORE_SCROLLBUTTON", {72, 17}},
      {"MACOS_TAB", {36, 27}},
      {"WINXP_TAB", {18, 18}},
      {"DEEPBLUE_TAB", {12, 17}},
      {"PROTEIN_TAB", {18, 17}},
      {"BLUEGLASS_TAB", {18, 17}},
      {"MACOS_TAB_LINE", {17, 7}},
      {"WINXP_TAB_LINE", {8, 1}},
      {"DEEPBLUE_TAB_LINE", {5, 5}},
      {"BLUEGLASS_TAB_LINE", {10, 5}},
      {"MACOS_TITLEBTN", {306, 17}},
      {"WINXP_TITLEBTN", {378, 21}},
      {"PROTEIN_TITLEBTN", {342, 19}},
      {"MACOS_SCROLLBAR_BUTTON", {96, 22}},
      {"WINXP_SCROLLBAR_BUTTON", {96, 17}},
      {"BLUEGLASS_SCROLLBAR_BUTTON", {102, 16}},
      {"MACOS_SCROLLBAR_TRACK", {33, 16}},
      {"WINXP_SCROLLBAR_TRACK", {21, 16}},
      {"WINXP_COMBOBOX_BUTTON", {16, 18}},
      {"MACOS_COMBOBOX_BUTTON", {16, 17}},
      {"MACOS_FORM_BACKGROUND", {8, 8}},
      {"PROTEIN_FORM_BACKGROUND", {8, 8}},
  };
  for (const Row &row : rows) {
    QImage image;
    ASSERT_TRUE(load_skin_resource(row.name, image)) << row.name;
    EXPECT_EQ(image.size(), row.size) << row.name;
  }
  for (const ThemeElement &element : theme_elements)
    for (const ElementValue &value : element.looks) {
      QImage image;
      if (element.kind == ElementKind::Bitmap && value.bitmap) {
        EXPECT_TRUE(load_skin_resource(value.bitmap, image)) << value.bitmap;
      }
    }
}

// The gauge stretches its picture over the filled part: a picture whose columns differ
// draws a slope that grows with the position.
TEST(SkinArtwork, GaugePicturesAreTheSameInEveryColumn) {
  for (int style = MacOS; style <= BlueGlass; ++style) {
    SCOPED_TRACE(style);
    QImage picture;
    ASSERT_TRUE(GetInsideThemeBitmap(style, skin_element::ProgressBarImage, picture));
    for (int x = 1; x < picture.width(); ++x)
      ASSERT_EQ(picture.copy(x, 0, 1, picture.height()), picture.copy(0, 0, 1, picture.height()))
          << "column " << x;
  }
}

TEST(SkinArtwork, ButtonsDrawnOpaqueShowNoKeyAndWinXPTabsAreKeyed) {
  const QRgb key = qRgb(255, 0, 255);
  for (int style = MacOS; style <= BlueGlass; ++style) {
    SCOPED_TRACE(style);
    QImage buttons;
    ASSERT_TRUE(GetInsideThemeBitmap(style, skin_element::ButtonImage, buttons));
    if (GetInsideThemeBool(style, skin_element::ButtonTransparentBool)) {
      EXPECT_EQ(buttons.pixel(0, 0), key) << "transparent looks key their corners";
      continue;
    }
    for (int y = 0; y < buttons.height(); ++y)
      for (int x = 0; x < buttons.width(); ++x)
        ASSERT_NE(buttons.pixel(x, y), key) << x << "," << y;
  }
  QImage xp_buttons, tabs;
  ASSERT_TRUE(load_skin_resource("WINXP_BUTTON", xp_buttons));
  for (int frame = 0; frame < 3; ++frame)
    for (QPoint corner : {QPoint(0, 0), QPoint(17, 0), QPoint(0, 20), QPoint(17, 20)})
      EXPECT_EQ(xp_buttons.pixel(corner + QPoint(frame * 18, 0)), qRgb(236, 233, 216)) << frame;
  ASSERT_TRUE(load_skin_resource("WINXP_TAB", tabs));
  for (int frame = 0; frame < 2; ++frame) {
    EXPECT_EQ(tabs.pixel(frame * 9, 0), key) << frame;
    EXPECT_EQ(tabs.pixel(frame * 9 + 8, 0), key) << frame;
  }
}

}  // namespace
