// The status list view, the rich-text label and the block busy indicator, as the main window
// uses them and as their own rules say.
#include "widgets/lists/kyblockindicator.h"
#include "widgets/lists/kylistview.h"
#include "widgets/lists/rtflabel.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ---- status list ----

TEST(StatusList, TwoHundredLinesKeepTheLastInViewAndHighlighted) {
  TKyListView list;
  list.setGeometry(0, 0, 320, 103);
  list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
  for (int i = 1; i <= 200; ++i) {
    list.Items().Add()->SetCaption(QStringLiteral("%1. line").arg(i));
    list.SelectItem(list.Items().Count() - 1);
  }
  TListItem *last = list.Items()[199];
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(last->isSelected());
  EXPECT_EQ(list.currentRow(), 199);
  EXPECT_EQ(list.selectedItems().size(), 1);
  QRect row = list.visualItemRect(last);
  EXPECT_TRUE(list.viewport()->rect().contains(row))
      << "row " << row.y() << "+" << row.height() << " in a viewport of " << list.viewport()->height();
  EXPECT_EQ(list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum());
  EXPECT_GT(list.verticalScrollBar()->maximum(), 0);

  // Back to a row far above: it comes wholly into view too.
  list.SelectItem(10);
  EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(list.Items()[10])));
}

TEST(StatusList, ClearingItemsKeepsTheColumnClearRemovesIt) {
  TKyListView list;
  list.resize(320, 103);
  list.Items().Add()->SetCaption("1. a");
  list.Items().Clear();
  EXPECT_EQ(list.Items().Count(), 0);
  ASSERT_EQ(list.columnCount(), 1);
  EXPECT_EQ(list.columnWidth(0), 300);
  list.Items().Add()->SetCaption("again");
  EXPECT_EQ(list.item(0)->text(), "again") << "captions carry no number of their own";
  EXPECT_TRUE(list.visualItemRect(list.item(0)).isValid());

  list.Clear();
  EXPECT_EQ(list.Items().Count(), 0);
  EXPECT_EQ(list.columnCount(), 0);
  list.Items().Add()->SetCaption("unseen");
  EXPECT_FALSE(list.visualItemRect(list.item(0)).isValid()) << "no column, nowhere to show a caption";
}

TEST(StatusList, DragScrollRule) {
  struct Row {
    int y, height, row_height, step;
  } rows[] = {
      {0, 103, 13, -1}, {12, 103, 13, -1}, {13, 103, 13, 0},  {50, 103, 13, 0},
      {90, 103, 13, 0}, {91, 103, 13, 1},  {103, 103, 13, 1}, {-5, 103, 13, -1},
  };
  for (const Row &r : rows)
    EXPECT_EQ(TKyListView::drag_scroll_step(r.y, r.height, r.row_height), r.step) << "y " << r.y;
}

// ---- rich-text label ----

const QByteArray prompt_rtf =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl ;\\red255\\green0\\blue0;}"
    "\\pard\\qc\\cf1\\b\\f0\\fs16 Please, start or restart your machine!\\par}";

// A picture with a pattern, so that any pixel painted over it shows.
QPixmap checkered(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x)
      image.setPixel(x, y, ((x / 4 + y / 4) % 2) ? qRgb(0x20, 0x40, 0x90) : qRgb(0x30, 0x90, 0x40));
  return QPixmap::fromImage(image);
}

class PictureParent : public QWidget {
 public:
  explicit PictureParent(QSize size) : picture_(checkered(size)) { resize(size); }
  QPixmap picture_;

 protected:
  void paintEvent(QPaintEvent *) override { QPainter(this).drawPixmap(0, 0, picture_); }
};

bool reddish(QRgb pixel) { return qRed(pixel) > 2 * qGreen(pixel) && qRed(pixel) > 2 * qBlue(pixel); }

struct LabelShot {
  int changed = 0;   // pixels of the label's area that differ from the picture
  int red = 0;       // of them, reddish ones (the glyphs)
  int edge = 0;      // changed pixels in the label's first row or column
  int leftmost = 0;  // the first column with a changed pixel
  int rightmost = 0;
};

LabelShot shoot(PictureParent &parent, const QRect &label_rect) {
  QImage shot = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QImage picture = parent.picture_.toImage().convertToFormat(QImage::Format_RGB32);
  LabelShot s;
  s.leftmost = label_rect.width();
  for (int y = 0; y < label_rect.height(); ++y)
    for (int x = 0; x < label_rect.width(); ++x) {
      QPoint at = label_rect.topLeft() + QPoint(x, y);
      if (shot.pixel(at) == picture.pixel(at))
        continue;
      ++s.changed;
      s.red += reddish(shot.pixel(at));
      s.edge += x == 0 || y == 0;
      s.leftmost = std::min(s.leftmost, x);
      s.rightmost = std::max(s.rightmost, x);
    }
  return s;
}

TEST(RichTextLabel, TransparentOverAPictureCoversOnlyTheGlyphs) {
  PictureParent parent(QSize(352, 66));
  TRTFLabel label(&parent);
  label.setGeometry(34, 43, 289, 17);
  label.SetTransparent(true);
  label.SetRichText(prompt_rtf);
  LabelShot s = shoot(parent, label.geometry());
  EXPECT_GT(s.changed, 100) << "the text was drawn";
  // Glyph edges are smoothed into the picture, so not every changed pixel is pure red.
  EXPECT_GT(s.red, s.changed / 2);
  EXPECT_EQ(s.edge, 0) << "the text starts one pixel in from the left and the top";
  // Centred: about as much room on the left as on the right.
  EXPECT_LE(std::abs(s.leftmost - (label.width() - 1 - s.rightmost)), 4) << s.leftmost << " " << s.rightmost;
  EXPECT_EQ(label.PlainText(), "Please, start or restart your machine!");
}

TEST(RichTextLabel, BackgroundOnlyWhenEmptyOrUpdatingFilledWhenOpaque) {
  struct Row {
    const char *name;
    bool transparent;
    QByteArray rtf;
    bool updating;
    int expect_changed_min, expect_changed_max;  // -1: the whole label
  } rows[] = {
      {"transparent empty", true, {}, false, 0, 0},
      {"transparent while updating", true, prompt_rtf, true, 0, 0},
      {"opaque empty", false, {}, false, -1, -1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    PictureParent parent(QSize(100, 40));
    TRTFLabel label(&parent);
    label.setGeometry(10, 10, 80, 20);
    label.SetTransparent(r.transparent);
    label.SetColor(0x00FFFFFF);
    if (r.updating)
      label.BeginUpdate();
    label.SetRichText(r.rtf);
    LabelShot s = shoot(parent, label.geometry());
    int whole = label.width() * label.height();
    EXPECT_GE(s.changed, r.expect_changed_min < 0 ? whole : r.expect_changed_min);
    EXPECT_LE(s.changed, r.expect_changed_max < 0 ? whole : r.expect_changed_max);
  }
}

TEST(RichTextLabel, EndUpdateTakesTheEditedDocument) {
  PictureParent parent(QSize(200, 40));
  TRTFLabel label(&parent);
  label.setGeometry(0, 0, 200, 40);
  label.SetTransparent(true);
  label.BeginUpdate();
  label.BeginUpdate();
  QTextEdit *edit = label.GetRichEdit();
  ASSERT_NE(edit, nullptr);
  QTextCharFormat red;
  red.setForeground(QColor(255, 0, 0));
  red.setFontWeight(QFont::Bold);
  edit->textCursor().insertText("Edited", red);
  label.EndUpdate();
  EXPECT_EQ(shoot(parent, label.geometry()).changed, 0) << "still inside the outer update";
  label.EndUpdate();
  EXPECT_EQ(label.PlainText(), "Edited");
  EXPECT_TRUE(label.RichText().contains("Edited"));
  LabelShot s = shoot(parent, label.geometry());
  EXPECT_GT(s.red, 10);

  // And back: the label's document loads into another editor with its formats.
  QTextEdit other;
  other.setAcceptRichText(false);
  label.CopyToRichEdit(other);
  EXPECT_TRUE(other.acceptRichText());
  EXPECT_EQ(other.toPlainText(), "Edited");
  QTextCursor cursor(other.document());
  cursor.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);

  TRTFLabel orphan;
  EXPECT_EQ(orphan.GetRichEdit(), nullptr);
}

TEST(RichTextLabel, PrintsUnderItsTitle) {
  QTemporaryDir dir;
  TRTFLabel label;
  label.SetRichText(prompt_rtf);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath("prompt.pdf"));
  label.Print("Box prompt", &printer);
  QFile pdf(dir.filePath("prompt.pdf"));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  QByteArray bytes = pdf.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  // The title is in the document information, as UTF-16 (with a byte-order mark).
  QByteArray title("\xfe\xff", 2);
  for (char c : QByteArray("Box prompt"))
    title += '\0', title += c;
  EXPECT_TRUE(bytes.contains(title) || bytes.contains("(Box prompt)") ||
              bytes.contains(title.toHex().toUpper()));
}

// ---- block busy indicator ----

TEST(BlockIndicator, BlockGeometry) {
  struct Row {
    const char *name;
    QSize size;
    int count, padding;
    bool border;
    int block_w, block_h;
    QRect bottom_right, top_left;
  } rows[] = {
      {"the window's", {50, 50}, 3, 4, false, 12, 12, {36, 36, 12, 12}, {4, 4, 12, 12}},
      {"with a border", {50, 50}, 3, 4, true, 12, 12, {35, 35, 12, 12}, {3, 3, 12, 12}},
      {"four by four", {50, 50}, 4, 2, false, 10, 10, {38, 38, 10, 10}, {2, 2, 10, 10}},
      {"wide", {80, 50}, 3, 4, false, 22, 12, {56, 36, 22, 12}, {4, 4, 22, 12}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TKyBlockIndicator indicator;
    indicator.resize(r.size);
    indicator.SetBlockCount(r.count);
    indicator.SetPadding(r.padding);
    if (r.border)
      indicator.Appearance().SetBorderColor(0);
    EXPECT_EQ(indicator.BlockWidth(), r.block_w);
    EXPECT_EQ(indicator.BlockHeight(), r.block_h);
    EXPECT_EQ(indicator.BlockRect(0, 0), r.bottom_right);
    EXPECT_EQ(indicator.BlockRect(r.count - 1, r.count - 1), r.top_left);
    EXPECT_TRUE(indicator.BlockRect(r.count, 0).isEmpty());
    EXPECT_TRUE(indicator.BlockRect(0, -1).isEmpty());
  }
  TKyBlockIndicator indicator;
  EXPECT_EQ(indicator.BlockArea(), QRect(2, 2, 46, 46));
  indicator.SetBlockCount(1);
  indicator.SetPadding(0);
  EXPECT_EQ(indicator.BlockCount(), 3) << "fewer than two blocks refused";
  EXPECT_EQ(indicator.Padding(), 4) << "padding below one refused";
}

TEST(BlockIndicator, WalksClockwiseAroundTheBorder) {
  TKyBlockIndicator indicator;
  indicator.Loaded();
  // (column from the right, row from the bottom): top-left, top-middle, top-right,
  // middle-right, bottom-right, bottom-middle, bottom-left, middle-left, and again.
  const std::vector<std::pair<int, int>> walk = {{2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0},
                                                 {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}};
  for (const auto &[column, row] : walk) {
    EXPECT_EQ(std::make_pair(indicator.ActiveColumn(), indicator.ActiveRow()), std::make_pair(column, row));
    indicator.Step();
  }
  // A grid grown under the block leaves it inside the border, where it stays.
  TKyBlockIndicator grown;
  grown.Loaded();
  grown.Step();  // (1, 2)
  grown.Step();  // (0, 2)
  grown.Step();  // (0, 1)
  grown.Step();  // (0, 0)
  grown.Step();  // (1, 0)
  grown.Step();  // (2, 0)
  grown.Step();  // (2, 1)
  grown.SetBlockCount(5);
  grown.Step();
  EXPECT_EQ(std::make_pair(grown.ActiveColumn(), grown.ActiveRow()), std::make_pair(2, 1));
}

TEST(BlockIndicator, DisabledStopsTheWalkWhichResumesFromThere) {
  TKyBlockIndicator indicator;
  indicator.SetInterval(5);
  EXPECT_FALSE(indicator.Running()) << "not before the control is set up";
  indicator.Loaded();
  EXPECT_TRUE(indicator.Running());
  QTRY_VERIFY_WITH_TIMEOUT(indicator.ActiveColumn() != 2 || indicator.ActiveRow() != 2, 5000);
  indicator.setEnabled(false);
  EXPECT_FALSE(indicator.Running());
  const auto stopped = std::make_pair(indicator.ActiveColumn(), indicator.ActiveRow());
  // A timer of the same interval, started now, fires three times; a walk still running
  // would have stepped meanwhile.
  QTimer yardstick;
  int ticks = 0;
  QObject::connect(&yardstick, &QTimer::timeout, [&] { ++ticks; });
  yardstick.start(5);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  EXPECT_EQ(std::make_pair(indicator.ActiveColumn(), indicator.ActiveRow()), stopped);
  indicator.setEnabled(true);
  EXPECT_TRUE(indicator.Running());
  EXPECT_EQ(std::make_pair(indicator.ActiveColumn(), indicator.ActiveRow()), stopped) << "no reset on resume";
  QTRY_VERIFY_WITH_TIMEOUT(std::make_pair(indicator.ActiveColumn(), indicator.ActiveRow()) != stopped, 5000);
}

QImage paint_of(TKyBlockIndicator &indicator) {
  QImage image(indicator.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  indicator.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

TEST(BlockIndicator, UnsetActiveColoursLeaveAGap) {
  TKyBlockIndicator indicator;
  indicator.Appearance().SetBlockColor(0xEECF00);
  indicator.Loaded();
  QImage image = paint_of(indicator);
  const QColor block(0x00, 0xCF, 0xEE);
  EXPECT_EQ(QColor(image.pixel(indicator.BlockRect(2, 2).center())), QColor(Qt::white))
      << "active: not painted";
  EXPECT_EQ(QColor(image.pixel(indicator.BlockRect(0, 0).center())), block);
  EXPECT_EQ(QColor(image.pixel(indicator.BlockRect(1, 1).center())), block);

  indicator.Appearance().SetBlockColorActive(0x0000FF);
  indicator.Appearance().SetBlockBorderColorActive(0x000000);
  image = paint_of(indicator);
  QRect active = indicator.BlockRect(2, 2);
  EXPECT_EQ(QColor(image.pixel(active.center())), QColor(255, 0, 0));
  EXPECT_EQ(QColor(image.pixel(active.topLeft())), QColor(0, 0, 0)) << "outline";
  EXPECT_EQ(QColor(image.pixel(active.bottomRight())), QColor(0, 0, 0)) << "outline";
}

TEST(BlockIndicator, GradientBands) {
  struct Row {
    int steps;
    TGradientDirection direction;
    int distinct;  // colours across the block
  } rows[] = {{1, gdHorizontal, 1}, {4, gdHorizontal, 4}, {4, gdVertical, 4}, {64, gdHorizontal, 12}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.steps);
    QImage image(12, 12, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      draw_block_gradient(painter, QRect(0, 0, 12, 12), QColor(0, 0, 0), QColor(200, 100, 40), r.steps,
                          r.direction);
    }
    std::vector<QRgb> seen;
    for (int i = 0; i < 12; ++i) {
      QRgb pixel = r.direction == gdHorizontal ? image.pixel(i, 5) : image.pixel(5, i);
      EXPECT_NE(pixel, qRgb(255, 255, 255)) << "gap at " << i;
      EXPECT_EQ(pixel, r.direction == gdHorizontal ? image.pixel(i, 0) : image.pixel(0, i))
          << "bands are straight";
      if (seen.empty() || seen.back() != pixel)
        seen.push_back(pixel);
    }
    if (r.steps <= 4) {  // with more bands than pixels, later bands cover the first pixel
      EXPECT_EQ(seen.front(), qRgb(0, 0, 0));
    }
    EXPECT_EQ(int(seen.size()), r.distinct);
    // Band i adds i/steps of the difference: the last band stops one step short of the end.
    if (r.steps == 4) {
      EXPECT_EQ(seen.back(), qRgb(150, 75, 30));
    }
  }
}

}  // namespace
