#include "zip/zadlg.h"

#include "zip/zamsgstr.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <vector>

int ZipButtonResult(TMsgDlgBtn kind) {
  static const int results[] = {6, 7, 1, 2, 3, 4, 5, 8, 9, 10, 0};
  return results[kind];
}

int ZipButtonCaptionId(TMsgDlgBtn kind) { return 10220 + static_cast<int>(kind); }

TZipDialogBox::TZipDialogBox(QWidget *parent, int context) : QDialog(parent), context_(context) {
  setModal(true);
  setFont(QApplication::font("QMessageBox"));
  setLayoutDirection(QGuiApplication::layoutDirection());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
}

int TZipDialogBox::Kind() const {
  int kind = (context_ >> 16) & 0x1F;
  return kind == 0 ? kZipKindWarning : kind;
}

QString TZipDialogBox::PasswordText() const { return edit_ ? edit_->text() : QString(); }

void TZipDialogBox::Build(const QString &title, const QString &text, TMsgDlgButtons buttons) {
  setWindowTitle(title);
  QFontMetrics fm(font());
  // Average character width from the classic 64-character sample; dialog units from it.
  const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxy 0123456789:");
  int avg_w = std::max(1, fm.horizontalAdvance(sample) / 64);
  int char_h = fm.height();
  auto hdu = [&](int n) { return n * avg_w / 4; };
  auto vdu = [&](int n) { return n * char_h / 8; };
  const int margin_h = hdu(8), margin_v = vdu(8), spacing_h = hdu(10), spacing_v = vdu(10);
  const int button_w_min = hdu(50), button_h = vdu(14), button_gap = hdu(4);
  const bool password = Kind() == kZipKindPassword;

  QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
  switch (Kind()) {
    case kZipKindWarning:
      icon = QStyle::SP_MessageBoxWarning;
      break;
    case kZipKindError:
      icon = QStyle::SP_MessageBoxCritical;
      break;
    case kZipKindInfo:
      icon = QStyle::SP_MessageBoxInformation;
      break;
    case kZipKindQuestion:
      icon = QStyle::SP_MessageBoxQuestion;
      break;
    default:
      break;
  }

  // Buttons in their fixed order; all as wide as the widest caption plus 8 pixels.
  std::vector<std::pair<QPushButton *, TMsgDlgBtn>> made;
  int widest = button_w_min;
  int tab = password ? 2 : 1;
  for (int k = mbYes; k <= mbHelp; ++k) {
    if (!(buttons & (1u << k)))
      continue;
    auto kind = static_cast<TMsgDlgBtn>(k);
    auto *b = new QPushButton(QString::fromStdString(ZipLoadStr(ZipButtonCaptionId(kind))), this);
    b->setObjectName(QStringLiteral("zbdlg%1").arg(made.size() + 1));
    b->setProperty("tabOrder", tab++);
    int result = ZipButtonResult(kind);
    connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
    widest = std::max(widest, fm.horizontalAdvance(b->text().remove('&')) + 8);
    made.emplace_back(b, kind);
  }
  auto has = [&](TMsgDlgBtn k) { return (buttons & (1u << k)) != 0; };
  TMsgDlgBtn def = has(mbOK) ? mbOK : has(mbYes) ? mbYes : mbRetry;
  for (auto &[b, kind] : made)
    if (kind == def)
      b->setDefault(true);
  cancel_result_ = ZipButtonResult(has(mbCancel) ? mbCancel : has(mbNo) ? mbNo : mbOK);

  // Text: word-wrapped within half the screen width.
  QScreen *screen = QGuiApplication::primaryScreen();
  QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  QRect text_rect =
      fm.boundingRect(QRect(0, 0, avail.width() / 2, 0), Qt::TextWordWrap | Qt::AlignLeft, text);
  text_ = new QLabel(text, this);
  text_->setObjectName("zbdText");
  text_->setWordWrap(true);
  int icon_w = 0, text_h = text_rect.height();
  if (icon != QStyle::SP_CustomBase) {
    auto *image = new QLabel(this);
    image->setObjectName("Image");
    image->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
    image->setGeometry(margin_h, margin_v, 32, 32);
    icon_w = 32 + spacing_h;
    text_h = std::max(text_h, 32);
  }
  int text_w = text_rect.width() + icon_w;
  int edit_h = 0;
  if (password) {
    edit_ = new QLineEdit(this);
    edit_->setObjectName("zbdEdit");
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(80);
    int edit_w = std::max(80 * avg_w, text_rect.width());
    edit_h = edit_->sizeHint().height();
    edit_->setGeometry(margin_h, margin_v + text_h + margin_v, edit_w, edit_h);
    text_w = std::max(text_w, 80 * avg_w);
  }
  int buttons_w = static_cast<int>(made.size()) * widest +
                  std::max<int>(0, static_cast<int>(made.size()) - 1) * button_gap;
  int client_w = 2 * margin_h + std::max(text_w, buttons_w);
  int client_h = text_h + button_h + spacing_v + 2 * margin_v + (password ? edit_h + margin_v : 0);
  text_->setGeometry(margin_h + icon_w, margin_v, text_rect.width(), text_h);
  int x = (client_w - buttons_w) / 2;
  int y = client_h - margin_v - button_h;
  for (auto &[b, kind] : made) {
    b->setGeometry(x, y, widest, button_h);
    x += widest + button_gap;
  }
  // Tab order: the edit first, then the buttons in creation order.
  QWidget *prev = edit_;
  for (auto &[b, kind] : made) {
    if (prev)
      setTabOrder(prev, b);
    prev = b;
  }
  setFixedSize(client_w, client_h);
  move(avail.center() - rect().center());
  if (edit_)
    edit_->setFocus();
}

int TZipDialogBox::ShowModalResult() {
  if (Kind() != kZipKindPassword)
    QApplication::beep();
  return exec();
}

void TZipDialogBox::reject() { done(cancel_result_); }
