// TZADynamicBind: finds, loads and calls the unzip library KyUnzip179.
//
// The library lives while any bit of the usage mask is set: 1 a call or query is running,
// 2 an operation needs it, 4 the component keeps it loaded (Dll_Load). Clearing the last
// bit unloads it.
#pragma once

#include "ziplib/zarequest.h"
#include "platform/dynlib.h"
#include "zip/zacore.h"

#include <string>

class TZADynamicBind : public TZACore {
 public:
  static constexpr int kUseCall = 1, kUseOperation = 2, kUseKeep = 4;

  ~TZADynamicBind() override;

  // The library's file name on this system: "KyUnzip179.so" or "KyUnzip179.dll".
  static std::string LibraryName();
  // Where the library is taken from: DLLDirectory (relative to the program's directory when
  // it starts with "."), else beside the executable, else the plain name for the system's
  // own search.
  std::string FindLibrary() const;

  // Sets/clears usage bits; loading failures raise EZipArchiver 10650 or 10651.
  void Use(int bits);
  void Release(int bits);
  bool IsLoaded() const { return lib_.IsOpen(); }

  // Runs ZA_UnzExec under the call bit; negative results raise (10118..10124).
  int CallUnzExec(UnzipRequest *request);
  // Sets the cancel flag and, when loaded, asks the library to stop its running call.
  void AbortDll();
  // The value the library announced for ZA_Abort (callback action 18).
  void SetAbortValue(int32_t v) { abort_value_ = v; }

  // Queries; each loads the library for the query when it is not loaded.
  int DllBuild();
  std::string DllPath();
  // " %d.%2.2d.%2.2d.%2.2d " when loaded, "[...]" when loaded just for the query, "" on failure.
  std::string DllVersion();

  std::string DLLDirectory;

 private:
  void Load();
  void Unload();
  int RaiseForResult(int result);

  DynLib lib_;
  std::string loaded_path_;
  int usage_ = 0;
  int32_t abort_value_ = 0;
  ZA_UnzExecFn unz_exec_ = nullptr;
  ZA_ZipExecFn zip_exec_ = nullptr;
  ZA_VersionFn version_ = nullptr;
  ZA_PrivVersionFn priv_version_ = nullptr;
  ZA_AbortFn abort_ = nullptr;
  ZA_PathFn path_ = nullptr;
};
