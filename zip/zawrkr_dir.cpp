// TZAWorker: reading an archive's central directory (List) and telling what a file is
// (QueryZip).
#include "zip/zawrkr.h"

#include "ziplib/zaoem.h"
#include "ziplib/zipformat.h"
#include "zip/ziputils.h"

#include <algorithm>
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

}  // namespace

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
