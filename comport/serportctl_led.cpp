#include "comport/serportctl_led.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRadialGradient>

#include "comport/serport.h"
#include "platform/gui.h"

namespace {

constexpr int kGlyphSize = 25;
// A line that drops keeps its lamp lit this long, so that a single byte still shows.
constexpr int kOffDelayMs = 100;

struct LampColours {
  QColor lit;
  QColor dark;
};

LampColours ColoursOf(TLedKind Kind) {
  switch (Kind) {
    case lkRedLight:
      return {QColor(255, 40, 30), QColor(110, 20, 18)};
    case lkGreenLight:
      return {QColor(40, 235, 60), QColor(20, 90, 28)};
    case lkBlueLight:
      return {QColor(50, 120, 255), QColor(22, 40, 110)};
    case lkYellowLight:
      return {QColor(255, 220, 30), QColor(110, 95, 20)};
    case lkPurpleLight:
      return {QColor(200, 60, 255), QColor(80, 25, 105)};
    default:
      return {QColor(255, 240, 150), QColor(150, 150, 150)};
  }
}

// A round panel lamp: a dark bezel, the dome shaded from a highlight at its upper left,
// and, when lit, a soft glow spilling onto the bezel.
void DrawLamp(QPainter &p, const LampColours &c, bool on) {
  const QPointF centre(12.5, 12.5);
  QRadialGradient bezel(centre, 12);
  bezel.setColorAt(0.0, QColor(70, 70, 70));
  bezel.setColorAt(1.0, QColor(25, 25, 25));
  p.setPen(Qt::NoPen);
  p.setBrush(bezel);
  p.drawEllipse(centre, 11.5, 11.5);

  const QColor body = on ? c.lit : c.dark;
  if (on) {
    QRadialGradient glow(centre, 11.5);
    QColor halo = c.lit;
    halo.setAlpha(150);
    glow.setColorAt(0.6, halo);
    halo.setAlpha(0);
    glow.setColorAt(1.0, halo);
    p.setBrush(glow);
    p.drawEllipse(centre, 11.5, 11.5);
  }
  QRadialGradient dome(QPointF(10, 9.5), 10, QPointF(9, 8));
  dome.setColorAt(0.0, on ? QColor(255, 255, 255) : body.lighter(170));
  dome.setColorAt(0.35, on ? body.lighter(130) : body);
  dome.setColorAt(1.0, body.darker(on ? 150 : 200));
  p.setBrush(dome);
  p.setPen(QPen(QColor(15, 15, 15), 1));
  p.drawEllipse(centre, 8, 8);
  // The reflection of the room on the glass.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, on ? 200 : 90));
  p.drawEllipse(QPointF(9.5, 9), 2.2, 1.6);
}

// A small light bulb: the glass, the filament (glowing when lit) and the screw base.
void DrawBulb(QPainter &p, bool on) {
  QPainterPath glass;
  glass.addEllipse(QPointF(12.5, 9.5), 8, 8);
  QPainterPath neck;
  neck.moveTo(8, 14);
  neck.lineTo(9.5, 18);
  neck.lineTo(15.5, 18);
  neck.lineTo(17, 14);
  neck.closeSubpath();
  glass = glass.united(neck);

  if (on) {
    QRadialGradient halo(QPointF(12.5, 9.5), 12.5);
    halo.setColorAt(0.5, QColor(255, 230, 120, 160));
    halo.setColorAt(1.0, QColor(255, 230, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(QPointF(12.5, 10.5), 12.5, 12.5);
  }
  QRadialGradient fill(QPointF(10.5, 7), 10);
  fill.setColorAt(0.0, on ? QColor(255, 255, 235) : QColor(245, 245, 245));
  fill.setColorAt(1.0, on ? QColor(255, 205, 60) : QColor(165, 170, 175));
  p.setBrush(fill);
  p.setPen(QPen(on ? QColor(170, 120, 10) : QColor(90, 90, 95), 1));
  p.drawPath(glass);

  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(on ? QColor(255, 120, 0) : QColor(80, 80, 80), on ? 1.5 : 1));
  QPainterPath filament;
  filament.moveTo(10.5, 17);
  filament.lineTo(10.5, 11);
  filament.cubicTo(11, 8, 12, 12, 12.5, 9);
  filament.cubicTo(13, 12, 14, 8, 14.5, 11);
  filament.lineTo(14.5, 17);
  p.drawPath(filament);

  p.setPen(QPen(QColor(60, 60, 60), 1));
  for (int i = 0; i < 3; ++i) {
    p.setBrush(i % 2 ? QColor(150, 150, 150) : QColor(195, 195, 195));
    p.drawRect(QRectF(9.5, 18 + 1.8 * i, 6, 1.8));
  }
  p.setBrush(QColor(40, 40, 40));
  p.drawRect(QRectF(11, 23.4, 3, 1.2));
}

QPixmap DrawGlyph(TLedKind Kind, TLedState State) {
  // Drawn with an alpha channel rather than on a colour key: a keyed bitmap keeps the
  // blended rim of an antialiased circle as a pink fringe on every background.
  QImage image(kGlyphSize, kGlyphSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (Kind == lkBulb)
      DrawBulb(p, State == lsOn);
    else
      DrawLamp(p, ColoursOf(Kind), State == lsOn);
  }
  return QPixmap::fromImage(image);
}

}  // namespace

const char *LedGlyphName(TLedKind Kind, TLedState State) {
  static const char *const names[6][2] = {
      {"LEDREDOFF", "LEDREDON"},       {"LEDGREENOFF", "LEDGREENON"},   {"LEDBLUEOFF", "LEDBLUEON"},
      {"LEDYELLOWOFF", "LEDYELLOWON"}, {"LEDPURPLEOFF", "LEDPURPLEON"}, {"LEDBULBOFF", "LEDBULBON"},
  };
  if (Kind == lkCustom)
    return "";
  return names[Kind][State == lsOn ? 1 : 0];
}

QPixmap LedGlyph(TLedKind Kind, TLedState State) {
  if (Kind == lkCustom)
    return {};
  static QHash<int, QPixmap> cache;
  const int key = Kind * 2 + (State == lsOn ? 1 : 0);
  auto it = cache.find(key);
  if (it == cache.end())
    it = cache.insert(key, DrawGlyph(Kind, State));
  return *it;
}

TComLed::TComLed(QWidget *Parent) : QWidget(Parent), link_(std::make_unique<TComLink>()) {
  resize(kGlyphSize, kGlyphSize);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { SetStateInternal(pending_); });
  link_->OnDestroy = [this](TCustomComPort *) { port_ = nullptr; };
  BindSlots();
}

TComLed::~TComLed() { SetComPort(nullptr); }

void TComLed::BindSlots() {
  TComLink &l = *link_;
  l.OnConn = l.OnCTSChange = l.OnDSRChange = l.OnRLSDChange = l.OnTx = l.OnRx = nullptr;
  l.OnRing = nullptr;
  auto on_off = [this](TCustomComPort *, bool OnOff) {
    if (on_gui_thread()) {
      SignalChange(OnOff);
      return;
    }
    // A write on another thread: the lamp lives on the GUI thread (and may be gone by then).
    post_to_gui([led = QPointer<TComLed>(this), OnOff] {
      if (led)
        led->SignalChange(OnOff);
    });
  };
  switch (signal_) {
    case lsConn:
      l.OnConn = on_off;
      break;
    case lsCTS:
      l.OnCTSChange = on_off;
      break;
    case lsDSR:
      l.OnDSRChange = on_off;
      break;
    case lsRLSD:
      l.OnRLSDChange = on_off;
      break;
    case lsRing:
      l.OnRing = [this](TCustomComPort *) { Ring(); };
      break;
    case lsRx:
      l.OnRx = on_off;
      break;
    case lsTx:
      l.OnTx = on_off;
      break;
  }
}

void TComLed::SetComPort(TCustomComPort *Value) {
  if (port_ == Value)
    return;
  RebindComLink(*link_, port_, Value);
  if (!port_ || !port_->Connected())
    return;
  bool on = false;
  switch (signal_) {
    case lsConn:
      on = true;
      break;
    case lsCTS:
      on = port_->Signals().contains(csCTS);
      break;
    case lsDSR:
      on = port_->Signals().contains(csDSR);
      break;
    case lsRLSD:
      on = port_->Signals().contains(csRLSD);
      break;
    default:
      break;
  }
  SetStateInternal(on ? lsOn : lsOff);
}

void TComLed::SetLedSignal(TComLedSignal Value) {
  if (signal_ == Value)
    return;
  // The slots are swapped while the port may be delivering on its GUI-thread road only, so
  // no delivery sees a half-filled link.
  signal_ = Value;
  BindSlots();
}

void TComLed::SetKind(TLedKind Value) {
  if (kind_ == Value)
    return;
  kind_ = Value;
  update();
}

void TComLed::SetState(TLedState Value) {
  if (port_)
    throw EComPort("ComLed ", 19);
  SetStateInternal(Value);
}

void TComLed::SetGlyphOn(const QPixmap &Value) {
  if (kind_ != lkCustom)
    return;
  glyph_on_ = Value;
  update();
}

void TComLed::SetGlyphOff(const QPixmap &Value) {
  if (kind_ != lkCustom)
    return;
  glyph_off_ = Value;
  update();
}

void TComLed::SignalChange(bool OnOff) {
  if (OnOff) {
    timer_.stop();
    SetStateInternal(lsOn);
    // Painted now rather than at the next idle moment: a burst of data can keep the event
    // loop busy past the moment the lamp goes out again.
    if (isVisible())
      repaint();
  } else {
    pending_ = lsOff;
    timer_.start(kOffDelayMs);
  }
}

void TComLed::Ring() {
  SetStateInternal(lsOn);
  pending_ = lsOff;
  timer_.start(ring_duration_);
}

void TComLed::SetStateInternal(TLedState Value) {
  if (state_ == Value)
    return;
  state_ = Value;
  DoChange(Value);
  update();
}

void TComLed::DoChange(TLedState AState) {
  if (OnChange)
    OnChange(this, AState);
}

QPixmap TComLed::CurrentGlyph() const {
  const TLedState shown = isEnabled() ? state_ : lsOff;
  if (kind_ == lkCustom)
    return shown == lsOn ? glyph_on_ : glyph_off_;
  return LedGlyph(kind_, shown);
}

void TComLed::paintEvent(QPaintEvent *) {
  const QPixmap glyph = CurrentGlyph();
  if (glyph.isNull())
    return;
  QPainter p(this);
  p.drawPixmap((width() - glyph.width()) / 2, (height() - glyph.height()) / 2, glyph);
}
