#include "widgets/skin/skineditfamily.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QStorageInfo>

#include <algorithm>
#include <limits>

namespace {

// The spin buttons' width.
constexpr int spin_buttons_width = 16;
// Repeat ticks (of the buttons' 100 ms) a held spin button waits before it steps.
constexpr int repeat_after_ticks = 3;

}  // namespace

TskNumberEdit::TskNumberEdit(QWidget *parent) : TskEdit(parent) {
  set_validator();
  connect(this, &QLineEdit::textChanged, this, [this] { emit ValueChanged(Value()); });
}

void TskNumberEdit::set_validator() {
  const QString pattern =
      decimals_ > 0 ? QStringLiteral("-?\\d*(\\.\\d{0,%1})?").arg(decimals_) : QStringLiteral("-?\\d*");
  auto *old = validator();
  setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), this));
  delete old;
}

double TskNumberEdit::Value() const { return text().toDouble(); }

void TskNumberEdit::SetValue(double value) { setText(QString::number(value, 'f', decimals_)); }

void TskNumberEdit::SetDecimals(int decimals) {
  const double value = Value();
  decimals_ = std::max(0, decimals);
  set_validator();
  SetValue(value);
}

TskSpinButtons::TskSpinButtons(QWidget *parent)
    : QWidget(parent), up_(new TskArrowButton(this)), down_(new TskArrowButton(this)) {
  const struct {
    TskArrowButton *button;
    TskArrowButtonType arrow;
    void (TskSpinButtons::*signal)(QObject *);
  } halves[] = {{up_, atUp, &TskSpinButtons::UpClick}, {down_, atDown, &TskSpinButtons::DownClick}};
  for (const auto &half : halves) {
    half.button->SetArrowType(half.arrow);
    // The edit beside them keeps the focus and the caret.
    half.button->setFocusPolicy(Qt::NoFocus);
    auto signal = half.signal;
    connect(half.button, &QAbstractButton::clicked, this, [this, signal] {
      held_ticks_ = 0;
      emit(this->*signal)(this);
    });
    connect(half.button, &TskCustomButton::MouseContinuouslyDown, this, [this, signal] {
      if (++held_ticks_ > repeat_after_ticks)
        emit(this->*signal)(this);
    });
    connect(half.button, &TskCustomButton::MouseExit, this, [this] { held_ticks_ = 0; });
  }
  SetUIStyle(GetSkinFormStyle(parent ? parent->window() : nullptr));
  resize(spin_buttons_width, 21);
}

void TskSpinButtons::SetUIStyle(int style) {
  up_->SetUIStyle(style);
  down_->SetUIStyle(style);
}

void TskSpinButtons::SetFileTheme(TskFileTheme *theme) {
  up_->SetFileTheme(theme);
  down_->SetFileTheme(theme);
}

void TskSpinButtons::resizeEvent(QResizeEvent *) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

void TskSpinButtons::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange)
    held_ticks_ = 0;
}

TskSpinEdit::TskSpinEdit(QWidget *parent) : TskEdit(parent), buttons_(new TskSpinButtons(this)) {
  setTextMargins(2, 0, 2 + spin_buttons_width, 0);
  buttons_->setCursor(Qt::ArrowCursor);
  connect(buttons_, &TskSpinButtons::UpClick, this, [this] { step(increment_); });
  connect(buttons_, &TskSpinButtons::DownClick, this, [this] { step(-increment_); });
  connect(this, &QLineEdit::editingFinished, this, &TskSpinEdit::commit_text);
  SetBounds(min_, max_);
  UIStyleChanged();
}

bool TskSpinEdit::SetBounds(int min, int max) {
  if (min > max)
    return false;
  min_ = min;
  max_ = max;
  auto *old = validator();
  setValidator(new QRegularExpressionValidator(
      QRegularExpression(min < 0 ? QStringLiteral("-?\\d{0,10}") : QStringLiteral("\\d{0,10}")), this));
  delete old;
  SetValue(value_);
  return true;
}

void TskSpinEdit::SetValue(int value) {
  const int kept = std::clamp(value, min_, max_);
  // The text follows even when the number does not change: "500" typed over 256 shows 256.
  setText(QString::number(kept));
  if (kept == value_)
    return;
  value_ = kept;
  emit ValueChanged(value_);
}

void TskSpinEdit::commit_text() {
  bool ok = false;
  const qlonglong typed = text().trimmed().toLongLong(&ok);
  if (!ok) {
    SetValue(value_);
    return;
  }
  SetValue(
      int(std::clamp<qlonglong>(typed, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
}

void TskSpinEdit::step(int delta) {
  commit_text();
  const qlonglong next = qlonglong(value_) + delta;
  SetValue(int(std::clamp<qlonglong>(next, min_, max_)));
}

void TskSpinEdit::UIStyleChanged() {
  if (buttons_) {
    buttons_->SetFileTheme(FileTheme());
    buttons_->SetUIStyle(UIStyle());
  }
}

void TskSpinEdit::keyPressEvent(QKeyEvent *event) {
  if (event->modifiers() == Qt::NoModifier && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
    step(event->key() == Qt::Key_Up ? increment_ : -increment_);
    return;
  }
  TskEdit::keyPressEvent(event);
}

void TskSpinEdit::resizeEvent(QResizeEvent *event) {
  TskEdit::resizeEvent(event);
  // Inside the two-line border, along the right edge.
  buttons_->setGeometry(width() - 2 - spin_buttons_width, 2, spin_buttons_width, std::max(0, height() - 4));
}

QSize TskSpinEdit::sizeHint() const {
  const QSize edit = TskEdit::sizeHint();
  return QSize(fontMetrics().horizontalAdvance(QString::number(max_)) + 16 + spin_buttons_width,
               edit.height());
}

TskDriveComboBox::TskDriveComboBox(QWidget *parent) : TskCustomComboBox(parent) {
  Refresh();
  SetDrive(QDir::currentPath());
  connect(this, &QComboBox::currentIndexChanged, this, [this] { emit DriveChanged(Drive()); });
}

void TskDriveComboBox::Refresh() {
  const QString chosen = Drive();
  QStringList roots;
  std::vector<QStorageInfo> volumes;
  for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
    // A single file mounted over another (containers do so) is no drive.
    if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir() ||
        roots.contains(volume.rootPath()))
      continue;
    roots << volume.rootPath();
    volumes.push_back(volume);
  }
  std::sort(volumes.begin(), volumes.end(),
            [](const QStorageInfo &a, const QStorageInfo &b) { return a.rootPath() < b.rootPath(); });
  const QSignalBlocker quiet(this);
  clear();
  for (const QStorageInfo &volume : volumes) {
    QString shown = QDir::toNativeSeparators(volume.rootPath());
    if (!volume.name().isEmpty())
      shown += QStringLiteral("  [%1]").arg(volume.name());
    addItem(shown, volume.rootPath());
  }
  setCurrentIndex(std::max(0, findData(chosen)));
}

QString TskDriveComboBox::Drive() const { return currentData().toString(); }

bool TskDriveComboBox::SetDrive(const QString &path) {
  if (!QFileInfo::exists(path))
    return false;
  const QStorageInfo volume(path);
  const int index = volume.isValid() ? findData(volume.rootPath()) : -1;
  if (index < 0)
    return false;
  setCurrentIndex(index);
  return true;
}

TskFilterComboBox::TskFilterComboBox(QWidget *parent) : TskCustomComboBox(parent) {
  SetFilter(QStringLiteral("All files (*)|*"));
}

bool TskFilterComboBox::SetFilter(const QString &filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  if (parts.size() % 2 != 0) {
    error_ = QStringLiteral("The filter \"%1\" ends in a description without its mask.").arg(filter);
    return false;
  }
  for (qsizetype i = 0; i < parts.size(); i += 2)
    if (parts[i].trimmed().isEmpty() || parts[i + 1].trimmed().isEmpty()) {
      error_ = QStringLiteral("The filter \"%1\" has an empty description or mask in pair %2.")
                   .arg(filter)
                   .arg(i / 2 + 1);
      return false;
    }
  error_.clear();
  filter_ = filter;
  clear();
  for (qsizetype i = 0; i < parts.size(); i += 2)
    addItem(parts[i].trimmed(), parts[i + 1].trimmed());
  setCurrentIndex(0);
  return true;
}

QStringList TskFilterComboBox::Mask() const {
  QStringList masks;
  for (const QString &mask : currentData().toString().split(QLatin1Char(';'), Qt::SkipEmptyParts))
    masks << mask.trimmed();
  return masks;
}
