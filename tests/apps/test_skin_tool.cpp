// zevavi-skin: bad input is refused with a reason and leaves nothing behind; a theme survives
// unpacking and packing unchanged; and controls drawn from a theme packed from a built-in
// look's own pictures and values look exactly like that look.
#include "apps/zevavi-skin/skintool.h"
#include "tests/support/fs.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skinfile.h"
#include "widgets/skin/skinpagecontrol.h"
#include "widgets/skin/skinprogressbar.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <functional>

namespace {

using zv_test::read_file;
using zv_test::TempDir;
using zv_test::write_file;
namespace fs = std::filesystem;

struct ToolRun {
  int code;
  QString out, err;
};

ToolRun run(const QStringList &args) {
  ToolRun result;
  QTextStream out(&result.out), err(&result.err);
  result.code = skintool::run(args, out, err);
  return result;
}

QString q(const fs::path &path) { return QString::fromStdString(path.string()); }

std::string small_bmp() {
  QImage image(3, 2, QImage::Format_RGB888);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "BMP");
  return bytes.toStdString();
}

struct ToolRow {
  const char *what;
  std::function<void(const fs::path &)> setup;  // in a fresh folder
  QStringList args;                             // "@" stands for that folder
  int code;
  const char *error;
  const char *must_not_exist;
};

TEST(SkinTool, BadInputIsRefusedWithAReasonAndLeavesNothing) {
  const ToolRow rows[] = {
      {"no command", nullptr, {}, 2, "Usage:", nullptr},
      {"too many arguments", nullptr, {"list", "a", "b"}, 2, "Usage:", nullptr},
      {"pack a missing folder", nullptr, {"pack", "@/none", "@/out.skn"}, 1, "no such folder", "out.skn"},
      {"pack a stray file",
       [](const fs::path &d) { write_file(d / "in/notes.md", "x"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "neither a .bmp",
       "out.skn"},
      {"pack a bitmap that is none",
       [](const fs::path &d) { write_file(d / "in/ButtonImage.bmp", "BMxx"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "not a readable BMP",
       "out.skn"},
      {"pack a value that is no number",
       [](const fs::path &d) { write_file(d / "in/theme.txt", "# look\nFormRoundCornerInt=13px\n"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "theme.txt:2: FormRoundCornerInt: \"13px\" is not a 32-bit integer",
       "out.skn"},
      {"pack a flag that is none",
       [](const fs::path &d) { write_file(d / "in/theme.txt", "ButtonTransparentBool=yes\n"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "not 0, 1, true or false",
       "out.skn"},
      {"pack a name given twice",
       [](const fs::path &d) { write_file(d / "in/theme.txt", "AInt=1\n\naInt=2\n"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "theme.txt:3: aInt given again (first on line 1)",
       "out.skn"},
      {"pack a name over 64 characters",
       [](const fs::path &d) { write_file(d / "in/theme.txt", std::string(70, 'n') + "Int=1\n"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "longer than 64",
       "out.skn"},
      {"pack a line without '='",
       [](const fs::path &d) { write_file(d / "in/theme.txt", "FormRoundCornerInt 13\n"); },
       {"pack", "@/in", "@/out.skn"},
       1,
       "theme.txt:1: no NAME=VALUE",
       "out.skn"},
      {"list a file that is no theme",
       [](const fs::path &d) { write_file(d / "x.skn", std::string(40, 'x')); },
       {"list", "@/x.skn"},
       1,
       "signature",
       nullptr},
      {"unpack a damaged theme",
       [](const fs::path &d) {
         TskThemeFileWriter w(q(d / "x.skn"));
         w.AddInteger("AInt", 1);
         std::string bytes = w.Build().toStdString();
         write_file(d / "x.skn", bytes.substr(0, bytes.size() - 10));
       },
       {"unpack", "@/x.skn", "@/out"},
       1,
       "runs past the end",
       "out"},
      {"unpack a record named to escape the folder",
       [](const fs::path &d) {
         TskThemeFileWriter w(q(d / "x.skn"));
         w.AddFileBytes("../escaped", "BM");
         ASSERT_TRUE(w.Write());
       },
       {"unpack", "@/x.skn", "@/out"},
       1,
       "no name usable as a file name",
       "out"},
      {"unpack into a folder that is not empty",
       [](const fs::path &d) {
         TskThemeFileWriter w(q(d / "x.skn"));
         ASSERT_TRUE(w.Write());
         write_file(d / "out/keep", "mine");
       },
       {"unpack", "@/x.skn", "@/out"},
       1,
       "not an empty folder",
       nullptr},
      {"export a look that does not exist", nullptr, {"export", "Aqua", "@/out"}, 1, "no such look", "out"},
  };
  for (const ToolRow &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    if (row.setup)
      row.setup(dir.path());
    QStringList args = row.args;
    for (QString &arg : args)
      arg.replace("@", q(dir.path()));
    const ToolRun result = run(args);
    EXPECT_EQ(result.code, row.code);
    EXPECT_TRUE(result.err.contains(row.error)) << result.err.toStdString();
    if (row.must_not_exist) {
      EXPECT_FALSE(fs::exists(dir.path() / row.must_not_exist));
    }
    // No staging folder is left behind either.
    for (const auto &entry : fs::directory_iterator(dir.path()))
      EXPECT_NE(entry.path().filename().string().rfind(".zevavi-skin", 0), 0u) << entry.path();
  }
}

TEST(SkinTool, UnpackingAndPackingAgainGivesTheSameFile) {
  TempDir dir;
  write_file(dir.path() / "in/ButtonImage.bmp", small_bmp());
  write_file(dir.path() / "in/other.BMP", small_bmp());
  write_file(dir.path() / "in/theme.txt",
             "# every kind, and names whose ending says another kind\n"
             "ControlBorderColor = 0x686868\n"
             "FormRoundCornerInt=-13\n"
             "ButtonTransparentBool=true\n"
             "Author= two\\\\lines\\nand a tab\\x09 \n"
             "boolean:Shown=1\n"
             "string:CountInt=seven\n"
             "integer:string:odd=0xFFFFFFFF\n");
  ASSERT_EQ(run({"pack", q(dir.path() / "in"), q(dir.path() / "a.skn")}).code, 0);
  const ToolRun listed = run({"list", q(dir.path() / "a.skn")});
  EXPECT_TRUE(listed.out.contains("integer        4  ControlBorderColor = 0x686868\n"))
      << listed.out.toStdString();
  EXPECT_TRUE(listed.out.contains("string        20  Author = \"two\\\\lines\\nand a tab\\x09\""))
      << listed.out.toStdString();
  EXPECT_TRUE(listed.out.contains("other  (no element of the looks has this name)"));
  EXPECT_TRUE(listed.out.endsWith("9 records\n"));

  TskThemeFileReader reader(q(dir.path() / "a.skn"));
  EXPECT_EQ(reader.GetStr("Author"), "two\\lines\nand a tab\t");
  EXPECT_EQ(reader.GetStr("CountInt"), "seven");
  EXPECT_TRUE(reader.GetBool("Shown"));
  EXPECT_EQ(reader.GetInteger("string:odd"), -1);
  EXPECT_TRUE(reader.HasInteger("string:odd"));

  ASSERT_EQ(run({"unpack", q(dir.path() / "a.skn"), q(dir.path() / "out")}).code, 0);
  ASSERT_EQ(run({"pack", q(dir.path() / "out"), q(dir.path() / "b.skn")}).code, 0);
  EXPECT_EQ(read_file(dir.path() / "a.skn"), read_file(dir.path() / "b.skn"));
}

QImage grab_image(QWidget &widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The same controls in one style; FromThemeFile ones read `theme`.
struct Controls {
  TskButton button;
  TskProgressBar bar;
  TskEdit edit;
  TskPageControl pages;

  Controls(int style, TskFileTheme *theme) {
    button.setText("Next");
    button.resize(80, 27);
    bar.resize(160, 15);
    edit.setText("192.168.1.10");
    edit.resize(120, 22);
    pages.resize(200, 100);
    for (const char *caption : {"Input", "Status"})
      (new TskTabSheet(&pages))->SetCaption(caption);
    pages.SetActivePageIndex(0);
    button.SetFileTheme(theme);
    bar.SetFileTheme(theme);
    edit.SetFileTheme(theme);
    pages.SetFileTheme(theme);
    button.SetUIStyle(style);
    bar.SetUIStyle(style);
    edit.SetUIStyle(style);
    pages.SetUIStyle(style);
  }
};

TEST(SkinTool, ControlsFromAThemePackedFromALookDrawExactlyAsThatLook) {
  const std::pair<const char *, int> looks[] = {{"MacOS", MacOS},
                                                {"WinXP", WinXP},
                                                {"DeepBlue", DeepBlue},
                                                {"Protein", Protein},
                                                {"BlueGlass", BlueGlass}};
  for (const auto &[name, style] : looks) {
    SCOPED_TRACE(name);
    TempDir dir;
    ASSERT_EQ(run({"export", name, q(dir.path() / "look")}).code, 0);
    ASSERT_EQ(run({"pack", q(dir.path() / "look"), q(dir.path() / "look.skn")}).code, 0);
    TskFileTheme theme;
    ASSERT_TRUE(theme.OpenThemeFile(q(dir.path() / "look.skn"))) << theme.ThemeError().toStdString();
    Controls built_in(style, nullptr), from_file(FromThemeFile, &theme);
    EXPECT_EQ(grab_image(from_file.button), grab_image(built_in.button));
    EXPECT_EQ(grab_image(from_file.bar), grab_image(built_in.bar));
    EXPECT_EQ(grab_image(from_file.edit), grab_image(built_in.edit));
    // The WinXP page body is white by that look's own rule, which names the look itself and
    // no theme element; every other look draws its pages from the elements alone.
    if (style != WinXP) {
      EXPECT_EQ(grab_image(from_file.pages), grab_image(built_in.pages));
    }

    if (style == WinXP) {
      const fs::path sample = fs::path(ZEVAVI_BIN_DIR) / "../share/zevavi/themes/sample.skn";
      EXPECT_EQ(read_file(sample), read_file(dir.path() / "look.skn")) << "the shipped sample is this look";
    }
  }
}

}  // namespace
