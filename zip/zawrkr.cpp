#include "zip/zawrkr.h"

#include "ziplib/zaoem.h"
#include "ziplib/zarequest.h"
#include "ziplib/zipformat.h"
#include "zip/ziputils.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

namespace fs = std::filesystem;
namespace zf = zipformat;

namespace {

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

// The kind of a step beside the entries names its progress text: message 11400 + kind.
constexpr int kExtraReadingDirectory = 9;  // "Loading Directory"

ZipDirEntry entry_of(const zf::CentralHeader &h) {
  ZipDirEntry e;
  e.MadeByVersion = h.made_by;
  e.HostSystem = h.host;
  e.NeededVersion = h.needed;
  e.Flags = h.flags;
  e.CompressionMethod = h.method;
  e.ModTime = h.time;
  e.ModDate = h.date;
  e.Crc32 = h.crc;
  e.CompressedSize = h.csize;
  e.UncompressedSize = h.usize;
  e.NameLength = h.name_len;
  e.ExtraLength = h.extra_len;
  e.CommentLength = h.comment_len;
  e.StartDisk = h.start_disk;
  e.InternalAttributes = h.internal_attr;
  e.ExternalAttributes = h.external_attr;
  e.LocalHeaderOffset = h.stored_offset;
  e.Encrypted = (h.flags & 1) != 0;
  return e;
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
        uint32_t sig = zf::le32(head);
        if (sig == zf::kLocalSig)
          result |= 0x02;
        if (sig == zf::kSpanSig)
          result |= 0x04;
        if (sig == zf::kCentralSig)
          result |= 0x08;
      }
    }
    if (size < static_cast<int64_t>(zf::kEndSize))
      return result;
    int64_t tail = std::min<int64_t>(size, zf::kEndSearch);
    std::vector<unsigned char> buf(static_cast<size_t>(tail));
    if (!read_at(in, size - tail, buf.data(), buf.size()))
      return result;
    for (ptrdiff_t i = zf::find_end(buf.data(), buf.size()); i >= 0;
         i = zf::find_end(buf.data(), buf.size(), i - 1)) {
      zf::EndRecord eoc;
      zf::read_end(&buf[static_cast<size_t>(i)], eoc);
      int r = result | 0x80;
      int64_t pos = size - tail + i;
      if (pos + static_cast<int64_t>(zf::kEndSize) + eoc.comment_len == size)
        r |= 0x10;
      if (eoc.multi_volume()) {
        result = r & 0x1F;  // a record of another volume: keep looking further back
        continue;
      }
      unsigned char c[zf::kCentralSize];
      zf::CentralHeader first;
      if (read_at(in, eoc.cd_offset, c, sizeof c) && zf::read_central(c, first)) {
        r |= 0x40;
        unsigned char l[zf::kLocalSize];
        if (first.start_disk == eoc.disk && read_at(in, first.stored_offset, l, 4) &&
            zf::le32(l) == zf::kLocalSig)
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
  if (size >= 8 && read_at(in, 0, head, 8) && zf::le32(head) == zf::kSpanSig &&
      zf::le32(head + 4) == zf::kLocalSig)
    IsSpanned = true;
  if (size < static_cast<int64_t>(zf::kEndSize) || size >= (int64_t(1) << 32)) {
    if (Verbose)
      ReportMessage(0, "Opening EOC seek error " + std::to_string(size >> 20) + "Mb");
    return false;
  }
  zf::EndRecord eoc;
  auto take = [&](int64_t pos) {
    ZipEOC = pos;
    eoc_volume_ = eoc.disk;
    eoc_cd_volume_ = eoc.cd_disk;
    eoc_entries_ = eoc.entries;
    eoc_cd_size_ = eoc.cd_size;
    eoc_cd_offset_ = eoc.cd_offset;
  };
  unsigned char e[zf::kEndSize];
  int64_t last = size - static_cast<int64_t>(zf::kEndSize);
  if (read_at(in, last, e, sizeof e) && zf::read_end(e, eoc) && eoc.comment_len == 0) {
    take(last);
    logical_size_ = size;
    return true;
  }
  int64_t tail = std::min<int64_t>(size, zf::kEndSearch);
  std::vector<unsigned char> buf(static_cast<size_t>(tail));
  if (!read_at(in, size - tail, buf.data(), buf.size()))
    return false;
  ptrdiff_t i = zf::find_end(buf.data(), buf.size());
  if (i < 0)
    return false;
  zf::read_end(&buf[static_cast<size_t>(i)], eoc);
  int64_t pos = size - tail + i;
  size_t avail = static_cast<size_t>(tail - i) - zf::kEndSize;
  raw_comment.assign(reinterpret_cast<const char *>(&buf[static_cast<size_t>(i) + zf::kEndSize]),
                     std::min<size_t>(eoc.comment_len, avail));
  take(pos);
  int64_t end = pos + static_cast<int64_t>(zf::kEndSize) + eoc.comment_len;
  logical_size_ = std::min(end, size);
  if (end != size && Verbose)
    ReportMessage(0, ZipLoadStr(10204));
  return true;
}

void TZAWorker::ReadDirectory(std::istream &in, const std::string &raw_comment) {
  bool ok = false;
  StartWaitCursor();
  try {
    if (eoc_volume_ != eoc_cd_volume_)
      throw EZipArchiver(11048, true);  // multi-volume sets are not read by this program
    int64_t start = logical_size_ - static_cast<int64_t>(eoc_cd_size_) -
                    static_cast<int64_t>(raw_comment.size()) - static_cast<int64_t>(zf::kEndSize);
    ZipSOC = start;
    SFXOffset = RealFileSize == static_cast<int64_t>(zf::kEndSize) ? 0 : RealFileSize;
    offset_mismatch_ = start != static_cast<int64_t>(eoc_cd_offset_);
    if (offset_mismatch_)
      ShowZipMessage(10203, std::string());
    if (start < 0)
      throw EZipArchiver(10201, true);
    in.clear();
    in.seekg(static_cast<std::streamoff>(start));
    if (!in)
      throw EZipArchiver(10201, true);
    ReportEvent(ZA_ACT_EXTRA_ITEM, kExtraReadingDirectory, eoc_entries_, std::string());
    if (Trace)
      ReportMessage(0, ZipFormat("List - expecting %d files", {static_cast<long long>(eoc_entries_)}));
    contents_.reserve(eoc_entries_);
    index_.SetCapacity(static_cast<int>(eoc_entries_));
    int host = 0, version = 20;
    for (uint32_t n = 0; n < eoc_entries_; ++n) {
      unsigned char raw[zf::kCentralSize];
      if (!in.read(reinterpret_cast<char *>(raw), sizeof raw))
        throw EZipArchiver(11013, true);
      zf::CentralHeader h;
      if (!zf::read_central(raw, h))
        throw EZipArchiver(11015, true);
      if (h.name_len > 259 || h.name_len == 0)
        throw EZipArchiver(11017, true);
      std::string raw_name(h.name_len, '\0');
      if (!in.read(raw_name.data(), static_cast<std::streamsize>(h.name_len)))
        throw EZipArchiver(11017, true);
      if (h.host != 0) {
        host = h.host;
        version = h.made_by;
      }
      auto e = std::make_unique<ZipDirEntry>(entry_of(h));
      e->FileName = slashes_to_backslashes(Convert(raw_name, h.host, h.made_by, e->Flags));
      if (Trace)
        ReportMessage(0, ZipFormat("List - [%d] \"%s\"", {static_cast<long long>(n + 1), e->FileName}));
      e->ExtraData.resize(e->ExtraLength);
      if (e->ExtraLength && !in.read(e->ExtraData.data(), e->ExtraLength))
        throw EZipArchiver(10201, true);
      std::string raw_comment_e(e->CommentLength, '\0');
      if (e->CommentLength && !in.read(raw_comment_e.data(), e->CommentLength))
        throw EZipArchiver(11022, true);
      e->FileComment = Convert(raw_comment_e, h.host, h.made_by, e->Flags);
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
      ReportEvent(ZA_ACT_EXTRA_PROGRESS, 0, 1, std::string());
      if (Cancel)
        throw EZipAbort();
    }
    unsigned char end[zf::kEndSize];
    if (!in.read(reinterpret_cast<char *>(end), sizeof end) || zf::le32(end) != zf::kEndSig)
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
  ReportEvent(ZA_ACT_END_BATCH, 0, 0, std::string());
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
    return ZA_CB_CONTINUE;
  int action = info->ActionCode & ZA_ACT_MASK;
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
    return ZA_CB_HANDLER_EXCEPTION;
  return w->Cancel ? ZA_CB_CANCEL : ZA_CB_CONTINUE;
}

void TZAWorker::Dispatch(ZCallBackStruct *info) {
  int action = info->ActionCode & ZA_ACT_MASK;
  std::string name = info->MsgP ? slashes_to_backslashes(info->MsgP) : std::string();
  switch (action) {
    case ZA_ACT_ABORT_VALUE:  // 18 the value that stops this call through ZA_Abort; no event
      SetAbortValue(info->Arg1);
      return;
    case ZA_ACT_TICK:            // 0 still working
    case ZA_ACT_NEW_ITEM:        // 1 an entry starts: name, size
    case ZA_ACT_PROGRESS:        // 2 bytes of the entry done
    case ZA_ACT_END_BATCH:       // 3 every entry done
    case ZA_ACT_MESSAGE:         // 4 a message and its code
    case ZA_ACT_TOTAL_FILES:     // 5 how many entries follow
    case ZA_ACT_TOTAL_SIZE:      // 6 how many bytes they hold
    case ZA_ACT_EXTRA_ITEM:      // 15 a step beside the entries starts: kind, size
    case ZA_ACT_EXTRA_PROGRESS:  // 16 bytes of that step done
      ForwardProgress(action, info, name);
      return;
    case ZA_ACT_NEW_NAME:  // 7 the name an added file is stored under; may be changed
      AnswerNewName(info, name);
      break;
    case ZA_ACT_PASSWORD:  // 8 the password of an encrypted entry
      AnswerPassword(info, name);
      break;
    case ZA_ACT_CRC_ERROR:  // 9 the data's checksum differs: keep it?
      AnswerCRC32Error(info, name);
      break;
    case ZA_ACT_OVERWRITE:  // 10 the file exists: overwrite it?
      AnswerOverwrite(info, name);
      break;
    case ZA_ACT_SKIPPED:  // 11 an entry was left out: reason, error
      ReportSkipped(info, name);
      break;
    case ZA_ACT_FILE_COMMENT:  // 12 an entry's comment; may be changed
      AnswerFileComment(info, name);
      break;
    case ZA_ACT_MEMORY_SIZE:  // 13 make the output memory this large
      AnswerMemorySize(info);
      break;
    case ZA_ACT_EXTRA_DATA:  // 14 an entry's extra field; may be changed
      AnswerFileExtra(info, name);
      break;
    case ZA_ACT_EXTRACT_NAME:  // 17 the name an entry is written under; may be changed
      AnswerExtName(info, name);
      break;
    default:  // 19 and up: unknown here, only the end of the report
      break;
  }
  ReportEvent(ZA_ACT_END_REPORT, 0, 0, std::string());
}

void TZAWorker::ForwardProgress(int action, const ZCallBackStruct *info, const std::string &name) {
  bool extra = action == ZA_ACT_EXTRA_ITEM || action == ZA_ACT_EXTRA_PROGRESS;
  int code = (action == ZA_ACT_MESSAGE || extra) ? info->Arg1 : 0;
  int64_t size = 0;
  if (action == ZA_ACT_TOTAL_FILES)
    size = info->Arg1;
  else if (action != ZA_ACT_TICK && action != ZA_ACT_MESSAGE)
    size = info->u.Size64;
  std::string text;
  if (action == ZA_ACT_NEW_ITEM || action == ZA_ACT_EXTRA_ITEM)
    text = name;
  else if (action == ZA_ACT_MESSAGE)
    text = info->MsgP ? info->MsgP : "";
  // An add operation counts its own item bytes.
  if (info->IsOperationZip && action >= ZA_ACT_NEW_ITEM && action <= ZA_ACT_END_BATCH) {
    Progress.ItemSize = info->ItemSize;
    Progress.ItemBytesDone = info->ItemPos;
  }
  ReportEvent(action, code, size, text);
}

void TZAWorker::AnswerNewName(ZCallBackStruct *info, const std::string &name) {
  if (Events.OnSetNewName) {
    std::string n = name;
    bool changed = false;
    Events.OnSetNewName(Sender, n, changed);
    if (changed) {
      copy_answer(info, n, 512);
      info->ActionCode = ZA_ANS_YES;
    }
  }
  if (info->Data && Events.OnSetAddName) {
    std::string n = name;
    bool changed = false;
    Events.OnSetAddName(Sender, n, slashes_to_backslashes(static_cast<const char *>(info->Data)), changed);
    if (changed) {
      copy_answer(info, n, 512);
      info->ActionCode = ZA_ANS_YES;
    }
  }
}

void TZAWorker::AnswerPassword(ZCallBackStruct *info, const std::string &name) {
  TMsgDlgBtn act = mbOK;
  unsigned repeat = static_cast<unsigned>(std::max(0, info->Arg1));
  std::string pw;
  bool zip_action = info->IsOperationZip != 0;
  if (Events.OnPasswordError) {
    Events.OnPasswordError(Sender, zip_action, pw, name, repeat, act);
    if (act != mbOK)
      pw.clear();
  } else if (Unattended) {
    ShowZipMessage(zip_action ? 10150 : 10151, std::string());
  } else {
    pw = zip_action ? GetAddPassword(act) : GetExtrPassword(act);
  }
  if (pw.empty()) {
    repeat = 0;
    info->ActionCode = ZA_ANS_NO;
  } else {
    copy_answer(info, pw, 80);
    info->ActionCode = ZA_ANS_YES;
  }
  info->Arg1 = static_cast<int32_t>(std::min(repeat, 15u));
  if (act == mbCancel)
    info->ActionCode = ZA_ANS_NO;
  else if (act == mbNoToAll)
    info->ActionCode = ZA_ANS_NO_TO_ALL;
  else if (act == mbAbort)
    Cancel = true;
}

void TZAWorker::AnswerCRC32Error(ZCallBackStruct *info, const std::string &name) {
  if (!Events.OnCRC32Error)
    return;
  bool extract = true;
  Events.OnCRC32Error(Sender, name, static_cast<uint32_t>(info->Arg1), static_cast<uint32_t>(info->Arg2),
                      extract);
  info->ActionCode = extract ? ZA_ANS_YES : ZA_ANS_NO_TO_ALL;
}

// Without a handler the library's own default answer stands.
void TZAWorker::AnswerOverwrite(ZCallBackStruct *info, const std::string &name) {
  if (!Events.OnExtractOverwrite)
    return;
  bool overwrite = info->Arg1 != 0;
  Events.OnExtractOverwrite(Sender, name, info->Older != 2, overwrite, info->Arg2);
  info->ActionCode = overwrite ? ZA_ANS_YES : ZA_ANS_NO;
}

void TZAWorker::ReportSkipped(const ZCallBackStruct *info, const std::string &name) {
  if (info->Arg1 != 0)
    FullErrCode = info->Arg1;
  int skip_type = (info->Arg2 & 0xFF) - 1;
  if (Events.OnExtractSkipped)
    Events.OnExtractSkipped(Sender, name, skip_type, info->Arg1 & 0xFF);
  else if (Events.OnMessage)
    Events.OnMessage(Sender, 10125, ZipFmtLoadStr(10126, {name, static_cast<long long>(skip_type)}));
}

void TZAWorker::AnswerFileComment(ZCallBackStruct *info, const std::string &name) {
  if (!Events.OnFileComment)
    return;
  std::string comment = info->Data ? static_cast<const char *>(info->Data) : "";
  bool changed = false;
  Events.OnFileComment(Sender, name, comment, changed);
  if (changed) {
    copy_answer(info, comment, 511);
    info->Arg1 = static_cast<int32_t>(std::min<size_t>(comment.size(), 511));
    info->ActionCode = ZA_ANS_YES;
  }
}

void TZAWorker::AnswerMemorySize(ZCallBackStruct *info) {
  int64_t want = info->u.Size64;
  try {
    if (want < 0 || want > INT32_MAX)
      throw std::bad_alloc();
    ZipStream.SetSize(static_cast<size_t>(want));
    info->Data = ZipStream.Memory();
    info->ActionCode = ZA_ANS_YES;
  } catch (const std::bad_alloc &) {
    info->ActionCode = ZA_ANS_NO;
    info->u.Size64 = 0;
  }
}

void TZAWorker::AnswerFileExtra(ZCallBackStruct *info, const std::string &name) {
  if (!Events.OnFileExtra)
    return;
  std::string extra;
  if (info->Data && info->Arg1 > 0)
    extra.assign(static_cast<const char *>(info->Data), static_cast<size_t>(info->Arg1));
  bool changed = false;
  Events.OnFileExtra(Sender, name, extra, changed);
  if (!changed)
    return;
  // A short field fits the answer buffer; any other goes back as the address of our copy,
  // which must outlive the callback.
  static thread_local std::string handed_back;
  if (!extra.empty() && extra.size() <= 511 && info->u.Answer) {
    std::memcpy(info->u.Answer, extra.data(), extra.size());
  } else {
    handed_back = extra;
    info->Data = handed_back.data();
  }
  info->Arg1 = static_cast<int32_t>(extra.size());
  info->ActionCode = ZA_ANS_YES;
}

// A new name is taken only when it differs and still says file or folder as the old one did.
void TZAWorker::AnswerExtName(ZCallBackStruct *info, const std::string &name) {
  if (!Events.OnSetExtName)
    return;
  std::string n = name;
  bool changed = false;
  Events.OnSetExtName(Sender, n, changed);
  auto ends_delim = [](const std::string &t) { return !t.empty() && (t.back() == '\\' || t.back() == '/'); };
  if (changed && n != name && ends_delim(n) == ends_delim(name)) {
    copy_answer(info, n, 512);
    info->ActionCode = ZA_ANS_YES;
  }
}
