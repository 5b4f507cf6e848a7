// TZACore: the state every archive operation shares: error code and message, the cancel
// flag, the event handlers, option flags, progress details, the busy cursor, and the way
// messages and questions reach the user (box, OnMessage, OnZipDialog).
//
// A core belongs to one component and is used on the thread that runs its operations.
#pragma once

#include "zip/eziparchiver.h"
#include "zip/zadlg.h"
#include "zip/zahash.h"

#include <cstdint>
#include <functional>
#include <string>

class TCustomZipArchiver;

enum ProgressType {
  ptNewItem,
  ptItemProgress,
  ptBatchEnd,
  ptTotalFiles,
  ptTotalSize,
  ptNewExtraItem,
  ptExtraProgress
};
enum CPOpts { cpAuto, cpNone, cpOEM };

class TProgressDetails {
 public:
  virtual ~TProgressDetails() = default;
  ProgressType LastKind = ptNewItem;
  int ItemNumber = 0;
  std::string ItemName;
  int64_t ItemSize = 0;
  int64_t ItemBytesDone = 0;
  int64_t TotalBytesDone = 0;
  int64_t TotalSize = 0;
  int64_t TotalCount = 0;
  int ItemPerCent() const;
  int TotalPerCent() const;
};

class TProgDetails : public TProgressDetails {
 public:
  void Clear() { *static_cast<TProgressDetails *>(this) = TProgressDetails(); }
};

using TCustomSender = TCustomZipArchiver *;

// The component's events; each receives the component as Sender.
struct ZipEvents {
  std::function<void(TCustomSender, bool &abort)> OnCheckTerminate;
  std::function<void(TCustomSender, const std::string &ForFile, bool &DoOverwrite)> OnCopyZipOverwrite;
  std::function<void(TCustomSender, const std::string &ForFile, uint32_t FoundCRC, uint32_t ExpectedCRC,
                     bool &DoExtract)>
      OnCRC32Error;
  std::function<void(TCustomSender)> OnDirUpdate;
  std::function<void(TCustomSender, const std::string &ForFile, bool IsOlder, bool &DoOverwrite,
                     int DirIndex)>
      OnExtractOverwrite;
  std::function<void(TCustomSender, const std::string &ForFile, int SkipType, int ExtError)> OnExtractSkipped;
  std::function<void(TCustomSender, const std::string &ForFile, std::string &FileComment, bool &IsChanged)>
      OnFileComment;
  std::function<void(TCustomSender, const std::string &ForFile, std::string &ExtraData, bool &IsChanged)>
      OnFileExtra;
  std::function<void(TCustomSender, int DiskSeqNo, int DiskTotal, const std::string &Drive,
                     bool &AbortAction)>
      OnGetNextDisk;
  std::function<void(TCustomSender, const std::string &Item, int64_t TotalSize, int PerCent)> OnItemProgress;
  std::function<void(TCustomSender, int ErrCode, const std::string &Message)> OnMessage;
  std::function<void(TCustomSender, int SeqNo, const ZipDirEntry &ZipEntry)> OnNewName;
  std::function<void(TCustomSender, bool IsZipAction, std::string &NewPassword, const std::string &ForFile,
                     unsigned &RepeatCount, TMsgDlgBtn &Action)>
      OnPasswordError;
  std::function<void(TCustomSender, ProgressType ProgrType, const std::string &Filename, int64_t FileSize)>
      OnProgress;
  std::function<void(TCustomSender, TProgressDetails &Details)> OnProgressDetails;
  std::function<void(TCustomSender, int PreviousDisk, const std::string &PreviousFile, int Status,
                     int &Action)>
      OnStatusDisk;
  std::function<void(TCustomSender, std::string &FileName, const std::string &ExtName, bool &IsChanged)>
      OnSetAddName;
  std::function<void(TCustomSender, std::string &FileName, bool &IsChanged)> OnSetExtName;
  std::function<void(TCustomSender, std::string &FileName, bool &IsChanged)> OnSetNewName;
  std::function<void(TCustomSender)> OnTick;
  std::function<void(TCustomSender, int64_t TotalSize, int PerCent)> OnTotalProgress;
  std::function<void(TCustomSender, const std::string &Title, std::string &Msg, int &Context,
                     TMsgDlgButtons Btns)>
      OnZipDialog;
};

class TZACore {
 public:
  TZACore() = default;
  TZACore(const TZACore &) = delete;
  TZACore &operator=(const TZACore &) = delete;
  virtual ~TZACore();

  // Records E as the error; shows it in an error box when its display flag is set and the
  // core is not unattended; then OnMessage.
  void ShowExceptionError(const EZipArchiver &E);
  // Only when attended or OnMessage is assigned: the text of id followed by extra becomes the
  // error; an information box unless unattended; then OnMessage.
  void ShowZipMessage(int id, const std::string &extra);
  // A diagnostic or status line for OnMessage (no box).
  void ReportMessage(int code, const std::string &text);

  // The component's dialog: OnZipDialog may answer (Context 1..10 comes back as the result),
  // otherwise TZipDialogBox runs modally. For a password dialog `text` becomes the entry.
  int ZipMessageDialog(const std::string &title, std::string &text, int context, TMsgDlgButtons buttons);
  std::string GetExtrPassword();
  std::string GetExtrPassword(TMsgDlgBtn &result);
  std::string GetAddPassword();
  std::string GetAddPassword(TMsgDlgBtn &result);
  TMsgDlgBtn GetPassword(const std::string &caption, const std::string &message, TMsgDlgButtons buttons,
                         std::string &password);

  // Turns one library report (a ZA_ACT_ action) into events, then checks for a stop (see the
  // worker's callback).
  void ReportEvent(int action, int code, int64_t size, const std::string &text);
  // Lets the window breathe between callbacks (unless NoPump or off the main thread).
  void Pump();

  void StartWaitCursor();
  void EndWaitCursor();
  void RestoreCursor();

  // Back to the constructor's error, cancel, diagnostic and progress state.
  void ResetCore();

  TCustomZipArchiver *Sender = nullptr;
  ZipEvents Events;
  int ErrCode = 0;
  int FullErrCode = 0;
  std::string ErrMessage;
  bool Cancel = false;
  bool Unattended = false;
  bool Verbose = false;
  bool Trace = false;
  bool NoPump = false;        // no message pumping and no cursor changes
  bool Closing = false;       // destruction: no more events
  std::string ExceptionText;  // the text of a handler's exception in this operation
  TProgDetails Progress;

 private:
  void ReportDetails(ProgressType kind);
  void ReportNewItem(const std::string &name, int64_t size);
  void ReportItemBytes(int64_t done);
  void ReportBatchEnd();
  void ReportLibraryMessage(int code, const std::string &text);
  void ReportTotalFiles(int64_t count);
  void ReportTotalSize(int64_t size);
  void ReportExtraItem(int kind, const std::string &text, int64_t size);
  void ReportExtraBytes(int64_t done);

  int cursor_depth_ = 0;
  bool cursor_shown_ = false;
};
