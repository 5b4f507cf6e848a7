// Theme files: the writer's exact layout, what the reader gives back, hostile files that must
// end the load with a reason (never a crash, hang or read past the bytes), and the file theme
// component that loads them for the controls.
#include "tests/support/fs.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skincheckbox.h"
#include "widgets/skin/skineditfamily.h"
#include "widgets/skin/skinfile.h"
#include "widgets/skin/skinfiletheme.h"
#include "widgets/skin/skinprogressbar.h"
#include "widgets/skin/skinstyle.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>

#include <stdexcept>

#include <functional>

namespace {

using zv_test::TempDir;

const QByteArray bitmap_bytes("BM-not-really-a-bitmap-but-bytes");

QString q(const std::string &path) { return QString::fromStdString(path); }

uint32_t le32(const QByteArray &b, qsizetype at) {
  return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

void put32(QByteArray &b, qsizetype at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = char(v >> (8 * i));
}

// Added out of the written order on purpose: the file still has files, strings, integers,
// flags.
QByteArray sample_theme() {
  TskThemeFileWriter writer("unused");
  writer.AddBool("ButtonTransparentBool", true);
  writer.AddInteger("FormRoundCornerInt", 13);
  writer.AddStr("Author", "me");
  writer.AddFileBytes("ButtonImage", bitmap_bytes);
  return writer.Build();
}

TEST(SkinThemeFile, WriterLaysTheFileOutByteForByte) {
  const QByteArray file = sample_theme();
  ASSERT_FALSE(file.isEmpty());
  EXPECT_EQ(file.left(12), QByteArray("DODIvez_TB\0\0", 12));
  EXPECT_EQ(le32(file, 12), 24u);
  EXPECT_EQ(le32(file, 16), 1u);
  EXPECT_EQ(le32(file, 20), 24u);
  struct Head {
    const char *name;
    int kind;
    QByteArray data;
  };
  const Head heads[] = {{"ButtonImage", 0, bitmap_bytes},
                        {"Author", 3, "me"},
                        {"FormRoundCornerInt", 1, QByteArray("\x0d\0\0\0", 4)},
                        {"ButtonTransparentBool", 2, QByteArray("\x01", 1)}};
  uint32_t at = 24;
  for (const Head &head : heads) {
    SCOPED_TRACE(head.name);
    EXPECT_EQ(file.mid(at, 64), QByteArray(head.name).leftJustified(64, '\0'));
    EXPECT_EQ(int(file[at + 64]), head.kind);
    EXPECT_EQ(le32(file, at + 65), at + 77);
    EXPECT_EQ(le32(file, at + 69), uint32_t(head.data.size()));
    EXPECT_EQ(le32(file, at + 73), at + 77 + head.data.size());
    EXPECT_EQ(file.mid(at + 77, head.data.size()), head.data);
    at = le32(file, at + 73);
  }
  QByteArray end(77, '\0');
  end[64] = 2;
  EXPECT_EQ(file.mid(at), end) << "the chain ends with an all-zero head of kind 2";
}

TEST(SkinThemeFile, ReaderGivesBackWhatWasWritten) {
  auto reader = TskThemeFileReader::FromBytes(sample_theme(), "sample");
  ASSERT_TRUE(reader->CanUse()) << reader->Error().toStdString();
  EXPECT_EQ(reader->GetInteger("FormRoundCornerInt"), 13);
  EXPECT_EQ(reader->GetInteger("formroundcornerint"), 13) << "names are looked up without regard to case";
  EXPECT_TRUE(reader->GetBool("ButtonTransparentBool"));
  EXPECT_EQ(reader->GetStr("AUTHOR"), "me");
  for (int twice = 0; twice < 2; ++twice) {
    QIODevice *stream = reader->GetFile("ButtonImage");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->readAll(), bitmap_bytes) << "each GetFile starts at the beginning";
  }
  // Each kind has its own names: an integer is no flag, a file no string.
  EXPECT_FALSE(reader->GetBool("FormRoundCornerInt"));
  EXPECT_EQ(reader->GetStr("ButtonImage"), "");
}

struct WrittenRow {
  const char *what;
  std::function<void(TskThemeFileWriter &)> add;
  std::function<void(TskThemeFileReader &)> check;
};

TEST(SkinThemeFile, WrittenCasesReadBack) {
  const QString name64(64, 'n');
  const WrittenRow rows[] = {
      {"only the header and the terminating head", [](TskThemeFileWriter &) {},
       [](TskThemeFileReader &r) {
         EXPECT_TRUE(r.Entries().empty());
         EXPECT_EQ(r.GetInteger("FormRoundCornerInt"), -1);
         EXPECT_FALSE(r.GetBool("ButtonTransparentBool"));
         EXPECT_EQ(r.GetStr("x"), "");
         EXPECT_EQ(r.GetFile("ButtonImage"), nullptr);
       }},
      {"two of one name: the first wins, whatever the case",
       [](TskThemeFileWriter &w) {
         w.AddInteger("Key", 1);
         w.AddInteger("KEY", 2);
       },
       [](TskThemeFileReader &r) {
         EXPECT_EQ(r.Entries().size(), 2u);
         EXPECT_EQ(r.GetInteger("key"), 1);
       }},
      {"a name of all 64 characters has no zero and keeps them all",
       [&](TskThemeFileWriter &w) { w.AddInteger(name64, 64); },
       [&](TskThemeFileReader &r) { EXPECT_EQ(r.GetInteger(name64), 64); }},
      {"negative integers and the extremes",
       [](TskThemeFileWriter &w) {
         w.AddInteger("a", -1);
         w.AddInteger("b", INT32_MIN);
         w.AddInteger("c", INT32_MAX);
       },
       [](TskThemeFileReader &r) {
         EXPECT_EQ(r.GetInteger("a"), -1);
         EXPECT_EQ(r.GetInteger("b"), INT32_MIN);
         EXPECT_EQ(r.GetInteger("c"), INT32_MAX);
       }},
      {"single-byte characters of names and strings",
       [](TskThemeFileWriter &w) {
         w.AddStr(QString::fromUtf8("Gr\u00fc\u00df"), QString::fromUtf8("\u00e9t\u00e9"));
       },
       [](TskThemeFileReader &r) {
         EXPECT_EQ(r.GetStr(QString::fromUtf8("GR\u00dc\u00df")), QString::fromUtf8("\u00e9t\u00e9"));
       }},
  };
  for (const WrittenRow &row : rows) {
    SCOPED_TRACE(row.what);
    TskThemeFileWriter writer("unused");
    row.add(writer);
    const QByteArray bytes = writer.Build();
    ASSERT_FALSE(bytes.isEmpty()) << writer.Error().toStdString();
    auto reader = TskThemeFileReader::FromBytes(bytes, "written");
    ASSERT_TRUE(reader->CanUse()) << reader->Error().toStdString();
    row.check(*reader);
  }
}

TEST(SkinThemeFile, WriterRefusesWhatItCannotStoreAndKeepsTheOldFile) {
  TempDir dir;
  const QString target = q(dir.str("theme.skn"));
  zv_test::write_file(dir.path() / "theme.skn", "old");
  const std::pair<const char *, std::function<void(TskThemeFileWriter &)>> rows[] = {
      {"a name over 64 characters", [](TskThemeFileWriter &w) { w.AddInteger(QString(65, 'n'), 1); }},
      {"a name with a zero byte",
       [](TskThemeFileWriter &w) { w.AddBool(QString::fromLatin1("a\0b", 3), true); }},
      {"a character beyond one byte",
       [](TskThemeFileWriter &w) { w.AddStr("s", QString::fromUtf8("\u20ac")); }},
      {"a missing source file",
       [&](TskThemeFileWriter &w) { w.AddFile("ButtonImage", q(dir.str("none.bmp"))); }},
  };
  for (const auto &[what, add] : rows) {
    SCOPED_TRACE(what);
    TskThemeFileWriter writer(target);
    writer.AddInteger("Fine", 1);
    add(writer);
    EXPECT_FALSE(writer.Write());
    EXPECT_FALSE(writer.Error().isEmpty());
    EXPECT_EQ(zv_test::read_file(dir.path() / "theme.skn"), "old");
  }
}

// Offsets into sample_theme(): the first head, and the second (of "Author").
constexpr int first = 24;
const int second = 24 + 77 + int(bitmap_bytes.size());

struct HostileRow {
  const char *what;
  std::function<void(QByteArray &)> damage;
  const char *error;  // a piece of the reason given
};

TEST(SkinThemeFile, HostileFilesEndTheLoadWithAReason) {
  const HostileRow rows[] = {
      {"shorter than a header", [](QByteArray &f) { f.truncate(20); }, "too short"},
      {"no signature", [](QByteArray &f) { f[3] = 'X'; }, "signature"},
      {"signature without its zero", [](QByteArray &f) { f[10] = 'Y'; }, "signature"},
      {"header size past the end", [](QByteArray &f) { put32(f, 12, 1u << 31); }, "header size"},
      {"header size below 24", [](QByteArray &f) { put32(f, 12, 8); }, "header size"},
      {"first record inside the header", [](QByteArray &f) { put32(f, 20, 4); }, "inside the header"},
      {"first record outside the file", [](QByteArray &f) { put32(f, 20, 0xFFFFFFF0u); }, "past the end"},
      {"chain pointing backwards", [](QByteArray &f) { put32(f, second + 73, first); }, "points back"},
      {"chain pointing at itself (a loop)", [](QByteArray &f) { put32(f, second + 73, second); },
       "points back"},
      {"chain into its own head", [](QByteArray &f) { put32(f, second + 73, second + 10); },
       "inside its own head"},
      {"chain outside the file", [](QByteArray &f) { put32(f, first + 73, 0x7FFFFFFF); }, "past the end"},
      {"data size of 2 GiB", [](QByteArray &f) { put32(f, first + 69, 0x80000000u); }, "past the end"},
      {"data size of 4 GiB - 1", [](QByteArray &f) { put32(f, first + 69, 0xFFFFFFFFu); }, "past the end"},
      {"data offset outside the file", [](QByteArray &f) { put32(f, first + 65, 0xFFFFFFF0u); },
       "past the end"},
      {"cut in a record's data", [](QByteArray &f) { f.truncate(first + 77 + 5); }, "past the end"},
      {"cut before the terminating head", [](QByteArray &f) { f.chop(77); }, "runs past the end"},
      {"integer of 2 bytes", [](QByteArray &f) { f[second + 64] = 1; }, "instead of 4"},
      {"boolean without its byte", [](QByteArray &f) { f[first + 64] = 2; }, "instead of 1"},
      {"records sharing their data beyond the file's size",
       [](QByteArray &f) {
         for (int head : {first, second}) {
           put32(f, head + 65, 0);
           put32(f, head + 69, uint32_t(f.size()) - 10);
         }
       },
       "more than the file holds"},
      {"larger than any theme", [](QByteArray &f) { f.append(QByteArray(skin_file::max_file_size, '\0')); },
       "no theme file is that big"},
  };
  const QByteArray sound = sample_theme();
  for (const HostileRow &row : rows) {
    SCOPED_TRACE(row.what);
    QByteArray damaged = sound;
    row.damage(damaged);
    auto reader = TskThemeFileReader::FromBytes(damaged, "hostile.skn");
    EXPECT_FALSE(reader->CanUse());
    EXPECT_TRUE(reader->Error().startsWith("hostile.skn: ")) << reader->Error().toStdString();
    EXPECT_TRUE(reader->Error().contains(row.error)) << reader->Error().toStdString();
    EXPECT_TRUE(reader->Entries().empty()) << "a failed load keeps nothing";
    EXPECT_EQ(reader->GetInteger("FormRoundCornerInt"), -1);
  }
}

TEST(SkinThemeFile, ReadingStopsAtTheSizeBoundOnAnEndlessDevice) {
  TskThemeFileReader reader("/dev/zero");
  EXPECT_FALSE(reader.CanUse());
  EXPECT_TRUE(reader.Error().contains("no theme file is that big")) << reader.Error().toStdString();
}

TEST(SkinThemeFile, RecordsOfAnUnknownKindArePassedOver) {
  QByteArray file = sample_theme();
  file[first + 64] = 9;
  auto reader = TskThemeFileReader::FromBytes(file, "newer");
  ASSERT_TRUE(reader->CanUse()) << reader->Error().toStdString();
  EXPECT_EQ(reader->GetFile("ButtonImage"), nullptr);
  EXPECT_EQ(reader->GetInteger("FormRoundCornerInt"), 13);
}

TEST(SkinThemeFile, SignatureTest) {
  TempDir dir;
  const std::pair<const char *, std::string> rows[] = {
      {"a theme", sample_theme().toStdString()},
      {"15 bytes", std::string("DODIvez_TB\0\0\x18\0\0", 15)},
      {"another signature", std::string("DODIvez_TX\0\0\x18\0\0\0", 16)},
      {"signature running on", std::string("DODIvez_TBX\0\x18\0\0\0", 16)},
  };
  for (const auto &[what, bytes] : rows) {
    SCOPED_TRACE(what);
    zv_test::write_file(dir.path() / "t.skn", bytes);
    EXPECT_EQ(IsSkinThemeFile(q(dir.str("t.skn"))), std::string(what) == "a theme");
  }
  EXPECT_FALSE(IsSkinThemeFile(q(dir.str("missing.skn"))));
  EXPECT_FALSE(IsSkinThemeFile(q(dir.str())));
}

// A theme with the WinXP button picture and a border colour, nothing else.
QByteArray button_theme() {
  QImage picture;
  EXPECT_TRUE(GetInsideThemeBitmap(WinXP, skin_element::ButtonImage, picture));
  QByteArray bmp;
  QBuffer out(&bmp);
  out.open(QIODevice::WriteOnly);
  picture.convertToFormat(QImage::Format_RGB888).save(&out, "BMP");
  TskThemeFileWriter writer("unused");
  writer.AddFileBytes("ButtonImage", bmp);
  writer.AddInteger("ControlBorderColor", 0x123456);
  return writer.Build();
}

QImage grab_image(QWidget &widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

TEST(SkinFileTheme, ElementsComeFromTheFileWithDefaultsForMissingKeys) {
  TskFileTheme theme;
  ASSERT_TRUE(theme.LoadThemeBytes(button_theme(), "button theme"));
  EXPECT_EQ(theme.GetColor(skin_element::ControlBorderColor), 0x123456u);
  EXPECT_EQ(theme.GetColor(skin_element::FormBackgroundColor), 0xFFFFFFFFu) << "a missing colour is -1";
  EXPECT_EQ(theme.GetInt(14), -1);
  EXPECT_FALSE(theme.GetBool(skin_element::ButtonTransparentBool));
  QImage kept(2, 2, QImage::Format_RGB32);
  EXPECT_FALSE(theme.GetBitmap(skin_element::TabControlTabImage, kept));
  EXPECT_EQ(kept.size(), QSize(2, 2)) << "a missing picture leaves the bitmap alone";
  QImage frame;
  ASSERT_TRUE(theme.GetBitmap(skin_element::ButtonImage, frame, 3, 2));
  QImage builtin;
  GetInsideThemeBitmap(WinXP, skin_element::ButtonImage, builtin, 3, 2);
  EXPECT_EQ(frame, builtin);
}

TEST(SkinFileTheme, OpeningRefusesMissingAndForeignFilesAndMarksDamagedOnesUnusable) {
  TempDir dir;
  const QByteArray good = button_theme();
  zv_test::write_file(dir.path() / "good.skn", good.toStdString());
  zv_test::write_file(dir.path() / "foreign.skn", "not a theme at all, but long enough");
  zv_test::write_file(dir.path() / "damaged.skn", good.left(good.size() - 40).toStdString());

  TskFileTheme theme;
  ASSERT_TRUE(theme.OpenThemeFile(q(dir.str("good.skn")))) << theme.ThemeError().toStdString();
  for (const char *name : {"missing.skn", "foreign.skn"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(theme.OpenThemeFile(q(dir.str(name))));
    EXPECT_FALSE(theme.ThemeError().isEmpty());
    EXPECT_TRUE(theme.CanUse()) << "the theme in use stays";
    EXPECT_EQ(theme.ThemeFile(), q(dir.str("good.skn")));
  }
  EXPECT_TRUE(theme.ThemeError().startsWith("Invalid skin file for DODIvez!"));

  // Through the property, where nobody looks at a result: a missing file is passed over,
  // a foreign or damaged one is an error naming the file and why.
  EXPECT_NO_THROW(theme.setProperty("ThemeFile", q(dir.str("missing.skn"))));
  for (const char *name : {"foreign.skn", "damaged.skn"}) {
    SCOPED_TRACE(name);
    TskFileTheme fresh;
    try {
      fresh.setProperty("ThemeFile", q(dir.str(name)));
      ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument &error) {
      const std::string text = error.what();
      EXPECT_EQ(text.rfind("Invalid skin file for DODIvez!", 0), 0u) << text;
      EXPECT_NE(text.find(dir.str(name)), std::string::npos) << text;
      EXPECT_NE(text.find(name == std::string("foreign.skn") ? "signature" : "past the end"),
                std::string::npos)
          << text;
    }
  }

  // A damaged file replaces the theme and is unusable: FromThemeFile draws DeepBlue.
  TskButton from_file, deep_blue;
  from_file.SetFileTheme(&theme);
  from_file.SetUIStyle(FromThemeFile);
  deep_blue.SetUIStyle(DeepBlue);
  EXPECT_FALSE(theme.OpenThemeFile(q(dir.str("damaged.skn"))));
  EXPECT_FALSE(theme.CanUse());
  EXPECT_TRUE(theme.ThemeError().contains("past the end")) << theme.ThemeError().toStdString();
  for (TskButton *button : {&from_file, &deep_blue})
    button->resize(80, 27);
  EXPECT_EQ(grab_image(from_file), grab_image(deep_blue));
}

TEST(SkinFileTheme, ALoadRestylesTheWindowsControlsThatFollowTheTheme) {
  // The progress bar takes its colours when styled, not when painted.
  QWidget form;
  auto *theme = new TskFileTheme(&form);
  auto *bar = new TskProgressBar(&form);
  bar->SetFileTheme(theme);
  bar->SetUIStyle(FromThemeFile);
  EXPECT_EQ(bar->BorderColor(), GetInsideThemeColor(DeepBlue, skin_element::ControlBorderColor));
  ASSERT_TRUE(theme->LoadThemeBytes(button_theme(), "button theme"));
  EXPECT_EQ(bar->BorderColor(), 0x123456u);
}

TEST(SkinFileTheme, BuiltInThemeTravelsAsBytes) {
  TempDir dir;
  const QByteArray bytes = button_theme();
  zv_test::write_file(dir.path() / "t.skn", bytes.toStdString());
  TskBuiltInFileTheme from_file;
  ASSERT_TRUE(from_file.OpenThemeFile(q(dir.str("t.skn"))));
  EXPECT_EQ(from_file.property("SkinData").toByteArray(), bytes) << "stored: the theme file's bytes";

  TskBuiltInFileTheme restored;
  restored.setProperty("SkinData", bytes);
  EXPECT_TRUE(restored.CanUse());
  EXPECT_EQ(restored.GetColor(skin_element::ControlBorderColor), 0x123456u);
  EXPECT_FALSE(restored.SetSkinData(bytes.left(50)));
  EXPECT_FALSE(restored.CanUse());
}

// A built-in look written out as a theme file: every element it has under its key.
QByteArray look_theme(int style) {
  TskThemeFileWriter writer("unused");
  for (int index = 1; index <= theme_element_count; ++index) {
    const ThemeElement &element = theme_elements[index - 1];
    switch (element.kind) {
      case ElementKind::Bitmap: {
        QImage picture;
        if (!element.looks[style - MacOS].bitmap || !GetInsideThemeBitmap(style, index, picture))
          break;
        QByteArray bmp;
        QBuffer out(&bmp);
        out.open(QIODevice::WriteOnly);
        picture.convertToFormat(QImage::Format_RGB888).save(&out, "BMP");
        writer.AddFileBytes(element.key, bmp);
        break;
      }
      case ElementKind::Colour:
        writer.AddInteger(element.key, int32_t(GetInsideThemeColor(style, index)));
        break;
      case ElementKind::Integer:
        writer.AddInteger(element.key, GetInsideThemeInt(style, index));
        break;
      case ElementKind::Boolean:
        writer.AddBool(element.key, GetInsideThemeBool(style, index));
        break;
    }
  }
  return writer.Build();
}

TEST(SkinFileTheme, EveryFamilyMemberDrawsFromAThemeFileAsFromItsLook) {
  // A control that read any element past the file theme would fall back to DeepBlue in the
  // other four looks. The combo boxes pick their MacOS and WinXP button pictures by the style
  // property itself, so for those two looks they are left out.
  const struct {
    const char *what;
    bool picture_by_style_name;
    std::function<QWidget *(QWidget *parent)> make;
  } controls[] = {
      {"check box", false,
       [](QWidget *p) {
         auto *c = new TskCheckBox("Echo", p);
         c->setChecked(true);
         return c;
       }},
      {"radio button", false, [](QWidget *p) { return new TskRadioButton("VT52", p); }},
      {"control button", false,
       [](QWidget *p) {
         auto *b = new TskControlButton(p);
         b->SetPics(18, 16);
         return b;
       }},
      {"arrow button", false, [](QWidget *p) { return new TskArrowButton(p); }},
      {"tool-bar button held", false,
       [](QWidget *p) {
         auto *b = new TskToolBarSpeedButton("Open", p);
         b->setCheckable(true);
         b->setChecked(true);
         return b;
       }},
      {"number edit", false, [](QWidget *p) { return new TskNumberEdit(p); }},
      {"mask edit", false, [](QWidget *p) { return new TskMaskEdit(p); }},
      {"spin edit", false, [](QWidget *p) { return new TskSpinEdit(p); }},
      {"drive list", true, [](QWidget *p) { return new TskDriveComboBox(p); }},
      {"filter list", true, [](QWidget *p) { return new TskFilterComboBox(p); }},
  };
  // Looks in which a control differs from DeepBlue: where the comparison above has teeth.
  int unlike_deep_blue[std::size(controls)] = {};
  for (int style = MacOS; style <= BlueGlass; ++style) {
    QWidget form;
    auto *theme = new TskFileTheme(&form);
    ASSERT_TRUE(theme->LoadThemeBytes(look_theme(style), "look")) << theme->ThemeError().toStdString();
    for (const auto &c : controls) {
      if (c.picture_by_style_name && (style == MacOS || style == WinXP))
        continue;
      QWidget *built_in = c.make(&form), *from_file = c.make(&form);
      built_in->setProperty("UIStyle", style);
      from_file->setProperty("FileTheme", QVariant::fromValue(theme));
      from_file->setProperty("UIStyle", int(FromThemeFile));
      for (QWidget *w : {built_in, from_file})
        w->resize(90, 23);
      EXPECT_EQ(grab_image(*from_file), grab_image(*built_in)) << c.what << " in style " << style;
      QWidget *deep_blue = c.make(&form);
      deep_blue->setProperty("UIStyle", int(DeepBlue));
      deep_blue->resize(90, 23);
      if (grab_image(*built_in) != grab_image(*deep_blue))
        ++unlike_deep_blue[&c - controls];
    }
  }
  for (const auto &c : controls)
    EXPECT_GT(unlike_deep_blue[&c - controls], 0) << c.what << " looks the same in every look";
}

}  // namespace
