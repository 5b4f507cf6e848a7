// TZAWorker: the archive state and the operations of the component: reading the central
// directory (List), the name index lookups, and extraction through the library with its
// callback (UnzipFiles, DllCallback).
//
// The worker is owned by its component and used on the thread that runs its operations.
#pragma once

#include "zip/zadbind.h"
#include "zip/zahash.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrForceDirs, ExtrTest };
enum AddOptsEnum {
  AddDirNames,
  AddRecurseDirs,
  AddMove,
  AddFreshen,
  AddUpdate,
  AddZipTime,
  AddForceDOS,
  AddHiddenFiles,
  AddArchiveOnly,
  AddResetArchive,
  AddEncrypt,
  AddSeparateDirs,
  AddVolume,
  AddFromDate,
  AddSafe,
  AddForceDest,
  AddDiskSpan,
  AddDiskSpanErase
};
enum AddStoreSuffix {
  assGIF,
  assPNG,
  assZ,
  assZIP,
  assZOO,
  assARC,
  assLZH,
  assARJ,
  assTAZ,
  assTGZ,
  assLHA,
  assRAR,
  assACE,
  assCAB,
  assGZ,
  assGZIP,
  assJAR,
  assEXE,
  assEXT,
  assJPG,
  assJPEG,
  ass7ZP,
  assMP3,
  assWMA,
  assWMV,
  assDVRMS,
  assAVI
};
enum SFXOptsEnum {
  SFXAskCmdLine,
  SFXAskFiles,
  SFXAutoRun,
  SFXHideOverWriteBox,
  SFXCheckSize,
  SFXNoSuccessMsg
};
enum SpanOptsEnum { spNoVolumeName, spCompatName, spWipeFiles, spTryFormat };
enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };
enum TDeleteOpts { htdFinal, htdAllowUndo };

// A set of enum members, one bit each (Delphi's "set of").
template <class E>
class ZipSet {
 public:
  constexpr ZipSet() = default;
  constexpr ZipSet(std::initializer_list<E> members) {
    for (E m : members)
      bits_ |= bit(m);
  }
  constexpr bool Has(E m) const { return (bits_ & bit(m)) != 0; }
  constexpr ZipSet &Include(E m) {
    bits_ |= bit(m);
    return *this;
  }
  constexpr ZipSet &Exclude(E m) {
    bits_ &= ~bit(m);
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint64_t Bits() const { return bits_; }
  friend constexpr bool operator==(ZipSet a, ZipSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr uint64_t bit(E m) { return uint64_t(1) << static_cast<int>(m); }
  uint64_t bits_ = 0;
};

using ExtrOpts = ZipSet<ExtrOptsEnum>;
using AddOpts = ZipSet<AddOptsEnum>;
using AddStoreExts = ZipSet<AddStoreSuffix>;

// The component's memory stream for stream extraction.
class TZipStream {
 public:
  const uint8_t *Memory() const { return data_.data(); }
  uint8_t *Memory() { return data_.data(); }
  size_t Size() const { return data_.size(); }
  void SetSize(size_t n) { data_.resize(n); }
  void Clear() { data_.clear(); }
  void Write(const void *p, size_t n) {
    const auto *b = static_cast<const uint8_t *>(p);
    data_.insert(data_.end(), b, b + n);
  }

 private:
  std::vector<uint8_t> data_;
};

class TZAWorker : public TZADynamicBind {
 public:
  TZAWorker();
  ~TZAWorker() override;

  // --- options copied from the component by Starting ---
  int AddCompLevel = 9;
  double AddFrom = 0;
  AddOpts AddOptions;
  AddStoreExts AddStoreSuffixes;
  int BufSize = 65536;
  std::string ExtAddStoreSuffixes;  // ":.ext:.ext" form
  CPOpts CodePage = cpAuto;
  std::string ExtrBaseDir;
  ExtrOpts ExtrOptions;
  bool ConfirmErase = true;
  unsigned KeepFreeOnAllDisks = 0, KeepFreeOnDisk1 = 0;
  int MaxVolumeSize = 0, MinFreeVolumeSize = 65536;
  unsigned SpanOptions = 0;
  std::vector<std::string> FSpecArgs, FSpecArgsExcl;
  intptr_t WindowHandle = 0;
  TDeleteOpts HowToDelete = htdAllowUndo;
  std::string Password;
  unsigned PasswordReqCount = 1;
  std::string RootDir;
  std::string TempDir;
  bool UseDirOnlyEntries = false;

  // --- directory state ---
  const std::string &ZipFileName() const { return zip_file_name_; }
  // Stores the name and reads the directory (deferred while inactive).
  void SetZipFileName(const std::string &name);
  int Count() const { return static_cast<int>(contents_.size()); }
  const ZipDirEntry *DirEntry(int i) const;
  int DirOnlyCount = 0;
  std::string ZipComment;
  int64_t ZipEOC = 0, ZipSOC = 0, SFXOffset = 0, RealFileSize = 0;
  bool IsSpanned = false;
  int SuccessCnt = 0;
  TZipStream ZipStream;

  // --- lookups ---
  const ZipDirEntry *Find(const std::string &spec) const;
  const ZipDirEntry *Find(const std::string &spec, int &index) const;
  const ZipDirEntry *GetEntry(const std::string &name) const { return index_.Find(name); }
  int IndexOf(const std::string &spec) const;
  int HashBucketCount() const { return index_.BucketCount(); }

  // --- operations ---
  int List();
  // mode 0 to files, 1 one entry to ZipStream, 2 the raw deflate stream `in` to ZipStream.
  void UnzipFiles(int mode, const TZipStream *in);
  // The routines the system never calls: they keep the facade's contract (ErrCode).
  void AddRoutine(bool to_stream);
  void DeleteRoutine();
  void ZipExecRoutine(int refusal_id);

  static int QueryZip(const std::string &name);

  // --- run state ---
  bool Active() const { return active_; }
  void Activate();
  void Deactivate();
  void StartRun();
  void EndRun();
  bool ReEntry = false;
  bool Running() const { return running_; }
  void ClearWorker();
  void DiscardDirectory();

  static int32_t ZA_CALL DllCallback(void *caller, ZCallBackStruct *info);

 private:
  bool LocateEOC(std::istream &in, int64_t size, std::string &raw_comment);
  void ReadDirectory(std::istream &in, const std::string &raw_comment);
  std::string Convert(const std::string &raw, int host, int made_by, int flags) const;
  // One library callback: each action that asks something has its own answer.
  void Dispatch(ZCallBackStruct *info);
  void ForwardProgress(int action, const ZCallBackStruct *info, const std::string &name);
  void AnswerNewName(ZCallBackStruct *info, const std::string &name);
  void AnswerPassword(ZCallBackStruct *info, const std::string &name);
  void AnswerCRC32Error(ZCallBackStruct *info, const std::string &name);
  void AnswerOverwrite(ZCallBackStruct *info, const std::string &name);
  void ReportSkipped(const ZCallBackStruct *info, const std::string &name);
  void AnswerFileComment(ZCallBackStruct *info, const std::string &name);
  void AnswerMemorySize(ZCallBackStruct *info);
  void AnswerFileExtra(ZCallBackStruct *info, const std::string &name);
  void AnswerExtName(ZCallBackStruct *info, const std::string &name);

  std::string zip_file_name_;
  std::vector<std::unique_ptr<ZipDirEntry>> contents_;
  TZipDirHashList index_;
  bool active_ = false;
  bool read_pending_ = false;
  bool running_ = false;
  bool unz_busy_ = false;
  int64_t logical_size_ = 0;
  int eoc_volume_ = 0, eoc_cd_volume_ = 0;
  uint32_t eoc_entries_ = 0, eoc_cd_size_ = 0, eoc_cd_offset_ = 0;
  int last_host_ = 0, last_version_ = 20;
  bool offset_mismatch_ = false;
};
