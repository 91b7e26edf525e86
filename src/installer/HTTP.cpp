#include "installer/HTTP.h"

#include <urlmon.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cwctype>

#include "base/ComTypes.h"
#include "base/SystemFunction.h"
#include "base/Text.h"
#include "errortrap/Procedure.h"
#include "installer/InstallerSettings.h"
#include "support/CommonLogger.h"
#include "support/MessageLoop.h"

namespace tamberlux {

using vbw::Var;

namespace {

constexpr ULONGLONG kShowProgressAfterMs = 500;
constexpr int kTextId = 0xFFFF;
constexpr DWORD kLetGoMs = 1000;  // how long a cancelled download may hold its file

// The small window a long download shows: which file, how much of it, Cancel.
class ProgressWindow {
 public:
  ProgressWindow(const std::wstring& productName, const std::wstring& file) : product_(productName), file_(file) {}

  bool Cancelled() const { return cancelled_; }

  void Update(ULONG received, ULONG total) {
    received_ = received;
    total_ = total;
    ++ticks_;
    if (!window_ && GetTickCount64() - started_ >= kShowProgressAfterMs) Create();
    if (!window_) return;
    const std::wstring text = L"Downloading " + file_ + L": " + std::to_wstring(received_ / 1024) + L" KB" +
                              (total_ ? L" of " + std::to_wstring(total_ / 1024) + L" KB" : std::wstring());
    SetDlgItemTextW(window_.Get(), kTextId, text.c_str());
    InvalidateRect(window_.Get(), nullptr, TRUE);
    // Only this window's messages, and only those already there (not
    // PumpMessagesUntil): the download's own machinery is not re-entered.
    MSG msg;
    while (window_ && PeekMessageW(&msg, window_.Get(), 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageW(window_.Get(), &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }

 private:
  void Create() {
    // An empty dialog template; the controls are added below.
    alignas(DWORD) WORD tmpl[16] = {};
    auto* dlg = reinterpret_cast<DLGTEMPLATE*>(tmpl);
    dlg->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    dlg->cx = 220;
    dlg->cy = 60;
    window_.Reset(CreateDialogIndirectParamW(nullptr, dlg, nullptr, &Proc, reinterpret_cast<LPARAM>(this)));
    if (!window_) return;
    const std::wstring title = product_ + L" is downloading core library files";
    SetWindowTextW(window_.Get(), title.c_str());
    SetWindowPos(window_.Get(), HWND_TOP, 0, 0, 400, 150, SWP_NOMOVE);
    CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 12, 10, 370, 20, window_.Get(),
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), nullptr, nullptr);
    CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 300, 70, 80, 26,
                    window_.Get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), nullptr, nullptr);
    ShowWindow(window_.Get(), SW_SHOWNORMAL);
    UpdateWindow(window_.Get());
  }

  void PaintBar(HDC dc) const {
    RECT frame{12, 38, 382, 56};
    FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    RECT bar = frame;
    InflateRect(&bar, -2, -2);
    const LONG width = bar.right - bar.left;
    if (total_) {
      bar.right = bar.left + static_cast<LONG>(static_cast<ULONGLONG>(width) * std::min(received_, total_) / total_);
    } else {
      // Size unknown: a block that moves with each piece received.
      const LONG block = width / 5, offset = static_cast<LONG>((ticks_ * 12) % static_cast<unsigned>(width - block));
      bar.left += offset;
      bar.right = bar.left + block;
    }
    FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
  }

  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(window, DWLP_USER, lParam);
      return TRUE;
    }
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
      self->cancelled_ = true;
      EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
      return TRUE;
    }
    if (message == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      self->PaintBar(dc);
      EndPaint(window, &ps);
      return TRUE;
    }
    return FALSE;
  }

  std::wstring product_, file_;
  WindowHandle window_;  // destroyed with the download, on this thread
  ULONGLONG started_ = GetTickCount64();
  ULONG received_ = 0, total_ = 0;
  unsigned ticks_ = 0;
  bool cancelled_ = false;
};

// What the download tells us as it goes: progress, the HTTP status, and a
// way to stop it.
class DownloadCallback : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit DownloadCallback(ProgressWindow& progress) : progress_(progress) {}
  DWORD status = 0;
  std::vector<std::wstring> cacheFiles;  // where the download was being written

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
    } else if (iid == IID_IHttpNegotiate) {
      *out = static_cast<IHttpNegotiate*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // Lives on the caller's stack for the length of the synchronous download.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    binding_ = ComPtr<IBinding>(binding);
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR text) override {
    if (statusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE && text) cacheFiles.push_back(text);
    if (statusCode >= BINDSTATUS_BEGINDOWNLOADDATA && !status) ReadStatus();
    progress_.Update(progress, progressMax);
    return progress_.Cancelled() ? E_ABORT : S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override {
    if (!status) ReadStatus();
    binding_.Reset();
    return S_OK;
  }
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    status = code;
    return S_OK;
  }

 private:
  void ReadStatus() {
    if (!binding_) return;
    auto info = binding_.Query<IWinInetHttpInfo>(IID_IWinInetHttpInfo);
    DWORD code = 0, size = sizeof(code);
    if (info && SUCCEEDED(info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr,
                                          nullptr)))
      status = code;
  }

  ProgressWindow& progress_;
  ComPtr<IBinding> binding_;
};

void ReleaseProvider(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
using CryptProvider = Unique<HCRYPTPROV, &ReleaseProvider>;
using CryptHash = Unique<HCRYPTHASH, &CryptDestroyHash>;

// Takes what a failed download left behind out of the cache: the URL's entry,
// the file the download was written to and its siblings of the same stem
// (the cache writes "name[0]" and "name[0]..exe" side by side). A cancelled
// download lets go of its file only once its binding has wound down on this
// thread's messages: up to about a second is given to that.
void ForgetDownload(const std::wstring& url, const std::vector<std::wstring>& files) {
  static const auto deleteEntry = SystemFunction<decltype(&DeleteUrlCacheEntryW)>(L"wininet.dll",
                                                                                 "DeleteUrlCacheEntryW");
  if (deleteEntry) deleteEntry(url.c_str());
  for (const auto& file : files) {
    const std::wstring folder = file.substr(0, file.find_last_of(L'\\') + 1);
    std::vector<std::wstring> copies{file};
    WIN32_FIND_DATAW found;
    if (FindHandle search(FindFirstFileW((file + L".*").c_str(), &found)); search) {
      do copies.push_back(folder + found.cFileName);
      while (FindNextFileW(search.Get(), &found));
    }
    // Not SleepReplacement::Wait, which runs one wait at a time per thread: a
    // download can be reached from the hook's deferred work while another
    // wait is further down the stack, and would first have to wait that out.
    for (const auto& copy : copies)
      PumpMessagesUntil([&] { return DeleteFileW(copy.c_str()) || GetLastError() != ERROR_SHARING_VIOLATION; },
                        kLetGoMs);
  }
}

// The server path of a URL on the configured server ("/dependencies/infra.exe").
std::wstring ServerPath(const std::wstring& url, const std::wstring& server) {
  if (!server.empty() && url.size() > server.size() && LowerCase(url.substr(0, server.size())) == LowerCase(server))
    return url.substr(server.size());
  const size_t scheme = url.find(L"://");
  const size_t slash = url.find(L'/', scheme == std::wstring::npos ? 0 : scheme + 3);
  return slash == std::wstring::npos ? L"/" : url.substr(slash);
}

}  // namespace

namespace DownloadServer {

std::wstring Address() { return InstallerSettings::Read().address; }

std::wstring Sha256OfFile(const std::wstring& path) {
  CryptProvider provider;
  CryptHash hash;
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Put()))
    return L"";
  BYTE buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr)) return L"";
    if (!got) break;
    if (!CryptHashData(hash.Get(), buffer, got, 0)) return L"";
  }
  BYTE digest[32];
  DWORD size = sizeof(digest);
  if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &size, 0) || size != 32) return L"";
  std::wstring hex;
  for (BYTE b : digest) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace DownloadServer

void HTTP::ReportModuleVariables(const void*) { vbw::vbwReportToFile(vbw::kModuleBanner); }

std::wstring HTTP::DownloadFile(std::wstring& myUrl, const std::wstring& productName) {
  std::wstring result;
  vbw::Proc p(L"HTTP.DownloadFile", ReportModuleVariables, {Var(L"myUrl", myUrl)}, this);
  std::wstring path, digest, pin;
  p.Local(L"path", path);
  p.Local(L"digest", digest);
  p.Local(L"pin", pin);
  p.Run([&] {
    p.ResumeNext();
    std::wstring buffer(MAX_PATH, L' ');
    HRESULT hr = E_FAIL;
    const size_t slash = myUrl.find_last_of(L'/');
    ProgressWindow progress(productName, slash == std::wstring::npos ? myUrl : myUrl.substr(slash + 1));
    DownloadCallback callback(progress);
    if (p.Try(101, [&] {
          // The wide form: the cache lies in the user's profile, whose path
          // holds the user's name.
          // Loaded for a download only: the component is also loaded into Word and into every launch, which then
          // carry neither urlmon nor wininet, nor what they load in turn (sockets, network drives).
          static const auto download = SystemFunction<decltype(&URLDownloadToCacheFileW)>(
              L"urlmon.dll", "URLDownloadToCacheFileW");
          if (download) hr = download(nullptr, myUrl.c_str(), buffer.data(), MAX_PATH, 0, &callback);
        }) != 0)
      return;
    // A download that did not end whole leaves nothing in the cache.
    if (hr != S_OK || progress.Cancelled()) {
      CommonLogger::Log(L"Download of " + myUrl + L" failed: " + (progress.Cancelled() ? L"cancelled" : L"error"));
      ForgetDownload(myUrl, callback.cacheFiles);
      return;
    }
    // The cache also keeps an error page as if it were the file.
    if (callback.status >= 400) {
      CommonLogger::Log(L"Download of " + myUrl + L" answered HTTP " + std::to_wstring(callback.status));
      ForgetDownload(myUrl, callback.cacheFiles);
      return;
    }
    if (p.Try(102, [&] { path = buffer.substr(0, buffer.find(L'\0')); }) != 0) return;

    // Integrity: the machine's pin for the server path decides what may run.
    std::wstring serverPath;
    bool required = false;
    p(103, [&] {
      const InstallerSettings::Settings settings = InstallerSettings::Read();
      serverPath = ServerPath(myUrl, settings.address);
      pin = settings.PinOf(serverPath);
      required = settings.pinsRequired;
    });
    p(107, [&] { digest = DownloadServer::Sha256OfFile(path); });
    std::wstring decision;
    if (!pin.empty()) {
      decision = !digest.empty() && digest == pin ? L"matches its pin" : L"does not match its pin " + pin;
    } else {
      decision = required ? L"has no pin, and pins are required" : L"has no pin; allowed";
    }
    CommonLogger::Log(L"SHA-256 of " + myUrl + L" (" + serverPath + L"): " + digest + L" " + decision);
    // A file that may not run is not kept for the next attempt either.
    if (pin.empty() ? required : digest.empty() || digest != pin) return ForgetDownload(myUrl, {path});
    result = path;
  });
  return result;
}

}  // namespace tamberlux
