// The console terminal control: shows what arrives on a serial port the way a text terminal
// would, and sends what the user types to the port.
//
// Received blocks come through a TComLink registered with the port; each byte runs through
// the escape parser of the emulation, plain characters go onto the screen buffer and fire
// OnChar, complete sequences are acted on. The control paints the buffer in cells of a
// fixed-pitch font and pans over a screen larger than itself with its scroll bars.
//
// Threads: everything runs on the GUI thread. The port delivers received data there (its
// default synchronised delivery); a port set to deliver on its event thread must not be
// bound to a terminal.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/serportctl_buffer.h"
#include "comport/serportesc.h"

class QIODevice;
class TCustomComPort;
class TComLink;

enum TTermEmulation { teVT100orANSI, teVT52, teNone };
enum TArrowKeys { akTerminal, akWindows };
enum TTermCaret { tcBlock, tcUnderline, tcNone };
enum TBorderStyle { bsNone, bsSingle };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TAdvanceCaret { acChar, acReturn, acLineFeed, acReverseLineFeed, acTab, acBackspace };

// Scroll-bar requests, as the window system's scroll messages name them.
enum class TScrollCode {
  LineUp,
  LineDown,
  PageUp,
  PageDown,
  ThumbPosition,
  ThumbTrack,
  Top,
  Bottom,
  EndScroll
};
enum class TScrollBarKind { Horizontal, Vertical };

struct TTermAttributes {
  TColor TextColor = 0;
  TColor FillColor = 0;
  bool Reverse = false;
  bool Intense = false;
  bool Underscore = false;
};

// The font every terminal starts with: "Fixedsys", white, 9 points. Where no font of that
// name exists (anywhere but Windows) the system's fixed font of the same size is used.
struct TTermFont {
  QFont Font;
  TColor Color = 0xFFFFFF;
};
const TTermFont &ComTerminalFont();

// The colour value of the whole program (0x00BBGGRR; 0x80000000 + n: system colour n).
QColor TColorToQColor(TColor Color);

class TCustomComTerminal;
using TChScreenEvent = std::function<void(TCustomComTerminal *Sender, char Ch)>;
// Supplies the parser for teNone; the terminal takes ownership of what is put in EscapeCodes.
using TEscapeEvent =
    std::function<void(TCustomComTerminal *Sender, std::unique_ptr<TEscapeCodes> &EscapeCodes)>;
using TStrRecvEvent = std::function<void(TCustomComTerminal *Sender, std::string &Str)>;
using TUnhandledEvent =
    std::function<void(TCustomComTerminal *Sender, TEscapeCode Code, const std::string &Data)>;

class TCustomComTerminal : public QAbstractScrollArea, private TComTermBufferOwner {
  Q_OBJECT

 public:
  // The largest block the receive path shows; a larger one is dropped whole. The port
  // never hands over more than its input queue (1024 bytes), so nothing is lost.
  static constexpr int kMaxRxBlock = 1024;

  explicit TCustomComTerminal(QWidget *Parent = nullptr);
  // Unbinds from the port before the buffer, parser and link go.
  ~TCustomComTerminal() override;

  // ---- port binding ----
  TCustomComPort *ComPort() const { return port_; }
  // Unregisters the link from the old port and registers it with the new one (null: none).
  // The port must outlive the binding: set null (or destroy the terminal) first.
  void SetComPort(TCustomComPort *Port);
  // True when a port is assigned and open. Setting opens or closes the port (nothing
  // without one); the port's exceptions pass through.
  bool Connected() const;
  void SetConnected(bool Value);
  // The receive entry point (the link's OnRxBuf); public so another source can feed it.
  void RxBuf(TCustomComPort *Sender, const char *Buffer, int Count);

  // ---- properties ----
  TTermEmulation Emulation() const { return emulation_; }
  void SetEmulation(TTermEmulation Value);
  int Columns() const { return columns_; }
  void SetColumns(int Value);  // clamped to 2..256; clears the screen
  int Rows() const { return rows_; }
  void SetRows(int Value);  // clamped to 2..100; clears the screen
  bool LocalEcho() const { return local_echo_; }
  void SetLocalEcho(bool Value) { local_echo_ = Value; }
  bool SendLF() const { return send_lf_; }
  void SetSendLF(bool Value) { send_lf_ = Value; }
  bool AppendLF() const { return append_lf_; }
  void SetAppendLF(bool Value) { append_lf_ = Value; }
  bool Force7Bit() const { return force_7bit_; }
  void SetForce7Bit(bool Value) { force_7bit_ = Value; }
  bool WrapLines() const { return wrap_lines_; }
  void SetWrapLines(bool Value) { wrap_lines_ = Value; }
  TArrowKeys ArrowKeys() const { return arrow_keys_; }
  void SetArrowKeys(TArrowKeys Value) { arrow_keys_ = Value; }
  TColor AltColor() const { return alt_color_; }
  void SetAltColor(TColor Value);
  // Background colour; the current fill colour follows it.
  TColor Color() const { return color_; }
  void SetColor(TColor Value);
  // Font and its colour; the current text colour follows the colour. A proportional font
  // is replaced by the fixed one of the same size, an underline is dropped.
  const QFont &TermFont() const { return font_; }
  TColor FontColor() const { return font_color_; }
  void SetTermFont(const QFont &Font, TColor Color);
  TTermCaret Caret() const { return caret_; }
  void SetCaret(TTermCaret Value);
  bool SmoothScroll() const { return smooth_scroll_; }
  void SetSmoothScroll(bool Value);
  bool WantTab() const { return want_tab_; }
  void SetWantTab(bool Value) { want_tab_ = Value; }
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle Value);
  TScrollStyle ScrollBars() const { return updating_range_ ? ssNone : scroll_bars_; }
  void SetScrollBars(TScrollStyle Value);
  bool DoubleBuffered() const { return double_buffered_; }
  void SetDoubleBuffered(bool Value) { double_buffered_ = Value; }
  // When set, the control takes the size of its screen (cells plus border).
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool Value);

  // ---- events (all on the GUI thread; an exception thrown by a handler ends the block) ----
  // Once per plain character the parser lets through (printable and control characters,
  // NUL included), in arrival order, after it is on the screen and the caret has moved.
  // Bytes of an escape sequence never reach it.
  TChScreenEvent OnChar;
  TEscapeEvent OnGetEscapeCodes;
  // Each received block (after AppendLF and Force7Bit), before it is shown; may change it.
  TStrRecvEvent OnStrRecieved;
  // A complete sequence the terminal does not act on, with its bytes after the ESC.
  TUnhandledEvent OnUnhandledCode;

  // ---- screen ----
  // Shows bytes as if received: through the parser, without the block-size rule.
  void Write(const char *Buffer, int Count);
  void WriteStr(const std::string &Str);
  // Performs a code as if received (only when a parser exists).
  void WriteEscCode(TEscapeCode Code, TEscapeParams &Params);
  void ClearScreen();
  void MoveCaret(int X, int Y);
  int CaretX() const { return caret_x_; }
  int CaretY() const { return caret_y_; }
  // Puts one character on the screen with no escape processing, then fires OnChar.
  void PutChar(char Ch);
  // Each byte of the stream PutChar'd; OnChar fires for each.
  void LoadFromStream(QIODevice &Stream);
  // The screen as text: rows up to the last non-empty one, CR LF between rows.
  void SaveToStream(QIODevice &Stream);
  // A font dialog limited to fixed-pitch fonts; OK takes the chosen font.
  void SelectFont();
  const TComTermBuffer &Buffer() const { return buffer_; }
  const TTermAttributes &Attributes() const { return attrs_; }
  bool AppCursorMode() const { return app_cursor_mode_; }
  TEscapeCodes *EscapeCodes() const { return parser_.get(); }

  // ---- keyboard ----
  void SendChar(char Ch);
  void SendCode(TEscapeCode Code, TEscapeParams *Params);
  void SendCodeNoEcho(TEscapeCode Code, TEscapeParams *Params);

  // ---- display ----
  int CellWidth() const { return cell_width_; }
  int CellHeight() const { return cell_height_; }
  // The buffer cell shown at the top-left corner, 1-based.
  int TopLeftColumn() const { return top_left_x_; }
  int TopLeftRow() const { return top_left_y_; }
  // True when the font is fixed-pitch; sets the cell size from it.
  bool CalculateMetrics();
  // Invalidates a rectangle of buffer cells (it is drawn again from the buffer).
  void InvalidatePortion(const TCellRect &Cells) override;
  void UpdateScrollRange();
  void UpdateScrollPos();
  // A scroll request of one bar; Pos is the thumb position for ThumbPosition and ThumbTrack.
  void ModifyScrollBar(TScrollBarKind Bar, TScrollCode Code, int Pos);
  // The size the control takes when auto-sized.
  bool CanAutoSize(int &NewWidth, int &NewHeight) const;
  // Caret height in pixels while focused; 0 without a caret.
  int CaretHeight() const { return caret_height_; }
  bool CaretCreated() const { return caret_created_; }
  QSize sizeHint() const override;

 protected:
  virtual void DoChar(char Ch);
  virtual void DoStrRecieved(std::string &Str);
  virtual void DoUnhandledCode(TEscapeCode Code, const std::string &Data);
  virtual void DoGetEscapeCodes(std::unique_ptr<TEscapeCodes> &EscapeCodes);
  // Acts on a code; false for the codes the terminal does not handle.
  virtual bool PutEscapeCode(TEscapeCode Code, TEscapeParams &Params);
  void AdvanceCaret(TAdvanceCaret Kind);
  void SetAttributes(const TEscapeParams &Params);
  void SetMode(const TEscapeParams &Params, bool OnOff);
  TComTermChar GetCharAttr() const;
  // Repaints the screen cell (X, Y) from the buffer.
  void DrawChar(int X, int Y);
  void HideCaret();
  void ShowCaret();

  // A port failure while sending typed input. Shown in a message box, as the application
  // shows any failed command; an exception must never travel into Qt's event loop.
  virtual void ShowException(const std::exception &E);

  void paintEvent(QPaintEvent *Event) override;
  void resizeEvent(QResizeEvent *Event) override;
  void keyPressEvent(QKeyEvent *Event) override;
  void focusInEvent(QFocusEvent *Event) override;
  void focusOutEvent(QFocusEvent *Event) override;
  void mousePressEvent(QMouseEvent *Event) override;
  bool focusNextPrevChild(bool Next) override;
  void scrollContentsBy(int, int) override {}

 private:
  // TComTermBufferOwner
  int GetColumns() const override { return columns_; }
  int GetRows() const override { return rows_; }
  bool GetDoubleBuffered() const override { return double_buffered_; }
  void InvalidateAll() override;
  void ScrollContents(int Rows) override;

  void KeyPress(QKeyEvent *Event);
  void CreateEscapeCodes();
  void ApplyFont(const QFont &Font);
  void ResetAttributes();
  void AdjustSize();
  void ApplyScrollBarPolicy();
  void ApplyBorder();
  void CreateCaret();
  void DestroyCaret();
  QRect CellPixels(int X, int Y) const;  // buffer cell -> viewport pixels
  QRect CaretPixels() const;
  void InvalidateCaret();
  void OnScrollValue(TScrollBarKind Bar, int Value);
  void SendStr(const std::string &Str);
  bool PortConnected() const;

  TComTermBuffer buffer_{*this};
  std::unique_ptr<TEscapeCodes> parser_;
  std::unique_ptr<TComLink> link_;
  TCustomComPort *port_ = nullptr;

  TTermEmulation emulation_ = teVT100orANSI;
  int columns_ = 80;
  int rows_ = 24;
  bool local_echo_ = false;
  bool send_lf_ = false;
  bool append_lf_ = false;
  bool force_7bit_ = false;
  bool wrap_lines_ = false;
  TArrowKeys arrow_keys_ = akTerminal;
  TColor alt_color_ = 0xA6A6A6;
  TColor color_ = 0x000000;
  QFont font_;
  TColor font_color_ = 0xFFFFFF;
  TTermCaret caret_ = tcBlock;
  bool smooth_scroll_ = false;
  bool want_tab_ = false;
  TBorderStyle border_style_ = bsSingle;
  TScrollStyle scroll_bars_ = ssBoth;
  bool double_buffered_ = false;
  bool auto_size_ = false;

  int caret_x_ = 1, caret_y_ = 1;
  int saved_caret_x_ = 1, saved_caret_y_ = 1;
  TTermAttributes attrs_;
  TTermAttributes saved_attrs_;
  bool app_cursor_mode_ = false;

  int cell_width_ = 8, cell_height_ = 16, ascent_ = 12;
  int top_left_x_ = 1, top_left_y_ = 1;
  int caret_height_ = 0;
  bool caret_created_ = false;
  int caret_hidden_ = 0;
  bool updating_range_ = false;
  // A handler may switch the emulation while a block is being shown; the parser being read
  // then stays alive until the outermost WriteStr has finished with it.
  int writing_ = 0;
  std::vector<std::unique_ptr<TEscapeCodes>> retired_parsers_;
};

// The published terminal.
class TComTerminal : public TCustomComTerminal {
  Q_OBJECT
 public:
  using TCustomComTerminal::TCustomComTerminal;
};
