#include "zip/ziparchiver.h"

#include "zip/ziputils.h"

#include <QApplication>
#include <QWidget>

#include <cctype>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

// ".ext" items, lower case, joined with ":"; "," ";" and ":" separate the input.
std::string parse_suffixes(const std::string &in) {
  std::string out, item;
  auto flush = [&] {
    size_t b = item.find_first_not_of(' '), e = item.find_last_not_of(' ');
    if (b != std::string::npos) {
      std::string t = item.substr(b, e - b + 1);
      if (t[0] != '.')
        t = "." + t;
      for (char &c : t)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += (out.empty() ? "" : ":") + t;
    }
    item.clear();
  };
  for (char c : in) {
    if (c == ',' || c == ';' || c == ':')
      flush();
    else
      item += c;
  }
  flush();
  return out;
}

}  // namespace

TCustomZipArchiver::TCustomZipArchiver() : worker_(std::make_unique<TZAWorker>()) {
  worker_->Sender = this;
  add_store_suffixes_ = worker_->AddStoreSuffixes;
  if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance())) {
    const auto tops = app->topLevelWidgets();
    // Only a window that already exists: asking for the handle would create one.
    if (!tops.isEmpty() && tops.first()->testAttribute(Qt::WA_WState_Created))
      worker_->WindowHandle = static_cast<intptr_t>(tops.first()->winId());
  }
  worker_->Activate();
}

TCustomZipArchiver::~TCustomZipArchiver() {
  worker_->Deactivate();
  worker_->Closing = true;
}

void TCustomZipArchiver::BeginLoad() {
  loading_ = true;
  active_state_ = 2;
  worker_->Deactivate();
}

void TCustomZipArchiver::Loaded() {
  loading_ = false;
  ZipSetLanguage(language_);
  if (active_state_ == 2 && Starting() == 0) {
    active_state_ = 1;
    worker_->Activate();
    Done();
  } else if (active_state_ == 2) {
    active_state_ = 1;
  } else {
    worker_->Deactivate();
  }
}

bool TCustomZipArchiver::Stopped() {
  if (!busy_)
    return true;
  reentry_ = true;
  worker_->ReEntry = true;
  if (verbose_)
    worker_->ReportMessage(0, "Re-entry");
  return false;
}

int TCustomZipArchiver::Starting() {
  if (loading_)
    return -256;
  if (!Active() || !Stopped())
    return -255;
  TZAWorker &w = *worker_;
  try {
    w.Sender = this;
    w.ErrCode = 0;
    w.AddCompLevel = add_comp_level_;
    w.AddFrom = AddFrom;
    w.AddOptions = add_options_;
    w.AddStoreSuffixes = add_store_suffixes_;
    w.BufSize = 65536;
    w.ExtAddStoreSuffixes = parse_suffixes(ext_add_store_suffixes_);
    if (w.ExtAddStoreSuffixes.empty())
      w.AddStoreSuffixes.Exclude(assEXT);
    else
      w.AddStoreSuffixes.Include(assEXT);
    w.CodePage = code_page_;
    w.ExtrBaseDir = extr_base_dir_;
    w.ExtrOptions = extr_options_;
    w.Unattended = unattended_;
    w.Verbose = verbose_;
    w.Trace = trace_;
    w.DLLDirectory = dll_directory_;
    w.NoPump = no_pump_;
    w.ConfirmErase = ConfirmErase;
    w.KeepFreeOnAllDisks = KeepFreeOnAllDisks;
    w.KeepFreeOnDisk1 = KeepFreeOnDisk1;
    w.MaxVolumeSize = MaxVolumeSize;
    w.MinFreeVolumeSize = MinFreeVolumeSize;
    w.SpanOptions = static_cast<unsigned>(SpanOptions.Bits());
    w.FSpecArgs = fspec_args_;
    w.FSpecArgsExcl = fspec_args_excl_;
    w.HowToDelete = how_to_delete_;
    w.Password = password_;
    w.PasswordReqCount = password_req_count_ == 0 ? 1 : (password_req_count_ > 15 ? 15 : password_req_count_);
    w.RootDir = root_dir_;
    w.TempDir = temp_dir_;
    w.Unattended = unattended_;
    w.UseDirOnlyEntries = use_dir_only_entries_;
    if (!temp_dir_.empty() && !ZipIsDirectory(temp_dir_))
      throw EZipArchiver(11051, {temp_dir_});
    w.Activate();
    w.StartRun();
    busy_ = true;
    reentry_ = false;
    if (dll_load_)
      w.Use(TZADynamicBind::kUseKeep);
    else
      w.Release(TZADynamicBind::kUseKeep);
    return 0;
  } catch (const EZipArchiver &E) {
    w.ShowExceptionError(E);
    return E.MessageId();
  } catch (...) {
    return -9;
  }
}

void TCustomZipArchiver::Done() {
  worker_->EndRun();
  busy_ = false;
  if (worker_->ReEntry)
    reentry_ = true;
  fspec_args_ = worker_->FSpecArgs;
  fspec_args_excl_ = worker_->FSpecArgsExcl;
  if (active_state_ == -1) {
    active_state_ = 0;
    worker_->Deactivate();
  }
}

void TCustomZipArchiver::SetActive(bool value) {
  if (loading_) {
    active_state_ = value ? 2 : 0;
    return;
  }
  if (busy_) {
    active_state_ = value ? 1 : -1;
    return;
  }
  if (value) {
    int before = active_state_;
    active_state_ = 1;
    if (before == 0 && Starting() == 0) {
      worker_->Activate();
      Done();
    }
  } else {
    active_state_ = 0;
    worker_->Deactivate();
  }
}

void TCustomZipArchiver::SetZipFileName(const std::string &name) {
  if (loading_) {
    worker_->Deactivate();
    worker_->SetZipFileName(name);
    return;
  }
  if (Starting() != 0)
    return;
  worker_->SetZipFileName(name);
  Done();
}

int TCustomZipArchiver::ErrCode() const {
  if (reentry_)
    return worker_->ErrCode | 0x04000000;
  if (!Active())
    return 10109;
  return worker_->ErrCode;
}

std::string TCustomZipArchiver::ErrMessage() const {
  if (!Active())
    return ZipLoadStr(10109);
  std::string msg;
  if (worker_->ErrCode != 0)
    msg = worker_->ErrMessage.empty() ? ZipLoadStr(worker_->ErrCode) : worker_->ErrMessage;
  if (reentry_)
    msg = ZipFmtLoadStr(10112, {msg});
  return msg;
}

int TCustomZipArchiver::Count() const {
  if (!Active() || worker_->ZipFileName().empty())
    return 0;
  return worker_->Count();
}

namespace {

// Runs an operation's routine; errors the routine raises become the worker's error.
template <class Fn>
void run_routine(TZAWorker &w, Fn &&fn) {
  try {
    fn();
  } catch (const EZipArchiver &E) {
    w.ShowExceptionError(E);
  } catch (const std::exception &x) {
    w.ShowExceptionError(EZipArchiver(ZipLoadStr(10501) + ": " + x.what()));
  } catch (...) {
    w.ShowExceptionError(EZipArchiver(10501, true));
  }
}

}  // namespace

int TCustomZipArchiver::Extract() {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { worker_->UnzipFiles(0, nullptr); });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::List() {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { worker_->List(); });
  Done();
  return worker_->ErrCode;
}

TZipStream *TCustomZipArchiver::ExtractFileToStream(const std::string &name) {
  std::vector<std::string> before = fspec_args_;
  fspec_args_.assign(1, name);
  if (Starting() != 0) {
    fspec_args_ = std::move(before);  // a refused call changes nothing
    return nullptr;
  }
  run_routine(*worker_, [&] { worker_->UnzipFiles(1, nullptr); });
  Done();
  return worker_->SuccessCnt == 1 ? &worker_->ZipStream : nullptr;
}

TZipStream *TCustomZipArchiver::ExtractStreamToStream(const TZipStream &in, unsigned out_size) {
  if (Starting() != 0)
    return nullptr;
  worker_->ZipStream.SetSize(out_size);
  run_routine(*worker_, [&] { worker_->UnzipFiles(2, &in); });
  Done();
  return worker_->SuccessCnt == 1 ? &worker_->ZipStream : nullptr;
}

int TCustomZipArchiver::Add() {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { worker_->AddRoutine(false); });
  Done();
  return worker_->ErrCode;
}

TZipStream *TCustomZipArchiver::AddStreamToFile(const std::string &, unsigned, unsigned) {
  if (Starting() != 0)
    return nullptr;
  run_routine(*worker_, [&] { worker_->AddRoutine(true); });
  Done();
  return nullptr;
}

TZipStream *TCustomZipArchiver::AddStreamToStream(const TZipStream &in) {
  if (Starting() != 0)
    return nullptr;
  if (&in == &worker_->ZipStream) {
    worker_->ShowExceptionError(EZipArchiver(10306, true));
    Done();
    return nullptr;
  }
  run_routine(*worker_, [&] { worker_->AddRoutine(true); });
  Done();
  return nullptr;
}

int TCustomZipArchiver::Delete() {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { worker_->DeleteRoutine(); });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::Rename(const std::vector<std::pair<std::string, std::string>> &, unsigned) {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { worker_->ZipExecRoutine(worker_->IsSpanned ? 10141 : 0); });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::CopyZippedFiles(TCustomZipArchiver &destination, bool, OvrOpts) {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] {
    if (&destination == this || destination.ZipFileName() == ZipFileName())
      throw EZipArchiver(10180, true);
    worker_->ZipExecRoutine(worker_->IsSpanned ? 10186 : 0);
  });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::Copy_File(const std::string &source, const std::string &destination) {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] {
    std::error_code ec;
    fs::copy_file(fs::path(source), fs::path(destination), fs::copy_options::overwrite_existing, ec);
    if (ec)
      throw EZipArchiver(10182, {source, destination});
  });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::ConvertSFX() {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { throw EZipArchiver(10804, true); });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::ConvertZIP() { return ConvertSFX(); }

int TCustomZipArchiver::ReadSpan(const std::string &, std::string &) {
  if (int r = Starting())
    return r;
  run_routine(*worker_, [&] { throw EZipArchiver(11048, true); });
  Done();
  return worker_->ErrCode;
}

int TCustomZipArchiver::WriteSpan(const std::string &, const std::string &) {
  std::string ignored;
  return ReadSpan(std::string(), ignored);
}

void TCustomZipArchiver::Clear() {
  if (loading_ || !Active() || !Stopped())
    return;
  worker_->ClearWorker();
  Done();
  reentry_ = false;
}

const ZipDirEntry *TCustomZipArchiver::Find(const std::string &spec) const {
  return Active() ? worker_->Find(spec) : nullptr;
}

const ZipDirEntry *TCustomZipArchiver::Find(const std::string &spec, int &index) const {
  if (!Active()) {
    index = -1;
    return nullptr;
  }
  return worker_->Find(spec, index);
}

const ZipDirEntry *TCustomZipArchiver::GetEntry(const std::string &name) const {
  return Active() ? worker_->GetEntry(name) : nullptr;
}

int TCustomZipArchiver::IndexOf(const std::string &spec) const {
  return Active() ? worker_->IndexOf(spec) : -1;
}

std::string TCustomZipArchiver::FullVersionString() {
  return "ZipArchiver " + Version() + " " + ", DLL " + Dll_Version();
}

std::string TCustomZipArchiver::AppendSlash(const std::string &path) { return ::AppendSlash(path); }

std::string TCustomZipArchiver::MakeTempFileName(const std::string &prefix, const std::string &extension) {
  std::error_code ec;
  fs::path dir = temp_dir_.empty() ? fs::temp_directory_path(ec) : fs::path(temp_dir_);
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(rd() & 0xFFFF));
    fs::path candidate = dir / (prefix + buf + extension);
    if (!fs::exists(candidate, ec))
      return candidate.string();
  }
  return std::string();
}

bool TCustomZipArchiver::Dll_Load() const { return loading_ ? dll_load_ : worker_->IsLoaded() && dll_load_; }

void TCustomZipArchiver::SetDll_Load(bool v) {
  dll_load_ = v;
  if (loading_)
    return;
  auto apply = [&] {
    try {
      if (v)
        worker_->Use(TZADynamicBind::kUseKeep);
      else
        worker_->Release(TZADynamicBind::kUseKeep);
    } catch (const EZipArchiver &E) {
      worker_->ShowExceptionError(E);
    }
    dll_load_ = worker_->IsLoaded() && v;
  };
  if (busy_) {
    apply();
  } else if (Starting() == 0) {
    apply();
    Done();
  }
}

std::string TCustomZipArchiver::Dll_Path() {
  if (busy_)
    return worker_->DllPath();
  if (Starting() != 0)
    return std::string();
  std::string p = worker_->DllPath();
  Done();
  return p;
}

std::string TCustomZipArchiver::Dll_Version() {
  if (busy_)
    return worker_->DllVersion();
  if (Starting() != 0)
    return std::string();
  std::string v = worker_->DllVersion();
  Done();
  return v;
}

int TCustomZipArchiver::Dll_Build() {
  if (busy_)
    return worker_->DllBuild();
  if (Starting() != 0)
    return 0;
  int b = worker_->DllBuild();
  Done();
  return b;
}

std::string TCustomZipArchiver::Language() const { return loading_ ? language_ : ZipLanguageId(); }

void TCustomZipArchiver::SetLanguage(const std::string &language) {
  language_ = language;
  if (!loading_)
    ZipSetLanguage(language);
}
