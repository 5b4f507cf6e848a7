// TZAWorker: the library's callback, and the answer to each question it asks during an
// operation (names, passwords, overwrites, comments, memory, extra fields).
#include "zip/zawrkr.h"

#include "zip/ziputils.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The answer buffer of the library: at most 512 characters and a terminating zero.
void copy_answer(ZCallBackStruct *info, const std::string &text, size_t max_chars) {
  if (!info->u.Answer)
    return;
  size_t n = std::min({text.size(), max_chars, static_cast<size_t>(ZA_ANSWER_SIZE - 1)});
  std::memcpy(info->u.Answer, text.data(), n);
  info->u.Answer[n] = 0;
}

}  // namespace

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
