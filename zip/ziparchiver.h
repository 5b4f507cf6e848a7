// TZipArchiver: the archive component. It lists and extracts zip archives: it reads the
// directory itself and has the unzip library KyUnzip179 do the inflating.
//
// Every operation runs synchronously on the caller's thread inside a Starting/Done bracket
// and returns an error id (0 = success); no exception leaves it. While an operation runs the
// component pumps the GUI thread's events after each library callback, so handlers may run
// nested inside it; an operation requested from such a handler is refused with -255 and
// marks re-entry, which shows in ErrCode and ErrMessage.
//
// The component owns its worker (and through it the directory, the index, the library
// handle and the memory stream). Not thread-safe: one thread at a time.
#pragma once

#include "zip/zawrkr.h"

#include <memory>
#include <string>
#include <vector>

class TCustomZipArchiver {
 public:
  TCustomZipArchiver();
  virtual ~TCustomZipArchiver();
  TCustomZipArchiver(const TCustomZipArchiver &) = delete;
  TCustomZipArchiver &operator=(const TCustomZipArchiver &) = delete;

  // Form loading: while loading, property setters only store (the directory is read and
  // Language applied when Loaded runs).
  void BeginLoad();
  void Loaded();
  bool Loading() const { return loading_; }

  // --- operations ---
  int Extract();
  int List();
  // The extracted entry in ZipStream, or null (no such entry, or not exactly one file).
  TZipStream *ExtractFileToStream(const std::string &name);
  // Inflates the raw deflate stream `in` (expanding to `out_size` bytes) into ZipStream.
  TZipStream *ExtractStreamToStream(const TZipStream &in, unsigned out_size);
  int Add();
  TZipStream *AddStreamToFile(const std::string &name, unsigned dos_date_time, unsigned attributes);
  TZipStream *AddStreamToStream(const TZipStream &in);
  int Delete();
  int Rename(const std::vector<std::pair<std::string, std::string>> &renames, unsigned dos_date_time);
  int CopyZippedFiles(TCustomZipArchiver &destination, bool delete_from_source, OvrOpts overwrite);
  int Copy_File(const std::string &source, const std::string &destination);
  int ConvertSFX();
  int ConvertZIP();
  int ReadSpan(const std::string &in, std::string &out);
  int WriteSpan(const std::string &in, const std::string &out);
  void Clear();

  // --- lookups ---
  const ZipDirEntry *Find(const std::string &spec) const;
  const ZipDirEntry *Find(const std::string &spec, int &index) const;
  const ZipDirEntry *GetEntry(const std::string &name) const;
  int IndexOf(const std::string &spec) const;
  // True for a self-extractor with a sound directory. QueryZip's negative failure codes
  // have every bit set and must not read as such a file.
  bool IsZipSFX(const std::string &name) const {
    int q = TZAWorker::QueryZip(name);
    return q > 0 && (q & 0xC1) == 0xC1;
  }

  void AbortDll() { worker_->AbortDll(); }
  void ShowZipMessage(int id, const std::string &extra) { worker_->ShowZipMessage(id, extra); }
  void ShowExceptionError(const EZipArchiver &E) { worker_->ShowExceptionError(E); }
  std::string FullVersionString();
  static int TheErrorCode(int code) { return code & 0x03FFFFFF; }
  std::string MakeTempFileName(const std::string &prefix = "zip", const std::string &extension = ".zip");
  static std::string AppendSlash(const std::string &path);

  // --- properties ---
  bool Active() const { return active_state_ != 0; }
  void SetActive(bool value);
  const std::string &ZipFileName() const { return worker_->ZipFileName(); }
  void SetZipFileName(const std::string &name);
  const std::string &ExtrBaseDir() const { return extr_base_dir_; }
  void SetExtrBaseDir(const std::string &dir) { extr_base_dir_ = dir; }
  ExtrOpts ExtrOptions() const { return extr_options_; }
  void SetExtrOptions(ExtrOpts options) { extr_options_ = options; }
  std::vector<std::string> &FSpecArgs() { return fspec_args_; }
  std::vector<std::string> &FSpecArgsExcl() { return fspec_args_excl_; }
  const std::string &Password() const { return password_; }
  void SetPassword(const std::string &p) { password_ = p; }
  unsigned PasswordReqCount() const { return password_req_count_; }
  void SetPasswordReqCount(unsigned n) { password_req_count_ = n > 15 ? 15 : n; }
  bool Unattended() const { return unattended_; }
  void SetUnattended(bool v) {
    unattended_ = v;
    worker_->Unattended = v;
  }
  bool Verbose() const { return verbose_; }
  void SetVerbose(bool v) { verbose_ = v; }
  bool Trace() const { return trace_; }
  void SetTrace(bool v) { trace_ = v; }
  CPOpts CodePage() const { return code_page_; }
  void SetCodePage(CPOpts c) { code_page_ = c; }
  bool UseDirOnlyEntries() const { return use_dir_only_entries_; }
  void SetUseDirOnlyEntries(bool v) { use_dir_only_entries_ = v; }
  const std::string &DLLDirectory() const { return dll_directory_; }
  void SetDLLDirectory(const std::string &d) { dll_directory_ = d; }
  bool Dll_Load() const;
  void SetDll_Load(bool v);
  const std::string &TempDir() const { return temp_dir_; }
  void SetTempDir(const std::string &d) { temp_dir_ = d; }
  std::string Language() const;
  void SetLanguage(const std::string &language);
  std::string Version() const { return "1.79.10.32"; }
  void SetVersion(const std::string &) {}
  std::string VersionInfo() const { return Version(); }
  static constexpr int Build() { return 1791032; }
  int AddCompLevel() const { return add_comp_level_; }
  void SetAddCompLevel(int v) { add_comp_level_ = v; }
  AddOpts AddOptions() const { return add_options_; }
  void SetAddOptions(AddOpts v) { add_options_ = v; }
  AddStoreExts AddStoreSuffixes() const { return add_store_suffixes_; }
  void SetAddStoreSuffixes(AddStoreExts v) { add_store_suffixes_ = v; }
  const std::string &ExtAddStoreSuffixes() const { return ext_add_store_suffixes_; }
  void SetExtAddStoreSuffixes(const std::string &v) { ext_add_store_suffixes_ = v; }
  const std::string &RootDir() const { return root_dir_; }
  void SetRootDir(const std::string &v) { root_dir_ = v; }
  TDeleteOpts HowToDelete() const { return how_to_delete_; }
  void SetHowToDelete(TDeleteOpts v) { how_to_delete_ = v; }
  std::string SFXCaption = "Self-extracting Archive";
  std::string SFXCommandLine, SFXDefaultDir, SFXMessage, SFXPath;
  std::string SFXLanguage = "US";
  ZipSet<SFXOptsEnum> SFXOptions{SFXCheckSize};
  OvrOpts SFXOverWriteMode = OvrConfirm;
  ZipSet<SpanOptsEnum> SpanOptions;
  bool ConfirmErase = true;
  unsigned KeepFreeOnAllDisks = 0, KeepFreeOnDisk1 = 0;
  int MaxVolumeSize = 0, MinFreeVolumeSize = 65536;
  double AddFrom = 0;

  // --- run-time, read only ---
  int ErrCode() const;
  std::string ErrMessage() const;
  int FullErrCode() const { return worker_->FullErrCode; }
  int SuccessCnt() const { return worker_->SuccessCnt; }
  int Count() const;
  const ZipDirEntry *DirEntry(int i) const { return worker_->DirEntry(i); }
  int DirOnlyCount() const { return worker_->DirOnlyCount; }
  const std::string &ZipComment() const { return worker_->ZipComment; }
  int64_t ZipEOC() const { return worker_->ZipEOC; }
  int64_t ZipSOC() const { return worker_->ZipSOC; }
  int64_t SFXOffset() const { return worker_->SFXOffset; }
  int64_t RealFileSize() const { return worker_->RealFileSize; }
  bool IsSpanned() const { return worker_->IsSpanned; }
  bool Busy() const { return busy_; }
  bool ZipBusy() const { return busy_; }
  bool UnzBusy() const { return busy_; }
  bool Cancel() const { return worker_->Cancel; }
  void SetCancel(bool v) {
    if (v)
      worker_->Cancel = true;
  }
  int64_t TotalSizeToProcess() const { return worker_->Progress.TotalSize; }
  TZipStream &ZipStream() { return worker_->ZipStream; }
  std::string Dll_Path();
  std::string Dll_Version();
  int Dll_Build();
  // Bucket count of the name index (diagnostics and tests).
  int HashBucketCount() const { return worker_->HashBucketCount(); }
  // Unpublished: skip message pumping and cursor changes (set for non-GUI callers).
  void SetNoPump(bool v) { no_pump_ = v; }

  // --- events (stored in the worker's core) ---
  ZipEvents &Events() { return worker_->Events; }
  decltype(ZipEvents::OnMessage) &OnMessage() { return worker_->Events.OnMessage; }
  decltype(ZipEvents::OnProgress) &OnProgress() { return worker_->Events.OnProgress; }
  decltype(ZipEvents::OnZipDialog) &OnZipDialog() { return worker_->Events.OnZipDialog; }

 protected:
  // Returns 0 when the operation may run; -256 while loading, -255 inactive or busy, else
  // the id of an error raised while preparing.
  int Starting();
  void Done();
  bool Stopped();

 private:
  int active_state_ = 1;
  bool loading_ = false;
  bool busy_ = false;
  bool reentry_ = false;
  bool no_pump_ = false;
  bool dll_load_ = false;
  std::string language_;
  std::string extr_base_dir_;
  ExtrOpts extr_options_;
  std::vector<std::string> fspec_args_, fspec_args_excl_;
  std::string password_;
  unsigned password_req_count_ = 1;
  bool unattended_ = false, verbose_ = false, trace_ = false;
  CPOpts code_page_ = cpAuto;
  bool use_dir_only_entries_ = false;
  std::string dll_directory_;
  std::string temp_dir_;
  int add_comp_level_ = 9;
  AddOpts add_options_;
  AddStoreExts add_store_suffixes_;
  std::string ext_add_store_suffixes_;
  std::string root_dir_;
  TDeleteOpts how_to_delete_ = htdAllowUndo;
  std::unique_ptr<TZAWorker> worker_;
};

class TZipArchiver : public TCustomZipArchiver {
 public:
  TZipArchiver() = default;
};
