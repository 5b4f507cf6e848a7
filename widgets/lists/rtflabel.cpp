#include "widgets/lists/rtflabel.h"

#include "widgets/lists/rtfreader.h"
#include "widgets/lists/rtfwriter.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextEdit>

TRTFLabel::TRTFLabel(QWidget *parent) : QWidget(parent), rich_edit_(std::make_unique<QTextEdit>()) {
  rich_edit_->hide();
  rich_edit_->setGeometry(0, 0, 10, 10);
  rich_edit_->setFrameShape(QFrame::NoFrame);
  rich_edit_->setLineWrapMode(QTextEdit::NoWrap);
  rich_edit_->setAcceptRichText(true);
  document_.setDocumentMargin(0);
}

TRTFLabel::~TRTFLabel() = default;

void TRTFLabel::SetRichText(const QByteArray &rtf) {
  rich_text_ = rtf;
  read_rtf(rich_text_, document_);
  update();
}

void TRTFLabel::SetTransparent(bool transparent) {
  if (transparent == transparent_)
    return;
  transparent_ = transparent;
  update();
}

void TRTFLabel::SetColor(TColor color) {
  if (color == color_)
    return;
  color_ = color;
  update();
}

void TRTFLabel::SetWordWrap(bool wrap) {
  if (wrap == word_wrap_)
    return;
  word_wrap_ = wrap;
  rich_edit_->setLineWrapMode(wrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  update();
}

void TRTFLabel::BeginUpdate() { ++update_count_; }

void TRTFLabel::EndUpdate() {
  if (update_count_ == 0)
    return;
  if (--update_count_ == 0)
    ShowRTF();
}

void TRTFLabel::ShowRTF() {
  if (!parentWidget())
    return;
  SetRichText(write_rtf(*rich_edit_->document()));
}

QTextEdit *TRTFLabel::GetRichEdit() {
  if (!parentWidget())
    return nullptr;
  rich_edit_->clear();
  rich_edit_->setCurrentCharFormat(QTextCharFormat());
  return rich_edit_.get();
}

void TRTFLabel::CopyFromRichEdit(const QTextEdit &edit) { SetRichText(write_rtf(*edit.document())); }

void TRTFLabel::CopyToRichEdit(QTextEdit &edit) const {
  edit.setAcceptRichText(true);
  read_rtf(rich_text_, *edit.document());
}

void TRTFLabel::Print(const QString &title, QPrinter *printer) {
  read_rtf(rich_text_, *rich_edit_->document());
  QPrinter default_printer;
  QPrinter &target = printer ? *printer : default_printer;
  target.setDocName(title);
  rich_edit_->document()->print(&target);
}

void TRTFLabel::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  if (!transparent_)
    painter.fillRect(rect(), list_color(color_));
  if (update_count_ > 0 || painting_ || rich_text_.isEmpty())
    return;
  painting_ = true;
  // The text goes into the label's rectangle inset by one pixel at the left and the top,
  // one pixel narrower and lower, and nothing of it beyond.
  const QRectF area(1, 1, width() - 1, height() - 1);
  QTextOption option = document_.defaultTextOption();
  const auto wrap = word_wrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap;
  if (option.wrapMode() != wrap) {
    option.setWrapMode(wrap);
    document_.setDefaultTextOption(option);
  }
  if (document_.defaultFont() != font())
    document_.setDefaultFont(font());
  if (document_.textWidth() != area.width())
    document_.setTextWidth(area.width());
  painter.setClipRect(area);
  painter.translate(area.topLeft());
  QAbstractTextDocumentLayout::PaintContext context;
  context.palette = palette();
  context.palette.setColor(QPalette::Text, list_color(0x80000008));
  context.clip = QRectF(0, 0, area.width(), area.height());
  document_.documentLayout()->draw(&painter, context);
  painting_ = false;
}
