// KyUnzip179: the unzip library the archive component loads at run time. It reads the
// archive's central directory on its own (the component's copy is not shared across the
// C interface), extracts stored and deflated entries with zlib, decrypts traditional
// PKWARE encryption, and talks back only through the request's callback.
//
// Safety rules that hold for every entry, whatever the request asks:
// - nothing is written outside the base directory: names that are absolute, carry a drive
//   letter or a ".." component are refused with a message, never rewritten;
// - an entry is written to a fresh temporary file beside its target and renamed over the
//   target only when its size and CRC-32 check out, so a damaged entry never leaves a
//   half-written or corrupt file, and an existing file is never truncated by a failure;
// - no symbolic link is followed below the base folder, and a base folder that is a link is
//   refused (ZaOutDir);
// - an archive whose entries share bytes, or that holds more entries or bytes than an image
//   ever does or the disk has room for, is refused as a whole before anything is written.
#include "ziplib/zaentries.h"
#include "ziplib/zaoem.h"
#include "platform/outdir.h"
#include "ziplib/zarequest.h"
#include "platform/selfpath.h"
#include "ziplib/zawild.h"
#include "ziplib/zipformat.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int32_t kPrivBuild = 1791032;
constexpr size_t kChunk = 256 * 1024;
// An image holds a handful of partitions; these bounds are far above any real one and far
// below what fills a disk or a folder.
constexpr size_t kMaxEntries = 1000;
constexpr uint64_t kMaxTotalBytes = uint64_t(1) << 30;

// ZA_Abort names the call to stop by the value the library announced in action 18, so a
// stale abort from an earlier call cannot stop a new one.
std::atomic<int32_t> g_abort_value{0};
std::atomic<int32_t> g_abort_requested{0};
std::atomic<int32_t> g_next_abort_value{0x5A00};

// Ends the call early; the result is the value ZA_UnzExec returns.
struct Stop {
  int32_t result;
};

// Traditional PKWARE encryption (APPNOTE 6.1).
class ZipCrypto {
 public:
  explicit ZipCrypto(const std::string &password) {
    for (unsigned char c : password)
      update(c);
  }
  void decrypt(unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      unsigned temp = (keys_[2] & 0xFFFF) | 2;
      p[i] ^= static_cast<unsigned char>(((temp * (temp ^ 1)) >> 8) & 0xFF);
      update(p[i]);
    }
  }

 private:
  void update(unsigned char c) {
    const z_crc_t *table = get_crc_table();
    keys_[0] = table[(keys_[0] ^ c) & 0xFF] ^ (keys_[0] >> 8);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = table[(keys_[2] ^ (keys_[1] >> 24)) & 0xFF] ^ (keys_[2] >> 8);
  }
  uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

std::time_t dos_to_time(uint16_t date, uint16_t time) {
  std::tm tm{};
  tm.tm_year = ((date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = (time >> 11) & 0x1F;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// A name is safe when it is relative and stays below the base directory.
bool safe_relative_name(const std::string &name) {
  if (name.empty() || name.find('\0') != std::string::npos)
    return false;
  if (name[0] == '/')
    return false;
  if (name.size() >= 2 && name[1] == ':')
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos)
      end = name.size();
    std::string part = name.substr(start, end - start);
    if (part == "..")
      return false;
    start = end + 1;
  }
  return true;
}

class Session {
 public:
  explicit Session(UnzipRequest *req) : req_(req) {
    answer_.resize(ZA_ANSWER_SIZE);
    abort_value_ = ++g_next_abort_value;
    g_abort_value = abort_value_;
    g_abort_requested = 0;
  }
  ~Session() { g_abort_value = 0; }

  int32_t run();

 private:
  // Calls back; the callback's own result stops the call when non-zero.
  ZCallBackStruct &prepare(int action) {
    std::memset(&cb_, 0, sizeof cb_);
    cb_.Handle = req_->Handle;
    cb_.Caller = req_->Caller;
    cb_.ActionCode = action;
    return cb_;
  }
  void fire() {
    int32_t r = req_->Callback ? req_->Callback(req_->Caller, &cb_) : 0;
    if (r == ZA_CB_HANDLER_EXCEPTION)
      throw Stop{ZA_RES_HANDLER_EXCEPTION};
    if (r != ZA_CB_CONTINUE)
      cancelled_ = true;
    if (g_abort_requested.load() && g_abort_value.load() == abort_value_)
      cancelled_ = true;
  }
  void check_cancel() {
    if (cancelled_)
      throw Stop{ZA_RES_CANCELLED};
  }
  void message(int32_t code, const std::string &text) {
    auto &cb = prepare(ZA_ACT_MESSAGE);
    cb.Arg1 = code;
    cb.MsgP = text.c_str();
    fire();
  }
  void verbose(const std::string &text) {
    if (req_->fVerbose || req_->fTraceEnabled)
      message(0, text);
  }
  void skipped(const std::string &name, int reason, int32_t code) {
    auto &cb = prepare(ZA_ACT_SKIPPED);
    cb.Arg1 = code;
    cb.Arg2 = reason + 1;
    cb.MsgP = name.c_str();
    fire();
  }
  void progress(int action, int64_t size, const char *text = nullptr) {
    auto &cb = prepare(action);
    cb.u.Size64 = size;
    cb.MsgP = text;
    fire();
  }

  std::string converted_name(const ZaEntry &e) const {
    std::string n = e.name;
    if (zaoem::needs_oem_conversion(req_->CodePage, e.host, e.made_by, e.flags))
      n = zaoem::oem_to_utf8(n);
    for (char &c : n)
      if (c == '\\')
        c = '/';
    return n;
  }
  bool selected(const std::string &name) const {
    if (req_->SpecCount <= 0 || !req_->Specs)
      return true;
    for (int i = 0; i < req_->SpecCount; ++i) {
      const char *spec = req_->Specs[i].FileSpec;
      if (spec && zawild::match(spec, name))
        return true;
    }
    return false;
  }

  int32_t run_archive();
  int32_t run_memory_to_memory();
  bool extract_entry(const ZaEntry &e, const std::string &name, int index);
  bool refuse(const std::string &stored, int32_t code, const std::string &text, int reason);
  std::string shown_target(const std::string &rel) const;
  // The name an entry is written under, below the base: checked, without its folders unless
  // they are kept, and as the caller's rename callback may change it. False when refused.
  bool output_name(const std::string &stored, bool is_dir, std::string &rel);
  bool supported(const ZaEntry &e, const std::string &stored);
  // Whether the file at the entry's name may be (re)placed; asks the caller when the request
  // does not say. False (the entry skipped) when not.
  bool may_write(const ZaEntry &e, const std::string &stored, const std::string &rel, int index);
  const std::string *entry_password(const ZaEntry &e, const std::string &stored, uint64_t offset);
  void size_memory(const ZaEntry &e);
  // A checksum mismatch is reported; the caller's handler may keep the data anyway.
  bool keep_despite_crc(const ZaEntry &e, const std::string &stored, uint32_t crc);
  bool write_entry(const ZaEntry &e, const std::string &stored, const std::string &rel, uint64_t offset,
                   const std::string *pw);
  // Where an entry's local header and data end, as its local header tells.
  uint64_t span_end(const ZaEntry &e);
  // Entries that share bytes with each other or with the directory are how a small archive
  // unpacks into gigabytes: one compressed blob named by many entries.
  bool entries_apart(const std::vector<ZaEntry> &entries, const std::vector<std::string> &names,
                     uint64_t cd_start);
  bool within_limits(const std::vector<ZaEntry> &entries, const std::vector<std::string> &names,
                     const std::vector<size_t> &chosen, uint64_t cd_start);
  bool open_output();
  bool password_for(const ZaEntry &e, const std::string &name, uint64_t offset,
                    const unsigned char header[12]);
  // Decodes the whole entry with `pw`, writing nothing: the check byte of the encryption
  // header lets one wrong password in 256 through, and such a password must be asked
  // again rather than fail the entry as damaged.
  bool password_decodes(const ZaEntry &e, const std::string &name, uint64_t offset, const std::string &pw);
  // Streams the entry's data through `sink`; returns false (after a message) on a damaged entry.
  template <class Sink>
  bool decode(const ZaEntry &e, const std::string &name, uint64_t data_offset, const std::string *password,
              Sink &&sink, uint32_t &crc_out, uint64_t &size_out);
  // The entry's local header with its name and extra field; 0 when it is unreadable or not one.
  size_t local_header_size(const ZaEntry &e);
  uint64_t data_offset(const ZaEntry &e, const std::string &name);

  UnzipRequest *req_;
  ZCallBackStruct cb_{};
  std::vector<char> answer_;
  int32_t abort_value_ = 0;
  bool cancelled_ = false;
  bool quiet_ = false;  // no messages while a password is being verified
  std::ifstream in_;
  uint64_t file_size_ = 0;
  std::string password_;
  bool no_more_passwords_ = false;
  std::vector<unsigned char> inbuf_, outbuf_;
  bool writing_ = false;  // entries go to files (not tested only, not to memory)
  ZaOutDir out_dir_;
};

size_t Session::local_header_size(const ZaEntry &e) {
  unsigned char lh[zipformat::kLocalSize];
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(e.local_offset));
  if (!in_.read(reinterpret_cast<char *>(lh), sizeof lh))
    return 0;
  return zipformat::local_header_size(lh);
}

uint64_t Session::data_offset(const ZaEntry &e, const std::string &name) {
  size_t header = local_header_size(e);
  if (!header) {
    message(ZA_CODE(ZA_ERR_FORMAT, 11014), "A local header signature is wrong: '" + name + "'");
    return 0;
  }
  uint64_t off = e.local_offset + header;
  if (off + e.csize > file_size_) {
    message(ZA_CODE(ZA_ERR_FORMAT, 11021), "Error while reading zipped data: '" + name + "' is truncated");
    return 0;
  }
  return off;
}

template <class Sink>
bool Session::decode(const ZaEntry &e, const std::string &name, uint64_t offset, const std::string *password,
                     Sink &&sink, uint32_t &crc_out, uint64_t &size_out) {
  std::unique_ptr<ZipCrypto> crypto;
  uint64_t left = e.csize;
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  if (password) {
    unsigned char header[12];
    if (left < 12 || !in_.read(reinterpret_cast<char *>(header), 12)) {
      message(ZA_CODE(ZA_ERR_FORMAT, 11021), "Error while reading zipped data: '" + name + "'");
      return false;
    }
    crypto = std::make_unique<ZipCrypto>(*password);
    crypto->decrypt(header, 12);
    left -= 12;
  }
  uint32_t crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  auto bad_data = [&](const char *why) {
    if (!quiet_)
      message(ZA_CODE(ZA_ERR_FORMAT, 11021),
              std::string("Error while reading zipped data: '") + name + "' " + why);
    return false;
  };
  auto read_some = [&](size_t want) -> size_t {
    size_t n = static_cast<size_t>(std::min<uint64_t>(want, left));
    if (n && !in_.read(reinterpret_cast<char *>(inbuf_.data()), static_cast<std::streamsize>(n)))
      return SIZE_MAX;
    if (crypto)
      crypto->decrypt(inbuf_.data(), n);
    left -= n;
    return n;
  };
  if (e.method == 0) {
    while (left > 0) {
      size_t n = read_some(kChunk);
      if (n == SIZE_MAX)
        return bad_data("is truncated");
      crc = crc32(crc, inbuf_.data(), static_cast<uInt>(n));
      total += n;
      if (!sink(inbuf_.data(), n))
        return false;
    }
  } else {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
      throw Stop{ZA_RES_NO_MEMORY};
    std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&zs, inflateEnd);
    int ret = Z_OK;
    while (ret != Z_STREAM_END) {
      if (zs.avail_in == 0) {
        if (left == 0)
          return bad_data("ends before its compressed data does");
        size_t n = read_some(kChunk);
        if (n == SIZE_MAX)
          return bad_data("is truncated");
        zs.next_in = inbuf_.data();
        zs.avail_in = static_cast<uInt>(n);
      }
      zs.next_out = outbuf_.data();
      zs.avail_out = static_cast<uInt>(outbuf_.size());
      ret = inflate(&zs, Z_NO_FLUSH);
      if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_STREAM_ERROR)
        return bad_data("has corrupt compressed data");
      if (ret == Z_MEM_ERROR)
        throw Stop{ZA_RES_NO_MEMORY};
      size_t produced = outbuf_.size() - zs.avail_out;
      if (total + produced > e.usize)
        return bad_data("inflates beyond its stored size");
      crc = crc32(crc, outbuf_.data(), static_cast<uInt>(produced));
      total += produced;
      if (produced && !sink(outbuf_.data(), produced))
        return false;
    }
  }
  crc_out = crc;
  size_out = total;
  return true;
}

bool Session::password_decodes(const ZaEntry &e, const std::string &name, uint64_t offset,
                               const std::string &pw) {
  quiet_ = true;
  uint32_t crc = 0;
  uint64_t size = 0;
  bool ok = decode(
      e, name, offset, &pw, [](const unsigned char *, size_t) { return true; }, crc, size);
  quiet_ = false;
  return ok && size == e.usize && crc == e.crc;
}

bool Session::password_for(const ZaEntry &e, const std::string &name, uint64_t offset,
                           const unsigned char raw_header[12]) {
  // The last header byte decrypts to the high byte of the CRC, or of the time when the
  // sizes follow the data (bit 3). One byte lets 1 in 256 wrong passwords through, so a
  // password that passes it is proven by decoding the entry before it is used.
  unsigned char want =
      (e.flags & 0x08) ? static_cast<unsigned char>(e.time >> 8) : static_cast<unsigned char>(e.crc >> 24);
  auto fits = [&](const std::string &pw) {
    unsigned char h[12];
    std::memcpy(h, raw_header, 12);
    ZipCrypto c(pw);
    c.decrypt(h, 12);
    return h[11] == want && password_decodes(e, name, offset, pw);
  };
  if (!password_.empty() && fits(password_))
    return true;
  if (no_more_passwords_)
    return false;
  int repeat = req_->PwdReqCount < 1 ? 1 : (req_->PwdReqCount > 15 ? 15 : req_->PwdReqCount);
  while (repeat > 0) {
    auto &cb = prepare(ZA_ACT_PASSWORD);
    cb.Arg1 = repeat;
    cb.MsgP = name.c_str();
    answer_.assign(ZA_ANSWER_SIZE, 0);
    cb.u.Answer = answer_.data();
    fire();
    check_cancel();
    int32_t ans = cb_.ActionCode;
    if (ans == ZA_ANS_NO_TO_ALL) {
      no_more_passwords_ = true;
      return false;
    }
    if (ans != ZA_ANS_YES)
      return false;
    answer_[ZA_ANSWER_SIZE - 1] = 0;
    std::string pw(answer_.data());
    if (!pw.empty() && fits(pw)) {
      password_ = pw;
      return true;
    }
    repeat = std::min(repeat - 1, cb_.Arg1 > 0 ? cb_.Arg1 - 1 : 0);
  }
  return false;
}

// A refused entry: its message, then the skip with its reason. Always false.
bool Session::refuse(const std::string &stored, int32_t code, const std::string &text, int reason) {
  message(code, text);
  skipped(stored, reason, code);
  return false;
}

std::string Session::shown_target(const std::string &rel) const {
  return (fs::path(out_dir_.shown().empty() ? "." : out_dir_.shown()) / fs::path(rel)).string();
}

bool Session::output_name(const std::string &stored, bool is_dir, std::string &rel) {
  if (!safe_relative_name(stored))
    return refuse(stored, ZA_CODE(ZA_ERR_NAME, 11350), "Invalid name '" + stored + "'", ZA_SKIP_BAD_NAME);
  rel = req_->fDirectories ? stored : stored.substr(stored.rfind('/') + 1);
  if (!writing_ || is_dir)
    return true;
  auto &cb = prepare(ZA_ACT_EXTRACT_NAME);
  cb.MsgP = rel.c_str();
  answer_.assign(ZA_ANSWER_SIZE, 0);
  cb.u.Answer = answer_.data();
  fire();
  check_cancel();
  if (cb_.ActionCode != ZA_ANS_YES)
    return true;
  answer_[ZA_ANSWER_SIZE - 1] = 0;
  std::string renamed(answer_.data());
  for (char &c : renamed)
    if (c == '\\')
      c = '/';
  if (!safe_relative_name(renamed) || renamed.back() == '/')
    return refuse(stored, ZA_CODE(ZA_ERR_NAME, 11350), "Invalid name '" + renamed + "'", ZA_SKIP_BAD_NAME);
  rel = renamed;
  return true;
}

bool Session::supported(const ZaEntry &e, const std::string &stored) {
  if (e.method != 0 && e.method != 8)
    return refuse(stored, ZA_CODE(ZA_ERR_METHOD, 11351),
                  "unsupported compression for '" + stored + "' (method " + std::to_string(e.method) + ")",
                  ZA_SKIP_METHOD);
  if ((e.flags & 0x41) == 0x41 || e.csize == 0xFFFFFFFFu || e.usize == 0xFFFFFFFFu)
    return refuse(stored, ZA_CODE(ZA_ERR_METHOD, 11351),
                  "unsupported compression for '" + stored + "' (strong encryption or Zip64)",
                  ZA_SKIP_METHOD);
  return true;
}

bool Session::may_write(const ZaEntry &e, const std::string &stored, const std::string &rel, int index) {
  std::time_t disk = 0;
  ZaOutDir::Kind kind = out_dir_.kind_of(rel, &disk);
  if (kind == ZaOutDir::kDir)
    return refuse(stored, ZA_CODE(ZA_ERR_WRITE, 11009),
                  "Creation of output file failed: '" + shown_target(rel) + "' is a directory",
                  ZA_SKIP_WRITE);
  bool exists = kind == ZaOutDir::kFile;
  std::time_t entry = dos_to_time(e.date, e.time);
  if (!exists && req_->fFreshen && !req_->fUpdate) {
    skipped(stored, ZA_SKIP_FRESHEN, 0);
    return false;
  }
  if (exists && (req_->fFreshen || req_->fUpdate) && disk >= entry - 2) {
    skipped(stored, ZA_SKIP_NOT_NEWER, 0);
    return false;
  }
  if (exists && !req_->fOverwrite) {
    auto &cb = prepare(ZA_ACT_OVERWRITE);
    cb.MsgP = stored.c_str();
    cb.Arg1 = 0;
    cb.Arg2 = index;
    cb.Older = disk >= entry ? 2 : 0;
    fire();
    check_cancel();
    if (cb_.ActionCode != ZA_ANS_YES) {
      skipped(stored, ZA_SKIP_NO_OVERWRITE, 0);
      return false;
    }
  }
  return true;
}

const std::string *Session::entry_password(const ZaEntry &e, const std::string &stored, uint64_t offset) {
  unsigned char header[12];
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  if (e.csize < 12 || !in_.read(reinterpret_cast<char *>(header), 12)) {
    refuse(stored, ZA_CODE(ZA_ERR_FORMAT, 11021), "Error while reading zipped data: '" + stored + "'",
           ZA_SKIP_FORMAT);
    return nullptr;
  }
  if (!password_for(e, stored, offset, header)) {
    refuse(stored, ZA_CODE(ZA_ERR_PASSWORD, 0), "No valid password for '" + stored + "'", ZA_SKIP_PASSWORD);
    return nullptr;
  }
  return &password_;
}

void Session::size_memory(const ZaEntry &e) {
  if (e.usize <= req_->OutSize)
    return;
  auto &cb = prepare(ZA_ACT_MEMORY_SIZE);
  cb.u.Size64 = e.usize;
  fire();
  if (cb_.ActionCode != ZA_ANS_YES || !cb_.Data)
    throw Stop{ZA_RES_NO_MEMORY};
  req_->OutBuf = cb_.Data;
  req_->OutSize = static_cast<uint32_t>(e.usize);
}

bool Session::keep_despite_crc(const ZaEntry &e, const std::string &stored, uint32_t crc) {
  auto &cb = prepare(ZA_ACT_CRC_ERROR);
  cb.MsgP = stored.c_str();
  cb.Arg1 = static_cast<int32_t>(crc);
  cb.Arg2 = static_cast<int32_t>(e.crc);
  cb.ActionCode = ZA_ACT_CRC_ERROR;
  fire();
  bool keep = cb_.ActionCode == ZA_ANS_YES;
  check_cancel();
  char text[160];
  std::snprintf(text, sizeof text, "' (found %08X, expected %08X)", static_cast<unsigned>(crc),
                static_cast<unsigned>(e.crc));
  message(ZA_CODE(ZA_ERR_CRC, 0), "CRC error in '" + stored + text);
  if (!keep)
    skipped(stored, ZA_SKIP_CRC, ZA_CODE(ZA_ERR_CRC, 0));
  return keep;
}

bool Session::write_entry(const ZaEntry &e, const std::string &stored, const std::string &rel,
                          uint64_t offset, const std::string *pw) {
  // Where the bytes go: a temporary file beside the target, memory, or nowhere (test).
  ZaOutFile out;
  if (writing_ && !out.create(out_dir_, rel))
    return refuse(stored, ZA_CODE(ZA_ERR_WRITE, 11009),
                  "Creation of output file failed: '" + shown_target(rel) + "'", ZA_SKIP_WRITE);
  bool to_memory = req_->fToMemory != 0;
  if (to_memory)
    size_memory(e);
  uint64_t mem_pos = 0;
  bool write_failed = false;
  auto sink = [&](const unsigned char *p, size_t n) {
    if (out.stream() && std::fwrite(p, 1, n, out.stream()) != n) {
      write_failed = true;
      return false;
    }
    if (to_memory) {
      if (mem_pos + n > req_->OutSize)
        return false;
      std::memcpy(static_cast<unsigned char *>(req_->OutBuf) + mem_pos, p, n);
      mem_pos += n;
    }
    progress(ZA_ACT_PROGRESS, static_cast<int64_t>(n));
    return !cancelled_;
  };
  uint32_t crc = 0;
  uint64_t size = 0;
  bool ok = decode(e, stored, offset, pw, sink, crc, size);
  check_cancel();
  if (!ok && write_failed)
    return refuse(stored, ZA_CODE(ZA_ERR_WRITE, 11010),
                  "Write error in output file '" + shown_target(rel) + "'", ZA_SKIP_WRITE);
  if (!ok) {
    skipped(stored, ZA_SKIP_FORMAT, ZA_CODE(ZA_ERR_FORMAT, 11021));
    return false;
  }
  if (size != e.usize)
    return refuse(stored, ZA_CODE(ZA_ERR_FORMAT, 11021),
                  "Error while reading zipped data: '" + stored + "' has " + std::to_string(size) +
                      " bytes, the directory says " + std::to_string(e.usize),
                  ZA_SKIP_FORMAT);
  if (crc != e.crc && !keep_despite_crc(e, stored, crc))
    return false;
  if (writing_) {
    ZaOutFile::Result r = out.commit(dos_to_time(e.date, e.time));
    if (r == ZaOutFile::kWriteFailed)
      return refuse(stored, ZA_CODE(ZA_ERR_WRITE, 11010),
                    "Write error in output file '" + shown_target(rel) + "'", ZA_SKIP_WRITE);
    if (r != ZaOutFile::kOk)
      return refuse(stored, ZA_CODE(ZA_ERR_WRITE, 11009),
                    "Creation of output file failed: '" + shown_target(rel) + "'", ZA_SKIP_WRITE);
  }
  return true;
}

bool Session::extract_entry(const ZaEntry &e, const std::string &stored, int index) {
  bool is_dir = !stored.empty() && stored.back() == '/';
  std::string rel;
  if (!output_name(stored, is_dir, rel))
    return false;
  if (is_dir) {
    // Folders are dropped together with the folder part of each name unless names are kept.
    if (writing_ && req_->fDirectories)
      out_dir_.make_dirs(rel);
    return false;
  }
  if (!supported(e, stored) || (writing_ && !may_write(e, stored, rel, index)))
    return false;
  uint64_t offset = data_offset(e, stored);
  if (!offset) {
    skipped(stored, ZA_SKIP_FORMAT, ZA_CODE(ZA_ERR_FORMAT, 11014));
    return false;
  }
  const std::string *pw = nullptr;
  if ((e.flags & 1) && !(pw = entry_password(e, stored, offset)))
    return false;
  progress(ZA_ACT_NEW_ITEM, e.usize, stored.c_str());
  check_cancel();
  if (!write_entry(e, stored, rel, offset, pw))
    return false;
  verbose((req_->fTest ? "  testing: " : "inflating: ") + stored);
  return true;
}

uint64_t Session::span_end(const ZaEntry &e) {
  size_t header = local_header_size(e);
  if (!header)
    return e.local_offset + zipformat::kLocalSize;  // the entry itself reports its damaged header
  return e.local_offset + header + e.csize;
}

bool Session::entries_apart(const std::vector<ZaEntry> &entries, const std::vector<std::string> &names,
                            uint64_t cd_start) {
  std::vector<std::pair<uint64_t, size_t>> starts;  // local header offset, entry
  std::vector<uint64_t> ends(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    starts.emplace_back(entries[i].local_offset, i);
    ends[i] = span_end(entries[i]);
  }
  std::sort(starts.begin(), starts.end());
  uint64_t reach = 0;  // furthest end of the entries before this one
  size_t reacher = 0;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t i = starts[k].second;
    if (k > 0 && starts[k].first < reach) {
      message(ZA_CODE(ZA_ERR_FORMAT, 11353),
              "Overlapping entries '" + names[reacher] + "' and '" + names[i] + "'");
      return false;
    }
    if (ends[i] > cd_start) {
      message(ZA_CODE(ZA_ERR_FORMAT, 11354), "Entry '" + names[i] + "' overlaps the central directory");
      return false;
    }
    if (ends[i] > reach) {
      reach = ends[i];
      reacher = i;
    }
  }
  return true;
}

bool Session::within_limits(const std::vector<ZaEntry> &entries, const std::vector<std::string> &names,
                            const std::vector<size_t> &chosen, uint64_t cd_start) {
  if (entries.size() > kMaxEntries) {
    message(ZA_CODE(ZA_ERR_LIMIT, 11352), "Too many entries: " + std::to_string(entries.size()) +
                                              ", at most " + std::to_string(kMaxEntries) + " are extracted");
    return false;
  }
  if (!entries_apart(entries, names, cd_start))
    return false;
  if (!writing_)
    return true;
  uint64_t total = 0;
  for (size_t i : chosen)
    total += entries[i].usize;
  if (total > kMaxTotalBytes) {
    message(ZA_CODE(ZA_ERR_LIMIT, 11355), "Too much data to extract: " + std::to_string(total) +
                                              " bytes, at most " + std::to_string(kMaxTotalBytes));
    return false;
  }
  uint64_t free = out_dir_.free_bytes();
  if (total > free) {
    message(ZA_CODE(ZA_ERR_WRITE, 11032),
            "This disk has not enough free space available: " + std::to_string(total) +
                " bytes to extract, " + std::to_string(free) + " free in '" + shown_target("") + "'");
    return false;
  }
  return true;
}

bool Session::open_output() {
  bool is_link = false;
  std::string base = req_->ExtractDir ? req_->ExtractDir : "";
  if (out_dir_.open(base, is_link))
    return true;
  if (is_link)
    message(ZA_CODE(ZA_ERR_WRITE, 10505), "Extract directory '" + base + "' is a symbolic link");
  else
    message(ZA_CODE(ZA_ERR_WRITE, 10504), "Extract directory '" + base + "' must exist");
  return false;
}

int32_t Session::run_archive() {
  if (!req_->ZipFileName || !*req_->ZipFileName) {
    message(ZA_CODE(ZA_ERR_OPEN, 10102), "Error - no zip file specified!");
    return ZA_RES_STRUCTURE;
  }
  std::string zip_name = req_->ZipFileName;
  in_.open(fs::path(zip_name), std::ios::binary);
  if (!in_) {
    message(ZA_CODE(ZA_ERR_OPEN, 11002), "Zip file could not be opened: '" + zip_name + "'");
    return ZA_RES_STRUCTURE;
  }
  in_.seekg(0, std::ios::end);
  file_size_ = static_cast<uint64_t>(in_.tellg());
  std::vector<ZaEntry> entries;
  std::string why;
  uint64_t cd_start = 0;
  if (!za_read_directory(in_, file_size_, entries, why, &cd_start)) {
    message(ZA_CODE(ZA_ERR_OPEN, 11036),
            "This archive is not a valid Zip archive: '" + zip_name + "' (" + why + ")");
    return ZA_RES_STRUCTURE;
  }

  std::vector<size_t> chosen;
  std::vector<std::string> names(entries.size());
  uint64_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    names[i] = converted_name(entries[i]);
    if (!selected(names[i]))
      continue;
    if (req_->fToMemory && !chosen.empty())
      continue;  // memory output takes exactly one entry
    chosen.push_back(i);
    total += entries[i].usize;
  }
  // The whole archive is refused before anything is written, so a refusal leaves nothing.
  writing_ = !req_->fTest && !req_->fToMemory;
  if ((writing_ && !open_output()) || !within_limits(entries, names, chosen, cd_start))
    return 0;
  {
    auto &cb = prepare(ZA_ACT_TOTAL_FILES);
    cb.Arg1 = static_cast<int32_t>(chosen.size());
    fire();
  }
  progress(ZA_ACT_TOTAL_SIZE, static_cast<int64_t>(total));
  check_cancel();
  if (chosen.empty() && req_->SpecCount > 0) {
    message(ZA_CODE(ZA_ERR_NO_MATCH, 11454), "no files found");
  }
  int32_t done = 0;
  for (size_t i : chosen) {
    if (extract_entry(entries[i], names[i], static_cast<int>(i)))
      ++done;
    check_cancel();
  }
  progress(ZA_ACT_END_BATCH, 0);
  return done;
}

int32_t Session::run_memory_to_memory() {
  if (!req_->InBuf || !req_->OutBuf) {
    message(ZA_CODE(ZA_ERR_OPEN, 0), "No input or output buffer");
    return ZA_RES_STRUCTURE;
  }
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
    return ZA_RES_NO_MEMORY;
  std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&zs, inflateEnd);
  zs.next_in = static_cast<Bytef *>(const_cast<void *>(req_->InBuf));
  zs.avail_in = req_->InSize;
  zs.next_out = static_cast<Bytef *>(req_->OutBuf);
  zs.avail_out = req_->OutSize;
  progress(ZA_ACT_NEW_ITEM, req_->OutSize, "");
  int ret = inflate(&zs, Z_FINISH);
  if (ret != Z_STREAM_END) {
    message(ZA_CODE(ZA_ERR_FORMAT, 11021),
            "Error while reading zipped data: the stream is damaged or larger than " +
                std::to_string(req_->OutSize) + " bytes");
    return 0;
  }
  progress(ZA_ACT_PROGRESS, static_cast<int64_t>(zs.total_out));
  progress(ZA_ACT_END_BATCH, 0);
  return 1;
}

int32_t Session::run() {
  try {
    inbuf_.resize(kChunk);
    outbuf_.resize(kChunk);
    auto &cb = prepare(ZA_ACT_ABORT_VALUE);
    cb.Arg1 = abort_value_;
    fire();
    password_ = req_->PWord ? req_->PWord : "";
    if (req_->fFromMemory)
      return run_memory_to_memory();
    return run_archive();
  } catch (const Stop &s) {
    return s.result;
  } catch (const std::bad_alloc &) {
    return ZA_RES_NO_MEMORY;
  } catch (...) {
    return ZA_RES_ABORTED;
  }
}

}  // namespace

extern "C" {

ZA_EXPORT int32_t ZA_CALL ZA_UnzExec(UnzipRequest *request) {
  if (!request || request->Version < ZA_VERSION_MIN)
    return ZA_RES_STRUCTURE;
  try {
    Session session(request);
    return session.run();
  } catch (...) {
    return ZA_RES_ABORTED;
  }
}

// This library only extracts; the add side of the interface answers with a message.
ZA_EXPORT int32_t ZA_CALL ZA_ZipExec(void *request) {
  (void)request;
  return ZA_RES_STRUCTURE;
}

ZA_EXPORT int32_t ZA_CALL ZA_Version(void) { return ZA_INTERFACE_VERSION; }

ZA_EXPORT int32_t ZA_CALL ZA_PrivVersion(void) { return kPrivBuild; }

ZA_EXPORT int32_t ZA_CALL ZA_Abort(int32_t abort_value) {
  if (abort_value != 0 && abort_value == g_abort_value.load())
    g_abort_requested = 1;
  return 0;
}

ZA_EXPORT const char *ZA_CALL ZA_Path(void) { return za_self_path(); }
}
