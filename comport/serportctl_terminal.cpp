// The terminal's control side: port binding, the receive path, characters, escape-code
// actions, attributes, modes, keyboard input and the text streams.
#include <QDebug>
#include <QFontDialog>
#include <QIODevice>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScrollBar>

#include "comport/serport.h"
#include "comport/serportctl.h"

TCustomComTerminal::TCustomComTerminal(QWidget *Parent) : QAbstractScrollArea(Parent) {
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  // Keys the terminal sends are never meant as input-method text.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setFocusPolicy(Qt::StrongFocus);
  horizontalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setTracking(smooth_scroll_);
  verticalScrollBar()->setTracking(smooth_scroll_);
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
          [this](int v) { OnScrollValue(TScrollBarKind::Horizontal, v); });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this](int v) { OnScrollValue(TScrollBarKind::Vertical, v); });

  link_ = std::make_unique<TComLink>();
  link_->OnRxBuf = [this](TCustomComPort *Sender, const char *Buffer, int Count) {
    RxBuf(Sender, Buffer, Count);
  };

  resize(400, 250);
  font_color_ = ComTerminalFont().Color;
  attrs_.TextColor = font_color_;
  attrs_.FillColor = color_;
  ApplyFont(ComTerminalFont().Font);
  ApplyBorder();
  ApplyScrollBarPolicy();
  // A terminal made in code is never "loaded": parser and screen must exist before the
  // first byte can arrive.
  CreateEscapeCodes();
  buffer_.Init();
  UpdateScrollRange();
}

TCustomComTerminal::~TCustomComTerminal() {
  // A port delivering after this point would call into a dead terminal.
  try {
    SetComPort(nullptr);
  } catch (const std::exception &) {
    // The port no longer knew the link; nothing is left to undo.
  }
}

// ------------------------------------------------------------------------------ the port

void TCustomComTerminal::SetComPort(TCustomComPort *Port) { RebindComLink(*link_, port_, Port); }

bool TCustomComTerminal::Connected() const { return PortConnected(); }

void TCustomComTerminal::SetConnected(bool Value) {
  if (port_ != nullptr)
    port_->SetConnected(Value);
}

bool TCustomComTerminal::PortConnected() const { return port_ != nullptr && port_->Connected(); }

void TCustomComTerminal::SendStr(const std::string &Str) {
  if (!Str.empty())
    port_->WriteStr(Str);
}

// ------------------------------------------------------------------------ receive path

void TCustomComTerminal::RxBuf(TCustomComPort * /*Sender*/, const char *Buffer, int Count) {
  // The port's input queue is 1024 bytes and one delivery never exceeds it; a larger
  // block cannot come from the program's port and is not shown.
  if (Count > kMaxRxBlock || Count < 0 || (Buffer == nullptr && Count > 0))
    return;
  if (Count > 0 && Buffer[0] == 0)
    qDebug("nul");
  std::string str = Count > 0 ? std::string(Buffer, Count) : std::string();
  if (append_lf_) {
    std::string withLF;
    withLF.reserve(str.size() * 2);
    for (char c : str) {
      withLF += c;
      if (c == '\r')
        withLF += '\n';
    }
    str.swap(withLF);
  }
  if (force_7bit_)
    for (char &c : str)
      c = static_cast<char>(c & 0x7F);
  DoStrRecieved(str);
  WriteStr(str);
}

void TCustomComTerminal::Write(const char *Buffer, int Count) {
  if (Buffer != nullptr && Count > 0)
    WriteStr(std::string(Buffer, Count));
}

void TCustomComTerminal::WriteStr(const std::string &Str) {
  HideCaret();
  ++writing_;
  // A handler that throws leaves the rest of the block unprocessed; the caret must still
  // come back.
  struct CaretBack {
    TCustomComTerminal *t;
    ~CaretBack() {
      if (--t->writing_ == 0)
        t->retired_parsers_.clear();
      t->ShowCaret();
    }
  } back{this};
  TEscapeCodes *parser = parser_.get();
  for (char c : Str) {
    if (parser == nullptr) {
      PutChar(c);
      continue;
    }
    switch (parser->ProcessChar(c)) {
      case erChar:
        PutChar(parser->Character);
        break;
      case erCode: {
        // Cleared also when a handler throws, so the next sequence starts clean.
        struct ClearParams {
          TEscapeCodes *p;
          ~ClearParams() { p->Params.clear(); }
        } clear{parser};
        if (!PutEscapeCode(parser->Code, parser->Params))
          DoUnhandledCode(parser->Code, parser->Data);
        break;
      }
      case erNothing:
        break;
    }
    // An OnChar handler may change the emulation; follow the parser that now exists.
    parser = parser_.get();
  }
}

void TCustomComTerminal::WriteEscCode(TEscapeCode Code, TEscapeParams &Params) {
  if (parser_)
    PutEscapeCode(Code, Params);
}

// -------------------------------------------------------------------------- characters

TComTermChar TCustomComTerminal::GetCharAttr() const {
  TComTermChar cell;
  cell.TextColor = attrs_.Intense ? alt_color_ : attrs_.Reverse ? attrs_.FillColor : attrs_.TextColor;
  cell.FillColor = attrs_.Reverse ? attrs_.TextColor : attrs_.FillColor;
  cell.Underscore = attrs_.Underscore;
  return cell;
}

void TCustomComTerminal::PutChar(char Ch) {
  const unsigned char u = static_cast<unsigned char>(Ch);
  switch (u) {
    case 8:
      AdvanceCaret(acBackspace);
      break;
    case 9:
      AdvanceCaret(acTab);
      break;
    case 10:
    case 12:
      AdvanceCaret(acLineFeed);
      break;
    case 13:
      AdvanceCaret(acReturn);
      break;
    default:
      if (u >= 32) {
        // Field by field (see SetChar): the attributes come back in registers, and no cell
        // is built in memory to be copied.
        const TComTermChar attr = GetCharAttr();
        buffer_.SetChar(caret_x_, caret_y_, Ch, attr.TextColor, attr.FillColor, attr.Underscore);
        DrawChar(caret_x_ - top_left_x_ + 1, caret_y_ - top_left_y_ + 1);
        // Most characters only step the caret right within its row, with no caret drawn:
        // that much needs no call (MoveCaret would find nothing to clamp or repaint).
        if (!caret_created_ && caret_x_ >= 0 && caret_x_ < columns_ && caret_y_ >= 1 && caret_y_ <= rows_)
          ++caret_x_;
        else
          AdvanceCaret(acChar);
      }
      break;
  }
  DoChar(Ch);
}

void TCustomComTerminal::AdvanceCaret(TAdvanceCaret Kind) {
  const int x = caret_x_, y = caret_y_;
  switch (Kind) {
    case acChar:
      if (x < columns_) {
        MoveCaret(x + 1, y);
      } else if (wrap_lines_) {
        if (y < rows_) {
          MoveCaret(1, y + 1);
        } else {
          buffer_.ScrollDown();
          MoveCaret(1, rows_);
        }
      }
      break;
    case acReturn:
      MoveCaret(1, y);
      break;
    case acLineFeed:
      if (y < rows_)
        MoveCaret(x, y + 1);
      else
        buffer_.ScrollDown();
      break;
    case acReverseLineFeed:
      if (y > 1)
        MoveCaret(x, y - 1);
      else
        buffer_.ScrollUp();
      break;
    case acTab: {
      const int next = buffer_.NextTab(x + 1);
      if (next > 0)
        MoveCaret(next, y);
      break;
    }
    case acBackspace:
      MoveCaret(x - 1, y);
      break;
  }
}

void TCustomComTerminal::ClearScreen() {
  buffer_.Init();
  MoveCaret(1, 1);
  InvalidateAll();
}

// --------------------------------------------------------------------- escape actions

bool TCustomComTerminal::PutEscapeCode(TEscapeCode Code, TEscapeParams &Params) {
  const int n = TEscapeCodes::GetParam(1, &Params);
  const int m = TEscapeCodes::GetParam(2, &Params);
  const int x = caret_x_, y = caret_y_;
  switch (Code) {
    case ecCursorUp:
    case ecAppCursorUp:
      MoveCaret(x, y - n);
      break;
    // Application-mode keys move like their plain counterparts: a terminal that echoes
    // its own cursor keys should see the caret follow each of them.
    case ecCursorDown:
    case ecAppCursorDown:
      MoveCaret(x, y + n);
      break;
    case ecCursorLeft:
    case ecAppCursorLeft:
      MoveCaret(x - n, y);
      break;
    case ecCursorRight:
    case ecAppCursorRight:
      MoveCaret(x + n, y);
      break;
    case ecCursorHome:
    case ecCursorMove:
      MoveCaret(m, n);
      break;
    case ecReverseLineFeed:
      AdvanceCaret(acReverseLineFeed);
      break;
    case ecEraseLineFrom:
      buffer_.EraseLine(x, y);
      break;
    case ecEraseScreenFrom:
      buffer_.EraseScreen(x, y);
      break;
    case ecEraseLine:
      buffer_.EraseLine(1, y);
      MoveCaret(1, y);
      break;
    case ecEraseScreen:
      buffer_.EraseScreen(1, 1);
      MoveCaret(1, 1);
      break;
    case ecSetTab:
      buffer_.SetTab(x, true);
      break;
    case ecClearTab:
      buffer_.SetTab(x, false);
      break;
    case ecClearAllTabs:
      buffer_.ClearAllTabs();
      break;
    case ecIdentify:
      Params.assign({"2"});
      SendCodeNoEcho(ecIdentResponse, &Params);
      break;
    case ecQueryDevice:
      SendCodeNoEcho(ecReportDeviceOK, &Params);
      break;
    case ecQueryCursorPos:
      Params.assign({std::to_string(y), std::to_string(x)});
      SendCodeNoEcho(ecReportCursorPos, &Params);
      break;
    case ecAttributes:
      SetAttributes(Params);
      break;
    case ecSetMode:
      SetMode(Params, true);
      break;
    case ecResetMode:
      SetMode(Params, false);
      break;
    case ecReset:
      Params.assign({"0"});
      SetAttributes(Params);
      break;
    case ecSaveCaretAndAttr:
      saved_caret_x_ = x;
      saved_caret_y_ = y;
      saved_attrs_ = attrs_;
      break;
    case ecRestoreCaretAndAttr:
      MoveCaret(saved_caret_x_, saved_caret_y_);
      attrs_ = saved_attrs_;
      break;
    case ecSaveCaret:
      saved_caret_x_ = x;
      saved_caret_y_ = y;
      break;
    case ecRestoreCaret:
      MoveCaret(saved_caret_x_, saved_caret_y_);
      break;
    case ecTest: {
      TComTermChar cell;
      cell.Ch = 'E';
      cell.TextColor = font_color_;
      cell.FillColor = color_;
      for (int row = 1; row <= rows_; ++row)
        for (int col = 1; col <= columns_; ++col)
          buffer_.SetChar(col, row, cell);
      InvalidateAll();
      break;
    }
    default:
      return false;
  }
  return true;
}

void TCustomComTerminal::ResetAttributes() {
  attrs_.TextColor = font_color_;
  attrs_.FillColor = color_;
  attrs_.Reverse = attrs_.Intense = attrs_.Underscore = false;
}

void TCustomComTerminal::SetAttributes(const TEscapeParams &Params) {
  if (Params.empty()) {
    ResetAttributes();
    return;
  }
  for (int i = 1; i <= static_cast<int>(Params.size()); ++i) {
    switch (TEscapeCodes::GetParam(i, &Params)) {
      case 0:
        ResetAttributes();
        break;
      case 1:
        attrs_.Intense = true;
        break;
      case 4:
        attrs_.Underscore = true;
        break;
      case 7:
        attrs_.Reverse = true;
        break;
      case 21:
        attrs_.Intense = false;
        break;
      case 24:
        attrs_.Underscore = false;
        break;
      case 27:
        attrs_.Reverse = false;
        break;
      default:
        break;  // colour numbers and the rest are not shown
    }
  }
}

void TCustomComTerminal::SetMode(const TEscapeParams &Params, bool OnOff) {
  if (Params.empty())
    return;
  const std::string &mode = Params[0];
  if (mode == "?1")
    app_cursor_mode_ = OnOff;
  else if (mode == "7")
    wrap_lines_ = OnOff;
  else if (mode == "?3")
    SetColumns(OnOff ? 132 : 80);
}

// ---------------------------------------------------------------------------- keyboard

void TCustomComTerminal::keyPressEvent(QKeyEvent *Event) {
  try {
    KeyPress(Event);
  } catch (const std::exception &e) {
    ShowException(e);
  }
}

void TCustomComTerminal::ShowException(const std::exception &E) {
  QMessageBox::critical(this, QString(), QString::fromStdString(E.what()));
}

void TCustomComTerminal::KeyPress(QKeyEvent *Event) {
  TEscapeCode code = ecUnknown;
  switch (Event->key()) {
    case Qt::Key_Home:
      code = ecCursorHome;
      break;
    case Qt::Key_Left:
      code = ecCursorLeft;
      break;
    case Qt::Key_Up:
      code = ecCursorUp;
      break;
    case Qt::Key_Right:
      code = ecCursorRight;
      break;
    case Qt::Key_Down:
      code = ecCursorDown;
      break;
    default:
      break;
  }
  if (code != ecUnknown) {
    Event->accept();
    if (app_cursor_mode_) {
      switch (code) {
        case ecCursorUp:
          SendCode(ecAppCursorUp, nullptr);
          break;
        case ecCursorDown:
          SendCode(ecAppCursorDown, nullptr);
          break;
        case ecCursorLeft:
          SendCode(ecAppCursorLeft, nullptr);
          break;
        case ecCursorRight:
          SendCode(ecAppCursorRight, nullptr);
          break;
        default:
          break;  // Home means nothing to an application in cursor mode
      }
    } else if (arrow_keys_ == akTerminal) {
      SendCode(code, nullptr);
    } else {
      TEscapeParams none;
      PutEscapeCode(code, none);
    }
    return;
  }
  const QString text = Event->text();
  if (text.isEmpty()) {
    Event->ignore();
    return;
  }
  Event->accept();
  for (QChar c : text)
    if (c.unicode() < 256)
      SendChar(static_cast<char>(c.unicode()));
}

bool TCustomComTerminal::focusNextPrevChild(bool Next) {
  // With WantTab the Tab key is a character for the box, not a focus move.
  if (want_tab_)
    return false;
  return QAbstractScrollArea::focusNextPrevChild(Next);
}

void TCustomComTerminal::SendChar(char Ch) {
  if (local_echo_) {
    PutChar(Ch);
    if (send_lf_ && Ch == '\r' && port_ == nullptr)
      PutChar('\n');
  }
  if (PortConnected()) {
    SendStr(std::string(1, Ch));
    if (Ch == '\r' && send_lf_)
      SendChar('\n');
  }
}

void TCustomComTerminal::SendCode(TEscapeCode Code, TEscapeParams *Params) {
  if (!PortConnected() || !parser_)
    return;
  SendStr(parser_->EscCodeToStr(Code, Params));
  if (local_echo_) {
    TEscapeParams local = Params ? *Params : TEscapeParams{};
    PutEscapeCode(Code, local);
  }
}

void TCustomComTerminal::SendCodeNoEcho(TEscapeCode Code, TEscapeParams *Params) {
  if (PortConnected() && parser_)
    SendStr(parser_->EscCodeToStr(Code, Params));
}

// ------------------------------------------------------------------------------ events

void TCustomComTerminal::DoChar(char Ch) {
  if (OnChar)
    OnChar(this, Ch);
}

void TCustomComTerminal::DoStrRecieved(std::string &Str) {
  if (OnStrRecieved)
    OnStrRecieved(this, Str);
}

void TCustomComTerminal::DoUnhandledCode(TEscapeCode Code, const std::string &Data) {
  if (OnUnhandledCode)
    OnUnhandledCode(this, Code, Data);
}

void TCustomComTerminal::DoGetEscapeCodes(std::unique_ptr<TEscapeCodes> &EscapeCodes) {
  if (OnGetEscapeCodes)
    OnGetEscapeCodes(this, EscapeCodes);
}

// -------------------------------------------------------------------------- properties

void TCustomComTerminal::CreateEscapeCodes() {
  if (writing_ > 0 && parser_)
    retired_parsers_.push_back(std::move(parser_));
  parser_.reset();
  switch (emulation_) {
    case teVT100orANSI:
      parser_ = std::make_unique<TEscapeCodesVT100>();
      break;
    case teVT52:
      parser_ = std::make_unique<TEscapeCodesVT52>();
      break;
    case teNone:
      DoGetEscapeCodes(parser_);
      break;
  }
}

void TCustomComTerminal::SetEmulation(TTermEmulation Value) {
  if (Value == emulation_)
    return;
  emulation_ = Value;
  CreateEscapeCodes();
}

void TCustomComTerminal::SetColumns(int Value) {
  Value = std::clamp(Value, 2, 256);
  if (Value == columns_)
    return;
  columns_ = Value;
  AdjustSize();
  UpdateScrollRange();
  buffer_.Init();
  // A caret left beyond the new edge would put the next character outside the screen.
  MoveCaret(caret_x_, caret_y_);
  InvalidateAll();
}

void TCustomComTerminal::SetRows(int Value) {
  Value = std::clamp(Value, 2, 100);
  if (Value == rows_)
    return;
  rows_ = Value;
  AdjustSize();
  UpdateScrollRange();
  buffer_.Init();
  MoveCaret(caret_x_, caret_y_);
  InvalidateAll();
}

// ----------------------------------------------------------------------------- streams

void TCustomComTerminal::LoadFromStream(QIODevice &Stream) {
  qint64 left = Stream.size();
  char chunk[4096];
  while (left > 0) {
    const qint64 got = Stream.read(chunk, std::min<qint64>(left, sizeof chunk));
    if (got <= 0)
      break;  // a stream shorter than it claims ends the load, nothing more
    for (qint64 i = 0; i < got; ++i)
      PutChar(chunk[i]);
    left -= got;
  }
}

void TCustomComTerminal::SaveToStream(QIODevice &Stream) {
  const int last = buffer_.GetLastLine();
  std::string text;
  for (int y = 1; y <= last; ++y) {
    const int len = buffer_.GetLineLength(y);
    for (int x = 1; x <= len; ++x) {
      const char ch = buffer_.GetChar(x, y).Ch;
      text += ch != 0 ? ch : ' ';
    }
    if (y < last)
      text += "\r\n";
  }
  Stream.write(text.data(), static_cast<qint64>(text.size()));
}

void TCustomComTerminal::SelectFont() {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font_, this, QString(), QFontDialog::MonospacedFonts);
  if (ok)
    SetTermFont(chosen, font_color_);
}
