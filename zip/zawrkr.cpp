#include "zip/zawrkr.h"

#include "ziplib/zaoem.h"
#include "zip/ziputils.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kEndSig = 0x06054B50u, kCentralSig = 0x02014B50u, kLocalSig = 0x04034B50u,
                   kSpanSig = 0x08074B50u;

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool read_at(std::istream &in, int64_t pos, void *buf, size_t n) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(pos));
  return static_cast<bool>(in.read(static_cast<char *>(buf), static_cast<std::streamsize>(n)));
}

int64_t file_size_of(std::istream &in) {
  in.clear();
  in.seekg(0, std::ios::end);
  return static_cast<int64_t>(in.tellg());
}

std::string slashes_to_backslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// The answer buffer of the library: at most 512 characters and a terminating zero.
void copy_answer(ZCallBackStruct *info, const std::string &text, size_t max_chars) {
  if (!info->u.Answer)
    return;
  size_t n = std::min({text.size(), max_chars, static_cast<size_t>(ZA_ANSWER_SIZE - 1)});
  std::memcpy(info->u.Answer, text.data(), n);
  info->u.Answer[n] = 0;
}

}  // namespace

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

std::string TZAWorker::Convert(const std::string &raw, int host, int made_by, int flags) const {
  if (zaoem::needs_oem_conversion(static_cast<int>(CodePage), host, made_by, flags))
    return zaoem::oem_to_utf8(raw);
  return raw;
}

int TZAWorker::QueryZip(const std::string &name) {
  try {
    std::ifstream in(fs::path(name), std::ios::binary);
    if (!in)
      return -7;
    int64_t size = file_size_of(in);
    int result = 0;
    unsigned char head[4] = {0, 0, 0, 0};
    if (size >= 2 && read_at(in, 0, head, static_cast<size_t>(std::min<int64_t>(size, 4)))) {
      if (head[0] == 'M' && head[1] == 'Z')
        result |= 0x01;
      if (size >= 4) {
        uint32_t sig = le32(head);
        if (sig == kLocalSig)
          result |= 0x02;
        if (sig == kSpanSig)
          result |= 0x04;
        if (sig == kCentralSig)
          result |= 0x08;
      }
    }
    if (size < 22)
      return result;
    int64_t tail = std::min<int64_t>(size, 65557);
    std::vector<unsigned char> buf(static_cast<size_t>(tail));
    if (!read_at(in, size - tail, buf.data(), buf.size()))
      return result;
    for (int64_t i = tail - 22; i >= 0; --i) {
      const unsigned char *e = &buf[static_cast<size_t>(i)];
      if (le32(e) != kEndSig)
        continue;
      int r = result | 0x80;
      int64_t pos = size - tail + i;
      if (pos + 22 + le16(e + 20) == size)
        r |= 0x10;
      if (le16(e + 4) != le16(e + 6)) {
        result = r & 0x1F;  // a record of another volume: keep looking further back
        continue;
      }
      unsigned char c[46];
      if (read_at(in, le32(e + 16), c, 46) && le32(c) == kCentralSig) {
        r |= 0x40;
        unsigned char l[4];
        if (le16(c + 34) == le16(e + 4) && read_at(in, le32(c + 42), l, 4) && le32(l) == kLocalSig)
          r |= 0x20;
      }
      return r;
    }
    return result;
  } catch (...) {
    return -9;
  }
}

bool TZAWorker::LocateEOC(std::istream &in, int64_t size, std::string &raw_comment) {
  raw_comment.clear();
  ZipEOC = 0;
  unsigned char head[8];
  if (size >= 8 && read_at(in, 0, head, 8) && le32(head) == kSpanSig && le32(head + 4) == kLocalSig)
    IsSpanned = true;
  if (size < 22 || size >= (int64_t(1) << 32)) {
    if (Verbose)
      ReportMessage(0, "Opening EOC seek error " + std::to_string(size >> 20) + "Mb");
    return false;
  }
  unsigned char e[22];
  auto take = [&](const unsigned char *rec, int64_t pos) {
    ZipEOC = pos;
    eoc_volume_ = le16(rec + 4);
    eoc_cd_volume_ = le16(rec + 6);
    eoc_entries_ = le16(rec + 10);
    eoc_cd_size_ = le32(rec + 12);
    eoc_cd_offset_ = le32(rec + 16);
  };
  if (read_at(in, size - 22, e, 22) && le32(e) == kEndSig && le16(e + 20) == 0) {
    take(e, size - 22);
    logical_size_ = size;
    return true;
  }
  int64_t tail = std::min<int64_t>(size, 65557);
  std::vector<unsigned char> buf(static_cast<size_t>(tail));
  if (!read_at(in, size - tail, buf.data(), buf.size()))
    return false;
  for (int64_t i = tail - 22; i >= 0; --i) {
    const unsigned char *rec = &buf[static_cast<size_t>(i)];
    if (le32(rec) != kEndSig)
      continue;
    int64_t pos = size - tail + i;
    size_t clen = le16(rec + 20);
    size_t avail = static_cast<size_t>(tail - i - 22);
    raw_comment.assign(reinterpret_cast<const char *>(rec + 22), std::min(clen, avail));
    take(rec, pos);
    int64_t end = pos + 22 + static_cast<int64_t>(clen);
    logical_size_ = std::min(end, size);
    if (end != size && Verbose)
      ReportMessage(0, ZipLoadStr(10204));
    return true;
  }
  return false;
}

void TZAWorker::ReadDirectory(std::istream &in, const std::string &raw_comment) {
  bool ok = false;
  StartWaitCursor();
  try {
    if (eoc_volume_ != eoc_cd_volume_)
      throw EZipArchiver(11048, true);  // multi-volume sets are not read by this program
    int64_t start =
        logical_size_ - static_cast<int64_t>(eoc_cd_size_) - static_cast<int64_t>(raw_comment.size()) - 22;
    ZipSOC = start;
    SFXOffset = RealFileSize == 22 ? 0 : RealFileSize;
    offset_mismatch_ = start != static_cast<int64_t>(eoc_cd_offset_);
    if (offset_mismatch_)
      ShowZipMessage(10203, std::string());
    if (start < 0)
      throw EZipArchiver(10201, true);
    in.clear();
    in.seekg(static_cast<std::streamoff>(start));
    if (!in)
      throw EZipArchiver(10201, true);
    ReportEvent(15, 9, eoc_entries_, std::string());
    if (Trace)
      ReportMessage(0, ZipFormat("List - expecting %d files", {static_cast<long long>(eoc_entries_)}));
    contents_.reserve(eoc_entries_);
    index_.SetCapacity(static_cast<int>(eoc_entries_));
    int host = 0, version = 20;
    bool host_seen = false;
    for (uint32_t n = 0; n < eoc_entries_; ++n) {
      unsigned char h[46];
      if (!in.read(reinterpret_cast<char *>(h), 46))
        throw EZipArchiver(11013, true);
      if (le32(h) != kCentralSig)
        throw EZipArchiver(11015, true);
      size_t name_len = le16(h + 28);
      if (name_len > 259 || name_len == 0)
        throw EZipArchiver(11017, true);
      std::string raw_name(name_len, '\0');
      if (!in.read(raw_name.data(), static_cast<std::streamsize>(name_len)))
        throw EZipArchiver(11017, true);
      if (h[5] != 0 || !host_seen) {
        if (h[5] != 0) {
          host = h[5];
          version = h[4];
          host_seen = true;
        }
      }
      auto e = std::make_unique<ZipDirEntry>();
      e->MadeByVersion = h[4];
      e->HostSystem = h[5];
      e->NeededVersion = le16(h + 6);
      e->Flags = le16(h + 8);
      e->CompressionMethod = le16(h + 10);
      e->ModTime = le16(h + 12);
      e->ModDate = le16(h + 14);
      e->Crc32 = le32(h + 16);
      e->CompressedSize = le32(h + 20);
      e->UncompressedSize = le32(h + 24);
      e->NameLength = le16(h + 28);
      e->ExtraLength = le16(h + 30);
      e->CommentLength = le16(h + 32);
      e->StartDisk = le16(h + 34);
      e->InternalAttributes = le16(h + 36);
      e->ExternalAttributes = le32(h + 38);
      e->LocalHeaderOffset = le32(h + 42);
      e->Encrypted = (e->Flags & 1) != 0;
      e->FileName = slashes_to_backslashes(Convert(raw_name, h[5], h[4], e->Flags));
      if (Trace)
        ReportMessage(0, ZipFormat("List - [%d] \"%s\"", {static_cast<long long>(n + 1), e->FileName}));
      e->ExtraData.resize(e->ExtraLength);
      if (e->ExtraLength && !in.read(e->ExtraData.data(), e->ExtraLength))
        throw EZipArchiver(10201, true);
      std::string raw_comment_e(e->CommentLength, '\0');
      if (e->CommentLength && !in.read(raw_comment_e.data(), e->CommentLength))
        throw EZipArchiver(11022, true);
      e->FileComment = Convert(raw_comment_e, h[5], h[4], e->Flags);
      int64_t local = e->LocalHeaderOffset;
      const std::string &fn = e->FileName;
      if (!UseDirOnlyEntries && (fn.back() == '\\')) {
        ++DirOnlyCount;
        if (Trace)
          ReportMessage(0, ZipFormat("List - dropped dir [%d]", {static_cast<long long>(n + 1)}));
      } else {
        if (Trace)
          ReportMessage(0, ZipFormat("List - adding \"%s\" [%s]", {fn, raw_name}));
        ZipDirEntry *kept = e.get();
        contents_.push_back(std::move(e));
        index_.Add(kept);
        if (Events.OnNewName && !Closing)
          Events.OnNewName(Sender, static_cast<int>(n + 1), *kept);
      }
      SFXOffset = std::min(SFXOffset, local);
      ReportEvent(16, 0, 1, std::string());
      if (Cancel)
        throw EZipAbort();
    }
    unsigned char end[22];
    if (!in.read(reinterpret_cast<char *>(end), 22) || le32(end) != kEndSig)
      throw EZipArchiver(11011, true);
    last_host_ = host;
    last_version_ = version;
    ok = true;
  } catch (const EZipArchiver &E) {
    ShowExceptionError(E);
  } catch (const std::bad_alloc &) {
    ShowZipMessage(10103, std::string());
  } catch (const std::exception &x) {
    ShowZipMessage(10202, std::string("\n") + x.what());
  }
  ReportEvent(3, 0, 0, std::string());
  EndWaitCursor();
  if (!ok) {
    DiscardDirectory();
    zip_file_name_.clear();
    SFXOffset = 0;
  } else {
    SFXOffset += ZipSOC - static_cast<int64_t>(eoc_cd_offset_);
    ZipComment = Convert(raw_comment, last_host_, last_version_, 0);
  }
}

int TZAWorker::List() {
  DiscardDirectory();
  ZipEOC = ZipSOC = SFXOffset = RealFileSize = 0;
  IsSpanned = false;
  DirOnlyCount = 0;
  ErrCode = 0;
  if (!active_) {
    read_pending_ = true;
    return 0;
  }
  if (zip_file_name_.empty()) {
    if (Events.OnDirUpdate && !Closing)
      Events.OnDirUpdate(Sender);
    return ErrCode;
  }
  std::string read_name = zip_file_name_;
  // A detached self-extractor: the directory sits in the ".zip" file of the same name.
  if (QueryZip(zip_file_name_) == 0xD1)
    read_name = fs::path(zip_file_name_).replace_extension(".zip").string();
  std::error_code ec;
  bool opened = false;
  std::string raw_comment;
  std::ifstream in;
  if (fs::exists(fs::path(read_name), ec)) {
    in.open(fs::path(read_name), std::ios::binary);
    if (!in) {
      ShowZipMessage(11002, std::string());
      ShowExceptionError(EZipArchiver(11036, true));
    } else {
      RealFileSize = file_size_of(in);
      if (LocateEOC(in, RealFileSize, raw_comment))
        opened = true;
      else
        ShowExceptionError(EZipArchiver(11036, true));
    }
  }
  // A missing file (spanned sets are not searched for) fails silently.
  if (!opened) {
    if (Events.OnDirUpdate && !Closing)
      Events.OnDirUpdate(Sender);
    return ErrCode;
  }
  ReadDirectory(in, raw_comment);
  if (Events.OnDirUpdate && !Closing)
    Events.OnDirUpdate(Sender);
  return ErrCode;
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

int32_t ZA_CALL TZAWorker::DllCallback(void *caller, ZCallBackStruct *info) {
  auto *w = static_cast<TZAWorker *>(caller);
  if (!w || !info || w->Closing)
    return 0;
  int action = info->ActionCode & 0x3F;
  try {
    w->Dispatch(info);
  } catch (const std::exception &x) {
    if (w->ExceptionText.empty())
      w->ExceptionText = " #" + std::to_string(action) + " \"" + x.what() + "\"";
    w->Cancel = true;
  } catch (...) {
    if (w->ExceptionText.empty())
      w->ExceptionText = " #" + std::to_string(action) + " \"\"";
    w->Cancel = true;
  }
  if (!w->ExceptionText.empty())
    return 10106;
  return w->Cancel ? 1 : 0;
}

void TZAWorker::Dispatch(ZCallBackStruct *info) {
  int action = info->ActionCode & 0x3F;
  std::string name = info->MsgP ? slashes_to_backslashes(info->MsgP) : std::string();
  TCustomZipArchiver *s = Sender;
  switch (action) {
    case 18:
      SetAbortValue(info->Arg1);
      return;
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 15:
    case 16: {
      int code = (action == 4 || action == 15 || action == 16) ? info->Arg1 : 0;
      int64_t size = 0;
      if (action == 1 || action == 2 || action == 3 || action == 6 || action == 15 || action == 16)
        size = info->u.Size64;
      else if (action == 5)
        size = info->Arg1;
      std::string text;
      if (action == 1 || action == 15)
        text = name;
      else if (action == 4)
        text = info->MsgP ? info->MsgP : "";
      if (info->IsOperationZip && action >= 1 && action <= 3) {
        Progress.ItemSize = info->ItemSize;
        Progress.ItemBytesDone = info->ItemPos;
      }
      ReportEvent(action, code, size, text);
      return;
    }
    case 7: {
      if (Events.OnSetNewName) {
        std::string n = name;
        bool changed = false;
        Events.OnSetNewName(s, n, changed);
        if (changed) {
          copy_answer(info, n, 512);
          info->ActionCode = -1;
        }
      }
      if (info->Data && Events.OnSetAddName) {
        std::string n = name;
        bool changed = false;
        Events.OnSetAddName(s, n, slashes_to_backslashes(static_cast<const char *>(info->Data)), changed);
        if (changed) {
          copy_answer(info, n, 512);
          info->ActionCode = -1;
        }
      }
      break;
    }
    case 8: {
      TMsgDlgBtn act = mbOK;
      unsigned repeat = static_cast<unsigned>(std::max(0, info->Arg1));
      std::string pw;
      bool zip_action = info->IsOperationZip != 0;
      if (Events.OnPasswordError) {
        Events.OnPasswordError(s, zip_action, pw, name, repeat, act);
        if (act != mbOK)
          pw.clear();
      } else if (Unattended) {
        ShowZipMessage(zip_action ? 10150 : 10151, std::string());
      } else {
        pw = zip_action ? GetAddPassword(act) : GetExtrPassword(act);
      }
      if (pw.empty()) {
        repeat = 0;
        info->ActionCode = -2;
      } else {
        copy_answer(info, pw, 80);
        info->ActionCode = -1;
      }
      info->Arg1 = static_cast<int32_t>(std::min(repeat, 15u));
      if (act == mbCancel)
        info->ActionCode = -2;
      else if (act == mbNoToAll)
        info->ActionCode = -3;
      else if (act == mbAbort)
        Cancel = true;
      break;
    }
    case 9:
      if (Events.OnCRC32Error) {
        bool extract = true;
        Events.OnCRC32Error(s, name, static_cast<uint32_t>(info->Arg1), static_cast<uint32_t>(info->Arg2),
                            extract);
        info->ActionCode = extract ? -1 : -3;
      }
      break;
    case 10:
      if (Events.OnExtractOverwrite) {
        bool overwrite = info->Arg1 != 0;
        Events.OnExtractOverwrite(s, name, info->Older != 2, overwrite, info->Arg2);
        info->ActionCode = overwrite ? -1 : -2;
      }
      break;
    case 11:
      if (info->Arg1 != 0)
        FullErrCode = info->Arg1;
      if (Events.OnExtractSkipped)
        Events.OnExtractSkipped(s, name, (info->Arg2 & 0xFF) - 1, info->Arg1 & 0xFF);
      else if (Events.OnMessage)
        Events.OnMessage(s, 10125,
                         ZipFmtLoadStr(10126, {name, static_cast<long long>((info->Arg2 & 0xFF) - 1)}));
      break;
    case 12:
      if (Events.OnFileComment) {
        std::string comment = info->Data ? static_cast<const char *>(info->Data) : "";
        bool changed = false;
        Events.OnFileComment(s, name, comment, changed);
        if (changed) {
          copy_answer(info, comment, 511);
          info->Arg1 = static_cast<int32_t>(std::min<size_t>(comment.size(), 511));
          info->ActionCode = -1;
        }
      }
      break;
    case 13: {
      int64_t want = info->u.Size64;
      try {
        if (want < 0 || want > INT32_MAX)
          throw std::bad_alloc();
        ZipStream.SetSize(static_cast<size_t>(want));
        info->Data = ZipStream.Memory();
        info->ActionCode = -1;
      } catch (const std::bad_alloc &) {
        info->ActionCode = -2;
        info->u.Size64 = 0;
      }
      break;
    }
    case 14:
      if (Events.OnFileExtra) {
        std::string extra;
        if (info->Data && info->Arg1 > 0)
          extra.assign(static_cast<const char *>(info->Data), static_cast<size_t>(info->Arg1));
        bool changed = false;
        Events.OnFileExtra(s, name, extra, changed);
        if (changed) {
          static thread_local std::string handed_back;
          if (!extra.empty() && extra.size() <= 511 && info->u.Answer) {
            std::memcpy(info->u.Answer, extra.data(), extra.size());
          } else {
            handed_back = extra;
            info->Data = handed_back.data();
          }
          info->Arg1 = static_cast<int32_t>(extra.size());
          info->ActionCode = -1;
        }
      }
      break;
    case 17:
      if (Events.OnSetExtName) {
        std::string n = name;
        bool changed = false;
        Events.OnSetExtName(s, n, changed);
        auto ends_delim = [](const std::string &t) {
          return !t.empty() && (t.back() == '\\' || t.back() == '/');
        };
        if (changed && n != name && ends_delim(n) == ends_delim(name)) {
          copy_answer(info, n, 512);
          info->ActionCode = -1;
        }
      }
      break;
    default:
      break;
  }
  ReportEvent(19, 0, 0, std::string());
}
