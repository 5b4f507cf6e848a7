#include "zip/zawrkr.h"

#include "ziplib/zarequest.h"
#include "zip/ziputils.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

TZAWorker::TZAWorker() {
  AddStoreSuffixes = AddStoreExts();
  for (int s = assGIF; s <= assAVI; ++s)
    if (s != assEXT)
      AddStoreSuffixes.Include(static_cast<AddStoreSuffix>(s));
}

TZAWorker::~TZAWorker() {
  Closing = true;
  AbortDll();
  DiscardDirectory();
}

const ZipDirEntry *TZAWorker::DirEntry(int i) const {
  if (!active_ || i < 0 || i >= Count())
    return nullptr;
  return contents_[static_cast<size_t>(i)].get();
}

void TZAWorker::DiscardDirectory() {
  index_.Clear();
  contents_.clear();
  ZipComment.clear();
}

void TZAWorker::SetZipFileName(const std::string &name) {
  zip_file_name_ = name;
  List();
}

void TZAWorker::Activate() {
  active_ = true;
  if (read_pending_) {
    read_pending_ = false;
    List();
  }
}

void TZAWorker::Deactivate() { active_ = false; }

void TZAWorker::StartRun() {
  ReEntry = false;
  running_ = true;
  QCoreApplication *app = QCoreApplication::instance();
  if (app && QThread::currentThread() != app->thread())
    NoPump = true;
}

void TZAWorker::EndRun() {
  running_ = false;
  if (!NoPump)
    RestoreCursor();
}

void TZAWorker::ClearWorker() {
  bool was_closing = Closing;
  Closing = true;  // no events while the state is taken apart
  AbortDll();
  DiscardDirectory();
  zip_file_name_.clear();
  Password.clear();
  ZipComment.clear();
  AddCompLevel = 9;
  AddFrom = 0;
  AddOptions = AddOpts();
  ExtrOptions = ExtrOpts();
  ExtrBaseDir.clear();
  ExtAddStoreSuffixes.clear();
  CodePage = cpAuto;
  FSpecArgs.clear();
  FSpecArgsExcl.clear();
  PasswordReqCount = 1;
  RootDir.clear();
  TempDir.clear();
  UseDirOnlyEntries = false;
  ZipEOC = ZipSOC = SFXOffset = RealFileSize = 0;
  IsSpanned = false;
  DirOnlyCount = 0;
  SuccessCnt = 0;
  ZipStream.Clear();
  ResetCore();
  Closing = was_closing;
}

const ZipDirEntry *TZAWorker::Find(const std::string &spec) const {
  if (!active_)
    return nullptr;
  if (spec.find_first_of("*?") != std::string::npos) {
    int index = -1;
    return Find(spec, index);
  }
  return index_.Find(spec);
}

const ZipDirEntry *TZAWorker::Find(const std::string &spec, int &index) const {
  int start = index < 0 ? 0 : index + 1;
  for (int i = start; i < Count(); ++i) {
    if (FileNameMatch(spec, contents_[static_cast<size_t>(i)]->FileName)) {
      index = i;
      return contents_[static_cast<size_t>(i)].get();
    }
  }
  index = -1;
  return nullptr;
}

int TZAWorker::IndexOf(const std::string &spec) const {
  int index = -1;
  return Find(spec, index) ? index : -1;
}

void TZAWorker::UnzipFiles(int mode, const TZipStream *in_stream) {
  unsigned saved_req = PasswordReqCount;
  FullErrCode = 0;
  ErrCode = 0;
  SuccessCnt = 0;
  ErrMessage.clear();
  if (unz_busy_)
    return;
  unz_busy_ = true;
  Cancel = false;

  // Whatever happens, the request's memory goes, the pattern list is emptied and
  // the library's operation use ends.
  std::string base;
  bool library_in_use = false;
  std::vector<std::string> spec_texts;
  std::vector<UnzFileSpec> spec_slots;
  auto cleanup = [&] {
    if (library_in_use) {
      Release(kUseOperation);
      library_in_use = false;
    }
    FSpecArgs.clear();
    if (mode != 0 && SuccessCnt != 1)
      ZipStream.Clear();
    if (mode == 0 && !base.empty()) {
      std::error_code ec;
      fs::current_path(fs::path(base), ec);
    }
    PasswordReqCount = saved_req;
    unz_busy_ = false;
  };
  try {
    if (mode == 0 || mode == 1) {
      if (zip_file_name_.empty())
        throw EZipArchiver(10102, true);
      if (Count() == 0)
        List();
      if (Count() == 0) {
        if (ErrCode == 0)
          throw EZipArchiver(11002, true);
        cleanup();
        return;
      }
    }
    Cancel = false;
    if (mode == 0 && !ExtrBaseDir.empty() && !ExtrOptions.Has(ExtrTest)) {
      base = ZipFullDirPath(AppendSlash(ExtrBaseDir));
      if (ExtrOptions.Has(ExtrForceDirs)) {
        std::error_code ec;
        fs::create_directories(fs::path(base), ec);
      }
      if (!ZipIsDirectory(base)) {
        std::string shown = base;
        base.clear();
        throw EZipArchiver(10504, {shown});
      }
    }
    if (IsSpanned)
      throw EZipArchiver(11048, true);  // joining spanned parts is not supported here
    Use(kUseOperation);
    library_in_use = true;

    UnzipRequest req;
    std::memset(&req, 0, sizeof req);
    std::string password = Password;
    std::string archive = zip_file_name_;
    req.Handle = Unattended ? 0 : WindowHandle;
    req.Caller = this;
    req.Version = ZA_INTERFACE_VERSION;
    req.Callback = &TZAWorker::DllCallback;
    req.fTraceEnabled = Trace ? 1 : 0;
    req.CodePage = static_cast<int8_t>(CodePage);
    req.PWord = password.c_str();
    req.fTest = ExtrOptions.Has(ExtrTest) ? 1 : 0;
    req.Flag44 = 1;
    req.fVerbose = (Verbose || Trace) ? 1 : 0;
    req.fUpdate = ExtrOptions.Has(ExtrUpdate) ? 1 : 0;
    req.fFreshen = ExtrOptions.Has(ExtrFreshen) && !ExtrOptions.Has(ExtrUpdate) ? 1 : 0;
    req.fDirectories = ExtrOptions.Has(ExtrDirNames) ? 1 : 0;
    req.fOverwrite = ExtrOptions.Has(ExtrOverWrite) ? 1 : 0;
    req.ZipFileName = archive.c_str();
    req.PwdReqCount = static_cast<int32_t>(std::clamp(PasswordReqCount, 1u, 15u));
    req.ExtractDir = base.empty() ? nullptr : base.c_str();
    req.Tail148 = 7;
    if (!(FSpecArgs.empty() || FSpecArgs[0] == "*.*")) {
      spec_texts = FSpecArgs;
      spec_slots.assign(spec_texts.size(), UnzFileSpec{});
      for (size_t i = 0; i < spec_texts.size(); ++i)
        spec_slots[i].FileSpec = spec_texts[i].c_str();
      req.SpecCount = static_cast<int32_t>(spec_slots.size());
      req.Specs = spec_slots.data();
    }
    bool call = mode == 0;
    if (mode == 1) {
      const ZipDirEntry *e = spec_texts.empty() ? nullptr : index_.Find(spec_texts[0]);
      if (e) {
        ZipStream.SetSize(e->UncompressedSize);
        req.fToMemory = 1;
        req.OutBuf = ZipStream.Memory();
        req.OutSize = e->UncompressedSize;
        req.SpecCount = 1;
        call = true;
      }
    } else if (mode == 2 && in_stream) {
      req.fToMemory = 1;
      req.fFromMemory = 1;
      req.InBuf = in_stream->Memory();
      req.InSize = static_cast<uint32_t>(in_stream->Size());
      req.OutBuf = ZipStream.Memory();
      req.OutSize = static_cast<uint32_t>(ZipStream.Size());
      call = true;
    }
    ExceptionText.clear();
    if (mode != 2 && Unattended && Password.empty() && !Events.OnPasswordError)
      ReportMessage(0, ZipLoadStr(10502));
    if (call)
      SuccessCnt = CallUnzExec(&req);
    cleanup();
  } catch (EZipArchiver &E) {
    if (!ExceptionText.empty())
      E.AppendMessage(ExceptionText);
    cleanup();
    ShowExceptionError(E);
    SuccessCnt = 0;
  } catch (...) {
    cleanup();
    throw;
  }
}

void TZAWorker::AddRoutine(bool to_stream) {
  if (!to_stream && FSpecArgs.empty())
    throw EZipArchiver(10301, true);
  ZipExecRoutine(0);
}

void TZAWorker::DeleteRoutine() {
  if (FSpecArgs.empty())
    throw EZipArchiver(10401, true);
  ZipExecRoutine(0);
}

void TZAWorker::ZipExecRoutine(int refusal_id) {
  if (refusal_id)
    throw EZipArchiver(refusal_id, true);
  // Our library extracts only; its add side refuses with a structure error, and that is
  // what the caller learns, through the same path as any library failure.
  Use(kUseOperation);
  try {
    throw EZipArchiver(10122, true);
  } catch (...) {
    Release(kUseOperation);
    throw;
  }
}
