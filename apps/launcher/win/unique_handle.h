#pragma once
// One owner for every Win32 handle: move-only, closes on every path, and keeps
// the thread's last error intact so WindowsErrorText still reads the failure.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>

#include <utility>

namespace plovatek {

template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept = default;
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) {
      const DWORD lastError = GetLastError();
      Traits::Close(old);
      SetLastError(lastError);
    }
  }

  // For out-parameters: frees what is held before handing out the address.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
using UniqueHandle = UniqueAny<KernelHandleTraits>;

// CreateFileW and friends report failure as INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
using UniqueFileHandle = UniqueAny<FileHandleTraits>;

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { RegCloseKey(h); }
};
using UniqueRegKey = UniqueAny<RegKeyTraits>;

struct LocalMemTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { LocalFree(h); }
};
using UniqueLocalMem = UniqueAny<LocalMemTraits>;

struct CoTaskMemTraits {
  using Type = wchar_t*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { CoTaskMemFree(p); }
};
using UniqueCoTaskString = UniqueAny<CoTaskMemTraits>;

struct GdiObjectTraits {
  using Type = HGDIOBJ;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { DeleteObject(h); }
};
using UniqueGdiObject = UniqueAny<GdiObjectTraits>;

// CNG: algorithm providers, hashes and keys each close with their own call.
// Destroy a hash or key before the provider it came from (declare the provider first).
struct BcryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueBcryptAlgorithm = UniqueAny<BcryptAlgorithmTraits>;

struct BcryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { BCryptDestroyHash(h); }
};
using UniqueBcryptHash = UniqueAny<BcryptHashTraits>;

struct BcryptKeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { BCryptDestroyKey(h); }
};
using UniqueBcryptKey = UniqueAny<BcryptKeyTraits>;

// A DC from CreateCompatibleDC.
struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { DeleteDC(h); }
};
using UniqueMemoryDc = UniqueAny<MemoryDcTraits>;

// The screen's DC from GetDC(nullptr); a window's DC needs its window to be released.
struct ScreenDcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ReleaseDC(nullptr, h); }
};
using UniqueScreenDc = UniqueAny<ScreenDcTraits>;

}  // namespace plovatek
