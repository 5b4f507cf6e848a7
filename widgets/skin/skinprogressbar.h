// The skinned progress bar: its style's picture stretched over the filled part, the rest in
// the unfilled colour, a one-pixel frame, and the percentage as its caption.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

enum TskOrientation { skHorizontal, skVertical };

class TskProgressBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  // Starts 150 x 12 at 50 of 0..100, in the style its owner's form gives.
  explicit TskProgressBar(QWidget *parent = nullptr);

  // Values are stored as given: outside Min..Max the bar is drawn clamped while the caption
  // shows the unclamped percentage.
  int Min() const { return min_; }
  void SetMin(int value);
  int Max() const { return max_; }
  void SetMax(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  void StepIt() { SetPosition(position_ + 1); }
  void StepBy(int delta) { SetPosition(position_ + delta); }
  // The percentage and "%", as drawn ("0%" when Max = Min).
  const QString &Caption() const { return caption_; }

  TskOrientation Orientation() const { return orientation_; }
  void SetOrientation(TskOrientation orientation);
  bool ShowCaption() const { return show_caption_; }
  void SetShowCaption(bool show);
  // No caption while Position equals Min.
  bool SmartShowCaption() const { return smart_caption_; }
  void SetSmartShowCaption(bool smart);
  uint32_t CaptionColor() const { return caption_color_; }
  void SetCaptionColor(uint32_t color);
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t color);
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color);
  const QImage &Picture() const { return picture_; }
  void SetPicture(const QImage &picture);

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);

  // The filled length along `length` pixels of track.
  static int fill_length(int length, int min, int max, int position);
  // The percentage the caption shows.
  static int percent(int min, int max, int position);

 protected:
  void paintEvent(QPaintEvent *event) override;

 private:
  void reload_style();
  void update_caption();

  int min_ = 0, max_ = 100, position_ = 50;
  TskOrientation orientation_ = skHorizontal;
  bool show_caption_ = true;
  bool smart_caption_ = false;
  uint32_t caption_color_ = 0;
  uint32_t color_ = 0;
  uint32_t border_color_ = 0;
  QImage picture_;
  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  QString caption_;
};
