// A label that shows formatted text given as RTF, drawn on every paint straight onto its
// parent's surface, so that over a picture only the glyphs cover it.
#pragma once

#include "widgets/lists/listcolor.h"

#include <QByteArray>
#include <QString>
#include <QTextDocument>
#include <QWidget>

#include <memory>

class QPrinter;
class QTextEdit;

class TRTFLabel : public QWidget {
  Q_OBJECT

 public:
  explicit TRTFLabel(QWidget *parent = nullptr);
  ~TRTFLabel() override;

  // The RTF document, byte for byte; the next paint shows it.
  const QByteArray &RichText() const { return rich_text_; }
  void SetRichText(const QByteArray &rtf);

  // The text the label shows, without its formats.
  QString PlainText() const { return document_.toPlainText(); }

  // Transparent: the background is left unpainted; else it is filled with Color.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool wrap);
  static QString Version() { return QStringLiteral("1.3.0.0"); }

  // Nest; while any is open a paint draws only the background. The last EndUpdate takes
  // the content of the editor from GetRichEdit as the new RichText and repaints.
  void BeginUpdate();
  void EndUpdate();
  // The label's own editor, emptied and with default typing attributes, for building a
  // document between BeginUpdate and EndUpdate. Owned by the label; null when the label
  // has no parent (it renders into the parent's surface and has nothing to edit for).
  QTextEdit *GetRichEdit();
  // RichText := the document of `edit`, then repaint.
  void CopyFromRichEdit(const QTextEdit &edit);
  // Loads RichText into `edit`, switching it to formatted text.
  void CopyToRichEdit(QTextEdit &edit) const;
  // Prints RichText under the document title `title`, to `printer` or to the system's
  // default printer.
  void Print(const QString &title, QPrinter *printer = nullptr);

 protected:
  void paintEvent(QPaintEvent *event) override;

 private:
  void ShowRTF();

  QByteArray rich_text_;
  QTextDocument document_;  // RichText as read; re-read when it changes
  bool transparent_ = false;
  TColor color_ = 0x80000005;  // the system window colour
  bool word_wrap_ = false;
  int update_count_ = 0;
  bool painting_ = false;
  std::unique_ptr<QTextEdit> rich_edit_;
};
