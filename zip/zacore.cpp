#include "zip/zacore.h"

#include "ziplib/zarequest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QThread>

namespace {

bool on_main_thread() {
  QCoreApplication *app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool have_gui() { return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr; }

std::string app_title() {
  if (!QCoreApplication::instance())
    return std::string();
  QString t = QGuiApplication::applicationDisplayName();
  return t.toStdString();
}

}  // namespace

int TProgressDetails::ItemPerCent() const {
  if (ItemSize <= 0 || ItemBytesDone <= 0)
    return 0;
  if (ItemSize < 214748)
    return static_cast<int>(ItemBytesDone * 100 / ItemSize);
  return static_cast<int>(ItemBytesDone / (ItemSize / 100));
}

int TProgressDetails::TotalPerCent() const {
  if (TotalSize <= 0 || TotalBytesDone <= 0)
    return 0;
  return static_cast<int>(TotalBytesDone * 100 / TotalSize);
}

TZACore::~TZACore() { RestoreCursor(); }

void TZACore::ShowExceptionError(const EZipArchiver &E) {
  ErrCode = E.MessageId();
  ErrMessage = E.Message();
  if (E.Display() && !Unattended) {
    std::string text = ErrMessage;
    ZipMessageDialog(std::string(), text, ZipContext(kZipKindError, 10001), ZipButtons({mbOK}));
  }
  if (Events.OnMessage && !Closing)
    Events.OnMessage(Sender, ErrCode, ErrMessage);
}

void TZACore::ShowZipMessage(int id, const std::string &extra) {
  if (Unattended && !Events.OnMessage)
    return;
  std::string text = ZipLoadStr(id) + extra;
  ErrMessage = text;
  ErrCode = id;
  if (!Unattended) {
    std::string shown = text;
    ZipMessageDialog(std::string(), shown, ZipContext(kZipKindInfo, 10000), ZipButtons({mbOK}));
  }
  if (Events.OnMessage && !Closing)
    Events.OnMessage(Sender, id, text);
}

void TZACore::ReportMessage(int code, const std::string &text) {
  if (Events.OnMessage && !Closing)
    Events.OnMessage(Sender, code, text);
}

int TZACore::ZipMessageDialog(const std::string &title_in, std::string &text, int context,
                              TMsgDlgButtons buttons) {
  std::string title = title_in.empty() ? app_title() : title_in;
  if (Verbose)
    ReportMessage(0, ZipFormat("%s   (%d)", {title, static_cast<long long>(context & 0xFFFF)}));
  if (Events.OnZipDialog) {
    std::string msg = text;
    int ctx = context;
    Events.OnZipDialog(Sender, title, msg, ctx, buttons);
    if (ctx >= 1 && ctx <= 10) {
      text = msg;
      return ctx;
    }
  }
  if (!have_gui() || !on_main_thread())
    return 0;  // no window system here: nobody could answer
  TZipDialogBox box(QApplication::activeWindow(), context);
  box.Build(QString::fromStdString(title), QString::fromStdString(text), buttons);
  int result = box.ShowModalResult();
  if (box.Kind() == kZipKindPassword)
    text = result == 1 ? box.PasswordText().toStdString() : std::string();
  return result;
}

namespace {

TMsgDlgBtn map_password_result(int result) {
  switch (result) {
    case 1:
      return mbOK;
    case 2:
      return mbCancel;
    case 8:
      return mbNoToAll;
    default:
      return mbAbort;
  }
}

}  // namespace

TMsgDlgBtn TZACore::GetPassword(const std::string &caption, const std::string &message,
                                TMsgDlgButtons buttons, std::string &password) {
  std::string text = message;
  int r = ZipMessageDialog(caption, text, ZipContext(kZipKindPassword, 10002), buttons);
  TMsgDlgBtn b = map_password_result(r);
  password = b == mbOK ? text : std::string();
  return b;
}

std::string TZACore::GetExtrPassword() {
  TMsgDlgBtn ignored;
  return GetExtrPassword(ignored);
}

std::string TZACore::GetExtrPassword(TMsgDlgBtn &result) {
  if (Unattended) {
    ShowZipMessage(10151, std::string());
    result = mbCancel;
    return std::string();
  }
  std::string text = ZipLoadStr(10155);
  int r = ZipMessageDialog(ZipLoadStr(10154), text, ZipContext(kZipKindPassword, 10003),
                           ZipButtons({mbOK, mbCancel, mbAll}));
  result = map_password_result(r);
  return result == mbOK ? text : std::string();
}

std::string TZACore::GetAddPassword() {
  TMsgDlgBtn ignored;
  return GetAddPassword(ignored);
}

std::string TZACore::GetAddPassword(TMsgDlgBtn &result) {
  if (Unattended) {
    ShowZipMessage(10150, std::string());
    result = mbCancel;
    return std::string();
  }
  std::string first = ZipLoadStr(10155);
  result = map_password_result(ZipMessageDialog(ZipLoadStr(10154), first, ZipContext(kZipKindPassword, 10004),
                                                ZipButtons({mbOK, mbCancel})));
  if (result != mbOK || first.empty())
    return std::string();
  std::string second = ZipLoadStr(10156);
  result = map_password_result(ZipMessageDialog(
      ZipLoadStr(10154), second, ZipContext(kZipKindPassword, 10005), ZipButtons({mbOK, mbCancel})));
  if (result != mbOK)
    return std::string();
  if (first != second) {
    ShowZipMessage(10104, std::string());
    return std::string();
  }
  return first;
}

void TZACore::ReportEvent(int action, int code, int64_t size, const std::string &text) {
  if (Closing)
    return;
  switch (action) {
    case ZA_ACT_TICK:  // 0 still working
      if (Events.OnTick)
        Events.OnTick(Sender);
      break;
    case ZA_ACT_NEW_ITEM:  // 1 an entry starts
      ReportNewItem(text, size);
      break;
    case ZA_ACT_PROGRESS:  // 2 bytes of the entry done
      ReportItemBytes(size);
      break;
    case ZA_ACT_END_BATCH:  // 3 every entry done
      ReportBatchEnd();
      break;
    case ZA_ACT_MESSAGE:  // 4 a message; a non-zero code is the operation's error
      ReportLibraryMessage(code, text);
      break;
    case ZA_ACT_TOTAL_FILES:  // 5 how many entries follow
      ReportTotalFiles(size);
      break;
    case ZA_ACT_TOTAL_SIZE:  // 6 how many bytes they hold
      ReportTotalSize(size);
      break;
    case ZA_ACT_EXTRA_ITEM:  // 15 a step beside the entries starts; code names its kind
      ReportExtraItem(code, text, size);
      break;
    case ZA_ACT_EXTRA_PROGRESS:  // 16 bytes of that step done
      ReportExtraBytes(size);
      break;
    case ZA_ACT_END_REPORT:  // 19 no event: only the stop check below
    default:
      break;
  }
  if (Events.OnCheckTerminate) {
    bool abort = Cancel;
    Events.OnCheckTerminate(Sender, abort);
    if (abort)
      Cancel = true;
  } else {
    Pump();
  }
}

void TZACore::ReportDetails(ProgressType kind) {
  Progress.LastKind = kind;
  if (Events.OnProgressDetails)
    Events.OnProgressDetails(Sender, Progress);
}

void TZACore::ReportNewItem(const std::string &name, int64_t size) {
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptNewItem, name, size);
  Progress.ItemNumber += 1;
  Progress.ItemName = name;
  Progress.ItemSize = size;
  Progress.ItemBytesDone = 0;
  ReportDetails(ptNewItem);
  if (Events.OnItemProgress)
    Events.OnItemProgress(Sender, Progress.ItemName, Progress.ItemSize, 0);
}

void TZACore::ReportItemBytes(int64_t done) {
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptItemProgress, std::string(), done);
  Progress.TotalBytesDone += done;
  Progress.ItemBytesDone += done;
  ReportDetails(ptItemProgress);
  if (Events.OnItemProgress)
    Events.OnItemProgress(Sender, Progress.ItemName, Progress.ItemBytesDone, Progress.ItemPerCent());
  if (Events.OnTotalProgress)
    Events.OnTotalProgress(Sender, Progress.TotalSize, Progress.TotalPerCent());
}

// 101 per cent tells a progress handler that the batch is over.
void TZACore::ReportBatchEnd() {
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptBatchEnd, std::string(), 0);
  Progress.ItemName.clear();
  Progress.ItemSize = 0;
  ReportDetails(ptBatchEnd);
  if (Events.OnItemProgress)
    Events.OnItemProgress(Sender, std::string(), 0, 101);
  if (Events.OnTotalProgress)
    Events.OnTotalProgress(Sender, 0, 101);
}

void TZACore::ReportLibraryMessage(int code, const std::string &text) {
  std::string msg = text;
  if (code != 0) {
    ErrMessage = text;
    ErrCode = static_cast<int8_t>(code & 0xFF);
    // An abort caused by a failing handler says so, not just "aborted".
    if (ErrCode == ZA_ERR_ABORT && !ExceptionText.empty())
      ErrMessage = ZipLoadStr(10113);
    msg = ErrMessage;
    FullErrCode = code;
  }
  if (Events.OnMessage)
    Events.OnMessage(Sender, code, msg);
}

void TZACore::ReportTotalFiles(int64_t count) {
  Progress.Clear();
  Progress.TotalCount = count;
  Progress.ItemNumber = 0;
  ReportDetails(ptTotalFiles);
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptTotalFiles, std::string(), count);
}

void TZACore::ReportTotalSize(int64_t size) {
  Progress.TotalSize = size;
  Progress.TotalBytesDone = 0;
  Progress.ItemName.clear();
  Progress.ItemSize = 0;
  Progress.ItemBytesDone = 0;
  ReportDetails(ptTotalSize);
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptTotalSize, std::string(), size);
}

void TZACore::ReportExtraItem(int kind, const std::string &text, int64_t size) {
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptNewExtraItem, text, size);
  Progress.ItemName = ZipLoadStr(11400 + kind);
  Progress.ItemSize = size;
  Progress.ItemBytesDone = 0;
  ReportDetails(ptNewExtraItem);
  if (Events.OnItemProgress)
    Events.OnItemProgress(Sender, Progress.ItemName, size, 0);
}

void TZACore::ReportExtraBytes(int64_t done) {
  if (Events.OnProgress)
    Events.OnProgress(Sender, ptExtraProgress, Progress.ItemName, done);
  Progress.ItemBytesDone += done;
  ReportDetails(ptExtraProgress);
  if (Events.OnItemProgress)
    Events.OnItemProgress(Sender, Progress.ItemName, Progress.ItemSize, Progress.ItemPerCent());
}

void TZACore::Pump() {
  if (!NoPump && on_main_thread())
    QCoreApplication::processEvents();
}

void TZACore::StartWaitCursor() {
  if (NoPump || !have_gui() || !on_main_thread())
    return;
  if (cursor_depth_++ == 0 && !cursor_shown_) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    cursor_shown_ = true;
  }
}

void TZACore::EndWaitCursor() {
  if (cursor_depth_ == 0)
    return;
  if (--cursor_depth_ == 0)
    RestoreCursor();
}

void TZACore::RestoreCursor() {
  cursor_depth_ = 0;
  if (cursor_shown_ && have_gui()) {
    QGuiApplication::restoreOverrideCursor();
  }
  cursor_shown_ = false;
}

void TZACore::ResetCore() {
  ErrCode = 0;
  FullErrCode = 0;
  ErrMessage.clear();
  Cancel = false;
  Verbose = false;
  Trace = false;
  Unattended = false;
  Progress.Clear();
  ExceptionText.clear();
  ZipSetLanguage("US");
}
