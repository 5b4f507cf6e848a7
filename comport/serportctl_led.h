// A lamp that follows one line of a port: open/closed, CTS, DSR, RLSD, ring, or traffic in
// either direction. Short pulses stay visible: a line that goes off keeps the lamp lit for
// another 100 ms, a ring for RingDuration.
//
// Threads: GUI thread. A transmit notice from a writing thread is carried over to it.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class TCustomComPort;
class TComLink;

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom };
enum TLedState { lsOff, lsOn };

class TComLed;
using TLedStateEvent = std::function<void(TComLed *Sender, TLedState AState)>;

// The picture of a built-in lamp, lit or not: drawn here, once, as a 25 x 25 bitmap with
// transparent surroundings. LedGlyphName gives its resource name ("LEDREDON", "LEDBULBOFF", …).
// lkCustom has none (a null pixmap).
QPixmap LedGlyph(TLedKind Kind, TLedState State);
const char *LedGlyphName(TLedKind Kind, TLedState State);

class TComLed : public QWidget {
  Q_OBJECT
 public:
  explicit TComLed(QWidget *Parent = nullptr);
  ~TComLed() override;

  // Registers the lamp's link with the port (null: none). A port that is open shows its
  // current state at once (connected, or the CTS, DSR or RLSD line; the others start off).
  TCustomComPort *ComPort() const { return port_; }
  void SetComPort(TCustomComPort *Value);
  TComLedSignal LedSignal() const { return signal_; }
  void SetLedSignal(TComLedSignal Value);
  TLedKind Kind() const { return kind_; }
  void SetKind(TLedKind Value);
  TLedState State() const { return state_; }
  // Only for a lamp without a port; with one, EComPort code 19 ("ComLed  Error: …").
  void SetState(TLedState Value);
  // The pictures of lkCustom (ignored for the other kinds).
  const QPixmap &GlyphOn() const { return glyph_on_; }
  const QPixmap &GlyphOff() const { return glyph_off_; }
  void SetGlyphOn(const QPixmap &Value);
  void SetGlyphOff(const QPixmap &Value);
  int RingDuration() const { return ring_duration_; }
  void SetRingDuration(int Value) { ring_duration_ = Value; }
  // The picture shown now (the off one while disabled).
  QPixmap CurrentGlyph() const;
  // The timer that puts the lamp out after a pulse.
  bool OffPending() const { return timer_.isActive(); }

  TLedStateEvent OnChange;

  QSize sizeHint() const override { return {25, 25}; }

 protected:
  virtual void DoChange(TLedState AState);
  void paintEvent(QPaintEvent *Event) override;

 private:
  void SignalChange(bool OnOff);
  void Ring();
  void SetStateInternal(TLedState Value);
  void BindSlots();

  std::unique_ptr<TComLink> link_;
  TCustomComPort *port_ = nullptr;
  TComLedSignal signal_ = lsConn;
  TLedKind kind_ = lkRedLight;
  TLedState state_ = lsOff;
  QPixmap glyph_on_;
  QPixmap glyph_off_;
  int ring_duration_ = 1000;
  QTimer timer_;
  TLedState pending_ = lsOff;
};
