// The Windows utilities under Wine: files and directories, data protection,
// GUIDs, images, platform information.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>
#include <dpapi.h>
#include <winioctl.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/misc/guid_string.h"
#include "foundation/win/file_util.h"
#include "foundation/win/image_load.h"
#include "foundation/win/platform_info.h"
#include "foundation/win/protect_data.h"

namespace {

using Bytes = std::vector<BYTE>;

HRESULT H(std::uint32_t v) { return static_cast<HRESULT>(v); }

// A fresh folder below the temporary folder, with a trailing backslash.
std::wstring FreshFolder(const wchar_t* tag) {
  wchar_t temp[MAX_PATH];
  EXPECT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  return std::wstring(temp) + L"merro-" + tag + L"-" + std::to_wstring(::GetTickCount()) + L"-" +
         std::to_wstring(::GetCurrentProcessId()) + L"\\";
}

bool IsFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes Read(const std::wstring& path, DWORD limit, HRESULT* hr) {
  BYTE* content = nullptr;
  DWORD size = 0xDEAD;
  *hr = ReadFileSimple(path.c_str(), limit, &content, &size);
  const std::unique_ptr<BYTE[]> owner(content);
  if (*hr != S_OK) {
    EXPECT_EQ(content, nullptr);
    EXPECT_EQ(size, 0xDEADu) << "outputs are written only on success";
    return {};
  }
  EXPECT_EQ(content[size], 0) << "the extra octet is zero";
  return Bytes(content, content + size);
}

HRESULT Write(DWORD flag, const std::wstring& path, const std::string& text) {
  return WriteFileSimple(flag, path.c_str(), reinterpret_cast<const BYTE*>(text.data()),
                         static_cast<DWORD>(text.size()));
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Files, WriteAndReadWholeFiles) {
  const std::wstring dir = FreshFolder(L"files");
  ASSERT_EQ(CreateDirectories(dir.c_str()), S_OK);
  const std::wstring path = dir + L"data.bin";
  HRESULT hr = S_OK;

  ASSERT_EQ(Write(1, path, "0123456789"), S_OK);
  EXPECT_EQ(Read(path, 10, &hr), B("0123456789"));
  EXPECT_EQ(hr, S_OK) << "a file of exactly the limit is read";
  EXPECT_EQ(Read(path, 9, &hr), Bytes{});
  EXPECT_EQ(hr, H(0x800700DF));

  DWORD size = 0;
  EXPECT_EQ(ReadFileSimple(path.c_str(), 100, nullptr, &size), S_OK);
  EXPECT_EQ(size, 10u) << "without a content pointer only the size is reported";

  // Flag 0 writes over the start and keeps the tail.
  ASSERT_EQ(Write(0, path, "abc"), S_OK);
  EXPECT_EQ(Read(path, 100, &hr), B("abc3456789"));
  // Flag 1 replaces the file, a read-only one too.
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(Write(1, path, "xy"), S_OK);
  EXPECT_EQ(Read(path, 100, &hr), B("xy"));

  ASSERT_EQ(Write(1, path, ""), S_OK);
  EXPECT_EQ(Read(path, 0, &hr), Bytes{});
  EXPECT_EQ(hr, S_OK) << "an empty file reads as an empty buffer";

  EXPECT_EQ(Read(dir + L"missing.bin", 100, &hr), Bytes{});
  EXPECT_EQ(hr, H(0x80070002));
  EXPECT_EQ(ReadFileSimple(nullptr, 1, nullptr, nullptr), H(0x80070057));
  EXPECT_EQ(WriteFileSimple(1, nullptr, nullptr, 0), H(0x80070057));
  EXPECT_EQ(WriteFileSimple(1, path.c_str(), nullptr, 4), H(0x80070057));
}

// The whole 64-bit size is compared with the limit: a file of 4 GiB + 1
// octet is not a one-octet file.
TEST(Files, SizeAbove4GiBIsRefused) {
  const std::wstring dir = FreshFolder(L"large");
  ASSERT_EQ(CreateDirectories(dir.c_str()), S_OK);
  const std::wstring path = dir + L"sparse.bin";
  {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 0x100000001LL;
    const bool sized = ::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    if (!sized) {
      GTEST_SKIP() << "no room for a sparse file of 4 GiB here";
    }
  }
  HRESULT hr = S_OK;
  EXPECT_EQ(Read(path, 0xFFFFFFFF, &hr), Bytes{});
  EXPECT_EQ(hr, H(0x800700DF));
  DWORD size = 0;
  EXPECT_EQ(ReadFileSimple(path.c_str(), 16, nullptr, &size), H(0x800700DF));
  ::DeleteFileW(path.c_str());
}

TEST(Directories, CreateEveryLevelThatEndsInABackslash) {
  const std::wstring base = FreshFolder(L"dirs");
  ASSERT_EQ(CreateDirectories((base + L"a\\b\\c\\").c_str()), S_OK);
  EXPECT_TRUE(IsFolder(base + L"a\\b\\c"));
  ASSERT_EQ(CreateDirectories((base + L"a\\b\\c\\").c_str()), S_OK) << "existing levels are kept";

  ASSERT_EQ(CreateDirectories((base + L"x\\y").c_str()), S_OK);
  EXPECT_TRUE(IsFolder(base + L"x"));
  EXPECT_FALSE(Exists(base + L"x\\y")) << "the text after the last backslash is not created";

  ASSERT_EQ(Write(1, base + L"file", "f"), S_OK);
  EXPECT_EQ(CreateDirectories((base + L"file\\sub\\").c_str()), H(0x8007010B));
  EXPECT_FALSE(Exists(base + L"file\\sub"));

  const std::wstring longLevel = base + std::wstring(300, L'n') + L"\\";
  EXPECT_EQ(CreateDirectories(longLevel.c_str()), H(0x800700CE));
  EXPECT_EQ(CreateDirectories(L"no-backslash-here"), S_OK);
  EXPECT_FALSE(Exists(L"no-backslash-here"));
  EXPECT_EQ(CreateDirectories(nullptr), H(0x80070057));
}

Bytes Protect(const Bytes& in, HRESULT* hr) {
  BYTE* out = nullptr;
  DWORD size = 0;
  *hr = CreateProtectData(in.data(), static_cast<DWORD>(in.size()), 0, 0, 0, &out, &size);
  const std::unique_ptr<BYTE[]> owner(out);
  return out != nullptr ? Bytes(out, out + size) : Bytes{};
}

Bytes Unprotect(const Bytes& in, HRESULT* hr) {
  BYTE* out = nullptr;
  DWORD size = 0;
  *hr = AcquireProtectData(in.data(), static_cast<DWORD>(in.size()), 0, 0, &out, &size);
  const std::unique_ptr<BYTE[]> owner(out);
  if (out == nullptr) {
    return {};
  }
  EXPECT_EQ(out[size], 0);
  return Bytes(out, out + size);
}

TEST(ProtectData, RoundTripAndTamperedBlobFails) {
  const Bytes pin = B("246810");
  HRESULT hr = -1;
  const Bytes blob = Protect(pin, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_GT(blob.size(), pin.size());
  EXPECT_EQ(std::search(blob.begin(), blob.end(), pin.begin(), pin.end()), blob.end())
      << "the PIN must not stand in the blob";
  EXPECT_EQ(Unprotect(blob, &hr), pin);
  EXPECT_EQ(hr, S_OK);

  // The blob carries the system's description.
  DATA_BLOB in{static_cast<DWORD>(blob.size()), const_cast<BYTE*>(blob.data())};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  ASSERT_TRUE(::CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
  EXPECT_STREQ(description, L"MerroCSPSecureData");
  ::LocalFree(description);
  ::LocalFree(out.pbData);

  Bytes tampered = blob;
  tampered[tampered.size() - 5] ^= 0x01;
  EXPECT_EQ(Unprotect(tampered, &hr), Bytes{});
  EXPECT_LT(hr, 0);

  BYTE* p = nullptr;
  DWORD n = 0;
  const HRESULT bad = H(0x80070057);
  EXPECT_EQ(CreateProtectData(nullptr, 1, 0, 0, 0, &p, &n), bad);
  EXPECT_EQ(CreateProtectData(pin.data(), 0, 0, 0, 0, &p, &n), bad);
  EXPECT_EQ(CreateProtectData(pin.data(), 1, 0, 0, 0, nullptr, &n), bad);
  EXPECT_EQ(CreateProtectData(pin.data(), 1, 0, 0, 0, &p, nullptr), bad);
  EXPECT_EQ(AcquireProtectData(nullptr, 1, 0, 0, &p, &n), bad);
  EXPECT_EQ(AcquireProtectData(blob.data(), 0, 0, 0, &p, &n), bad);
  EXPECT_EQ(p, nullptr);
}

TEST(GuidStringWin, MatchesTheSystemForm) {
  for (int i = 0; i < 20; ++i) {
    GUID g;
    ASSERT_EQ(::CoCreateGuid(&g), S_OK);
    wchar_t system[64];
    ASSERT_EQ(::StringFromGUID2(g, system, 64), 39);
    merro::trace::Guid ours{g.Data1, g.Data2, g.Data3, {}};
    std::copy(std::begin(g.Data4), std::end(g.Data4), ours.data4.begin());
    wchar_t formatted[64];
    ASSERT_EQ(FormatGUIDString(ours, formatted, 64), 38u);
    EXPECT_STREQ(formatted, system);
  }
}

TEST(Platform, X64UnderThisSystemAndRedirectionIsConsistent) {
  DWORD platform = 77;
  EXPECT_EQ(GetWindowsOSPlatform(&platform), S_OK);
  EXPECT_EQ(platform, MR_PLATFORM_X64);
  EXPECT_EQ(GetWindowsOSPlatform(nullptr), H(0x80070057));

  PVOID state = reinterpret_cast<PVOID>(0x1234);
  const HRESULT hr = DisableWow64FileSystemRedirection(&state);
  if (hr == S_OK) {
    EXPECT_EQ(RevertWow64FileSystemRedirection(state), S_OK);
  } else {
    EXPECT_LT(hr, 0) << "a failure never folds into success";
    EXPECT_EQ(state, reinterpret_cast<PVOID>(0x1234)) << "the state is written only on success";
  }
  EXPECT_EQ(DisableWow64FileSystemRedirection(nullptr), H(0x80070057));
}

class Images : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&s_token, &input, nullptr), Gdiplus::Ok);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(s_token); }

  static Bytes Resource(UINT id) {
    HRSRC r = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), L"PNG");
    EXPECT_NE(r, nullptr);
    const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, r)));
    return Bytes(p, p + ::SizeofResource(nullptr, r));
  }

  // The colour of one pixel of the image, drawn into a bitmap of our own.
  static Gdiplus::ARGB PixelAt(Gdiplus::Image* image, int x, int y) {
    Gdiplus::Bitmap canvas(2, 2, PixelFormat32bppARGB);
    {
      Gdiplus::Graphics g(&canvas);
      g.DrawImage(image, 0, 0, 2, 2);
    }
    Gdiplus::Color c;
    canvas.GetPixel(x, y, &c);
    return c.GetValue();
  }

  static ULONG_PTR s_token;
};
ULONG_PTR Images::s_token = 0;

TEST_F(Images, FromMemoryOutlivesTheCallersBuffer) {
  Gdiplus::Image* image = nullptr;
  {
    Bytes png = Resource(201);
    ASSERT_EQ(LoadImageFromData(png.data(), static_cast<DWORD>(png.size()), &image), S_OK);
    std::fill(png.begin(), png.end(), 0xEE);
  }
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), 2u);
  EXPECT_EQ(image->GetHeight(), 2u);
  EXPECT_EQ(PixelAt(image, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(image, 0, 1), 0xFF0000FFu);
  delete image;
}

TEST_F(Images, FromResourceAndFailuresLeaveTheOutputAlone) {
  Gdiplus::Image* image = nullptr;
  ASSERT_EQ(LoadImageFromResource(::GetModuleHandleW(nullptr), 201, L"PNG", &image), S_OK);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), 2u);
  delete image;

  Gdiplus::Image* const sentinel = reinterpret_cast<Gdiplus::Image*>(0x5A5A);
  const Bytes png = Resource(201);
  const Bytes truncated(png.begin(), png.begin() + 40);
  Bytes badData = png;
  for (size_t i = 43; i < 55; ++i) {
    badData[i] ^= 0xA5;  // the compressed picture
  }
  const struct {
    const char* name;
    Bytes data;
  } corrupt[] = {{"garbage", Resource(202)}, {"truncated PNG", truncated}, {"damaged picture data", badData}};
  for (const auto& c : corrupt) {
    image = sentinel;
    EXPECT_LT(LoadImageFromData(c.data.data(), static_cast<DWORD>(c.data.size()), &image), 0) << c.name;
    EXPECT_EQ(image, sentinel) << c.name;
  }
  image = sentinel;
  EXPECT_LT(LoadImageFromResource(::GetModuleHandleW(nullptr), 202, L"PNG", &image), 0);
  EXPECT_EQ(LoadImageFromResource(::GetModuleHandleW(nullptr), 999, L"PNG", &image), H(0x80070716));
  EXPECT_EQ(LoadImageFromData(nullptr, 4, &image), H(0x80070057));
  EXPECT_EQ(LoadImageFromData(png.data(), 0, &image), H(0x80070057));
  EXPECT_EQ(image, sentinel);
}

}  // namespace
