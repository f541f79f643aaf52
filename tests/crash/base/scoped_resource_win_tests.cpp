// The owners of crash/base/win: each closes exactly what it holds, once, and
// moving or releasing hands the duty on.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_gdi.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/base/win/scoped_socket.h"

namespace kestrix {
namespace {

bool HandleOpen(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

TEST(ScopedHandle, ClosesOnceAndHandsOnByMoveAndRelease) {
  HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(raw);
  {
    TScopedHandle a(raw);
    TScopedHandle b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(b.Get(), raw);
    TScopedHandle c;
    c = std::move(b);
    EXPECT_TRUE(HandleOpen(raw));
  }
  EXPECT_FALSE(HandleOpen(raw));

  HANDLE kept = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    TScopedHandle d(kept);
    EXPECT_EQ(d.Release(), kept);
  }
  EXPECT_TRUE(HandleOpen(kept));
  TScopedHandle e(kept);
  HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  e.Reset(other);  // closes the first, takes the second
  EXPECT_FALSE(HandleOpen(kept));
  EXPECT_TRUE(HandleOpen(other));
}

TEST(ScopedHandle, NullAndInvalidValueAreNone) {
  TScopedHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none);
  // A file that does not exist: CreateFile's INVALID_HANDLE_VALUE, nothing closed.
  TScopedHandle file(CreateFileA("Z:\\no\\such\\file.kx", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file.Valid());
  HANDLE read = nullptr;
  TScopedHandle write;
  ASSERT_TRUE(CreatePipe(&read, write.Receive(), nullptr, 0));
  TScopedHandle owned(read);
  EXPECT_TRUE(write.Valid());
  HANDLE w = write.Get();
  write.Receive();  // closes the old value before handing out the slot
  EXPECT_FALSE(HandleOpen(w));
}

TEST(ScopedHandle, FindHandleAndRegistryKey) {
  char dir[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(dir, MAX_PATH), 0u);
  WIN32_FIND_DATAA data;
  TScopedFindHandle find(FindFirstFileA((std::string(dir) + "\\*").c_str(), &data));
  EXPECT_TRUE(find.Valid());
  TScopedFindHandle missing(FindFirstFileA("Z:\\no\\such\\dir\\*", &data));
  EXPECT_FALSE(missing.Valid());
  EXPECT_EQ(TScopedFindHandle().Get(), INVALID_HANDLE_VALUE);

  TScopedRegistryKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
  EXPECT_TRUE(key.Valid());
  HKEY raw = key.Get();
  key.Reset();
  DWORD subkeys = 0;
  EXPECT_NE(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
}

TEST(ScopedHandle, MappedViewIsUnmapped) {
  TScopedHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
  ASSERT_TRUE(mapping);
  void* raw = nullptr;
  {
    TMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_TRUE(view);
    raw = view.Get();
    view.As<char>()[0] = 'k';
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(raw, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  }
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_NE(VirtualQuery(raw, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

TEST(ScopedGdi, ObjectsAndDCsAreGivenBack) {
  HFONT raw = nullptr;
  {
    TScopedFont font(CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma"));
    ASSERT_TRUE(font);
    raw = font.Get();
    EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_FONT));
  }
  EXPECT_EQ(GetObjectType(raw), 0u);

  HDC memRaw = nullptr;
  HBITMAP bitmapRaw = nullptr;
  {
    TWindowDC screen(nullptr);
    ASSERT_TRUE(screen);
    TScopedMemoryDC mem(CreateCompatibleDC(screen.Get()));
    ASSERT_TRUE(mem);
    memRaw = mem.Get();
    TScopedBitmap bitmap(CreateCompatibleBitmap(screen.Get(), 8, 8));
    bitmapRaw = bitmap.Get();
    TSelectObject selected(mem.Get(), bitmap.Get());
    EXPECT_EQ(GetCurrentObject(mem.Get(), OBJ_BITMAP), bitmapRaw);
  }
  // Declared in that order, the selection is undone before the bitmap and
  // the DC are deleted.
  EXPECT_EQ(GetObjectType(bitmapRaw), 0u);
  EXPECT_EQ(GetObjectType(memRaw), 0u);
}

TEST(ScopedSocket, ClosesTheSocket) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET raw = INVALID_SOCKET;
  {
    TScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(s.Valid());
    raw = s.Get();
    int type = 0, len = sizeof type;
    EXPECT_EQ(getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len), 0);
  }
  int type = 0, len = sizeof type;
  EXPECT_EQ(getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len), SOCKET_ERROR);
  EXPECT_FALSE(TScopedSocket().Valid());
  WSACleanup();
}

bool TakenElsewhere(CRITICAL_SECTION* cs) {
  bool got = false;
  std::thread([&] {
    got = TryEnterCriticalSection(cs) != 0;
    if (got) LeaveCriticalSection(cs);
  }).join();
  return !got;
}

TEST(CriticalSection, GuardHoldsUntilItGoesOrUnlocks) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  TInitializedCriticalSection owner(&cs);
  {
    TCriticalSectionGuard guard(&cs);
    EXPECT_TRUE(TakenElsewhere(&cs));
  }
  EXPECT_FALSE(TakenElsewhere(&cs));
  {
    TCriticalSectionGuard guard(&cs);
    guard.Unlock();
    EXPECT_FALSE(TakenElsewhere(&cs));
  }  // no second leave: a recursion count below zero would hang the next enter
  {
    TCriticalSectionGuard outer(&cs);
    TCriticalSectionGuard moved(std::move(outer));
    EXPECT_TRUE(TakenElsewhere(&cs));
  }
  EXPECT_FALSE(TakenElsewhere(&cs));
  TCriticalSectionGuard none(nullptr);  // a null section is not taken
}

}  // namespace
}  // namespace kestrix
