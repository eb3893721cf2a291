// The resources built into tindrel.exe, read from the file as Windows reads
// them: the version information with its "Help" hint, and the icon MAINICON.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

using namespace wine;

namespace {
// The version API lives in version.dll, which the test program does not link.
struct VersionApi {
    HMODULE Dll = LoadLibraryA("version.dll");
    using SizeFn = DWORD(WINAPI *)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI *)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI *)(LPCVOID, LPCSTR, LPVOID *, PUINT);
    SizeFn Size = reinterpret_cast<SizeFn>(Proc("GetFileVersionInfoSizeA"));
    InfoFn Info = reinterpret_cast<InfoFn>(Proc("GetFileVersionInfoA"));
    QueryFn Query = reinterpret_cast<QueryFn>(Proc("VerQueryValueA"));
    ~VersionApi() { FreeLibrary(Dll); }
    void *Proc(const char *name) const
    {
        return Dll ? reinterpret_cast<void *>(GetProcAddress(Dll, name)) : nullptr;
    }
    bool Ready() const { return Size && Info && Query; }
};

std::vector<char> VersionBlock(const VersionApi &api)
{
    DWORD ignored = 0;
    const DWORD size = api.Size(StationExe().c_str(), &ignored);
    std::vector<char> block(size);
    if (!size || !api.Info(StationExe().c_str(), 0, size, block.data()))
        block.clear();
    return block;
}

std::string StringValue(const VersionApi &api, const std::vector<char> &block,
                        const std::string &name)
{
    // Every translation the file lists, so the test does not depend on one.
    struct Translation {
        WORD Language, CodePage;
    } *translations = nullptr;
    UINT bytes = 0;
    if (!api.Query(block.data(), "\\VarFileInfo\\Translation",
                   reinterpret_cast<void **>(&translations), &bytes))
        return "<no translation>";
    for (UINT i = 0; i < bytes / sizeof(Translation); ++i) {
        char path[128];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s",
                      translations[i].Language, translations[i].CodePage, name.c_str());
        char *value = nullptr;
        UINT length = 0;
        if (api.Query(block.data(), path, reinterpret_cast<void **>(&value), &length) && value)
            return value;
    }
    return "<no " + name + ">";
}
} // namespace

TEST(ResourcesWine, VersionInformationAndHelpHint)
{
    const VersionApi api;
    ASSERT_TRUE(api.Ready());
    const std::vector<char> block = VersionBlock(api);
    ASSERT_FALSE(block.empty());

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(api.Query(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 3u);
    EXPECT_EQ(fixed->dwFileVersionLS, (4u << 16) | 16u);
    EXPECT_EQ(fixed->dwProductVersionMS, (1u << 16) | 3u);
    EXPECT_EQ(fixed->dwProductVersionLS, (4u << 16) | 16u);

    EXPECT_EQ(StringValue(api, block, "FileVersion"), "1.3.4.16");
    EXPECT_EQ(StringValue(api, block, "ProductVersion"), "1.0.0.0");
    EXPECT_EQ(StringValue(api, block, "Help"), "F11 to show messages");
}

namespace {
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes;
    WORD Id;
};
struct GroupIconHeader {
    WORD Reserved, Type, Count;
};
#pragma pack(pop)

const void *Resource(HMODULE module, LPCSTR name, LPCSTR type, DWORD *size)
{
    const HRSRC found = FindResourceA(module, name, type);
    if (!found)
        return nullptr;
    *size = SizeofResource(module, found);
    const HGLOBAL loaded = LoadResource(module, found);
    return loaded ? LockResource(loaded) : nullptr;
}
} // namespace

TEST(ResourcesWine, MainIconIsOne32By32ImageIn256Colours)
{
    const HMODULE exe = LoadLibraryExA(StationExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(exe);
    DWORD size = 0;
    const auto *group =
        static_cast<const BYTE *>(Resource(exe, "MAINICON", MAKEINTRESOURCEA(14), &size));
    ASSERT_TRUE(group) << "a group icon named MAINICON";
    ASSERT_GE(size, sizeof(GroupIconHeader));
    const auto *header = reinterpret_cast<const GroupIconHeader *>(group);
    EXPECT_EQ(header->Type, 1);
    ASSERT_EQ(header->Count, 1) << "one image";
    ASSERT_GE(size, sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    const auto *entry = reinterpret_cast<const GroupIconEntry *>(group + sizeof(GroupIconHeader));
    EXPECT_EQ(entry->Width, 32);
    EXPECT_EQ(entry->Height, 32);
    EXPECT_EQ(entry->BitCount, 8);
    EXPECT_EQ(entry->Planes, 1);

    // The image itself: a device-independent bitmap of that size and depth
    // (its height counts the colour and the mask rows).
    DWORD imageSize = 0;
    const auto *image = static_cast<const BITMAPINFOHEADER *>(
        Resource(exe, MAKEINTRESOURCEA(entry->Id), MAKEINTRESOURCEA(3), &imageSize));
    ASSERT_TRUE(image);
    EXPECT_EQ(imageSize, entry->BytesInRes);
    ASSERT_GE(imageSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(image->biWidth, 32);
    EXPECT_EQ(image->biHeight, 64);
    EXPECT_EQ(image->biBitCount, 8);
    // The colour table (256 entries unless fewer are named), 32 rows of 32
    // colour bytes, 32 rows of a 4-byte mask.
    const DWORD colours = image->biClrUsed ? image->biClrUsed : 256;
    EXPECT_LE(colours, 256u);
    EXPECT_EQ(imageSize, sizeof(BITMAPINFOHEADER) + colours * 4 + 32 * 32 + 32 * 4);

    // And the program finds it by that name.
    EXPECT_TRUE(LoadIconA(exe, "MAINICON"));
    FreeLibrary(exe);
}
