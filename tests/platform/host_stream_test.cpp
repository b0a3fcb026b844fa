// The host's own streams (platform/host/streams.h): file and memory streams.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cfx/cfx.h"
#include "host/streams.h"
#include "support/temp_dir.h"
#include "support/unwritable_file.h"

namespace {

using cvtest::TempDir;

CfxComPtr<ISBStream> Open(const std::string& path, host::FileMode mode) {
    CfxComPtr<ISBStream> s;
    HRESULT hr = host::CreateFileStream(path, mode, s.Out());
    EXPECT_EQ(hr, S_OK) << path;
    return s;
}

// Reads to the end in calls of chunk bytes.
std::string ReadAll(ISBStream* s, ULONG chunk) {
    std::string all;
    std::vector<char> buf(chunk);
    for (;;) {
        ULONG got = 12345;
        HRESULT hr = s->Read(buf.data(), chunk, &got);
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr) || got == 0) break;
        EXPECT_LE(got, chunk);
        all.append(buf.data(), got);
    }
    return all;
}

HRESULT WriteText(ISBStream* s, std::string_view text, ULONG* written = nullptr) {
    return s->Write(text.data(), static_cast<ULONG>(text.size()), written);
}

ULONG Position(ISBStream* s) {
    ULONG pos = 0xDEADBEEF;
    EXPECT_EQ(s->Seek(0, SB_SEEK_CUR, &pos), S_OK);
    return pos;
}

std::string Bytes(ISBStream* s) {
    std::vector<char> v = host::MemoryStreamBytes(s);
    return std::string(v.begin(), v.end());
}

CfxComPtr<ISBStream> Memory(std::string_view bytes) {
    return host::CreateMemoryStream(std::vector<char>(bytes.begin(), bytes.end()));
}

// The same cases run against both kinds of stream.
struct Kind {
    const char* name;
    // A readable stream over raw bytes.
    std::function<CfxComPtr<ISBStream>(const TempDir&, std::string_view)> reader;
    // A new, empty writable stream and a way to get its raw bytes afterwards (the stream
    // released first).
    std::function<CfxComPtr<ISBStream>(const TempDir&)> writer;
    std::function<std::string(const TempDir&, CfxComPtr<ISBStream>&)> written;
};

std::vector<Kind> Kinds() {
    return {
        Kind{"file",
             [](const TempDir& d, std::string_view raw) { return Open(d.Put("in.txt", raw), host::FileMode::Read); },
             [](const TempDir& d) { return Open(d.File("out.txt"), host::FileMode::Write); },
             [](const TempDir& d, CfxComPtr<ISBStream>& s) {
                 EXPECT_EQ(host::CommitFileStream(s.Get()), S_OK);
                 s.Reset();
                 return TempDir::Slurp(d.File("out.txt"));
             }},
        Kind{"memory", [](const TempDir&, std::string_view raw) { return Memory(raw); },
             [](const TempDir&) { return host::CreateMemoryStream(); },
             [](const TempDir&, CfxComPtr<ISBStream>& s) { return Bytes(s.Get()); }},
    };
}

struct Translation {
    std::string logical;
    std::string raw;
};

TEST(HostStreams, TextModeWritesLfAsCrLf) {
    const Translation cases[] = {
        {"", ""},
        {"a", "a"},
        {"\n", "\r\n"},
        {"a\nb", "a\r\nb"},
        {"a\n\n", "a\r\n\r\n"},
        {"\r", "\r"},          // a lone CR passes
        {"\r\n", "\r\r\n"},    // as the host's text mode does
        {"x\ry\n", "x\ry\r\n"},
    };
    for (const Kind& kind : Kinds())
        for (const Translation& c : cases) {
            TempDir dir;
            CfxComPtr<ISBStream> s = kind.writer(dir);
            ULONG written = 999;
            EXPECT_EQ(WriteText(s.Get(), c.logical, &written), S_OK);
            EXPECT_EQ(written, c.logical.size()) << kind.name;
            EXPECT_EQ(Position(s.Get()), c.raw.size()) << kind.name << " raw position";
            EXPECT_EQ(kind.written(dir, s), c.raw) << kind.name << " writing " << testing::PrintToString(c.logical);
        }
}

TEST(HostStreams, TextModeReadsCrLfAsLf) {
    const Translation cases[] = {
        {"", ""},
        {"a\nb", "a\r\nb"},
        {"\n\n", "\r\n\r\n"},
        {"\n", "\n"},          // a bare LF is an LF
        {"\r", "\r"},          // a CR at the end of the data stays a CR
        {"a\r", "a\r"},
        {"\rx", "\rx"},        // a lone CR passes
        {"\r\n", "\r\r\n"},
        {"\r\r", "\r\r"},
        {"\n\r", "\n\r"},
    };
    for (const Kind& kind : Kinds())
        for (const Translation& c : cases)
            for (ULONG chunk : {1u, 2u, 3u, 1024u}) {
                TempDir dir;
                CfxComPtr<ISBStream> s = kind.reader(dir, c.raw);
                EXPECT_EQ(ReadAll(s.Get(), chunk), c.logical)
                    << kind.name << " reading " << testing::PrintToString(c.raw) << " by " << chunk;
                EXPECT_EQ(Position(s.Get()), c.raw.size()) << kind.name;
            }
}

TEST(HostStreams, BinaryModePassesBytes) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    all += "\r\n\n\r";
    for (const Kind& kind : Kinds()) {
        TempDir dir;
        CfxComPtr<ISBStream> w = kind.writer(dir);
        ASSERT_EQ(w->SetBinaryMode(VARIANT_TRUE), S_OK);
        VARIANT_BOOL mode = VARIANT_FALSE;
        ASSERT_EQ(w->GetBinaryMode(&mode), S_OK);
        EXPECT_EQ(mode, VARIANT_TRUE);
        ASSERT_EQ(WriteText(w.Get(), all), S_OK);
        EXPECT_EQ(kind.written(dir, w), all) << kind.name;

        CfxComPtr<ISBStream> r = kind.reader(dir, all);
        ASSERT_EQ(r->SetBinaryMode(VARIANT_TRUE), S_OK);
        EXPECT_EQ(ReadAll(r.Get(), 7), all) << kind.name;
    }
}

TEST(HostStreams, NewStreamsStartInTextModeAndModeSwitches) {
    TempDir dir;
    for (const Kind& kind : Kinds()) {
        CfxComPtr<ISBStream> s = kind.reader(dir, "a\r\nb\r\nc");
        VARIANT_BOOL mode = 7;
        ASSERT_EQ(s->GetBinaryMode(&mode), S_OK);
        EXPECT_EQ(mode, VARIANT_FALSE) << kind.name;
        EXPECT_EQ(s->GetBinaryMode(nullptr), E_POINTER);
        char buf[3];
        ULONG got = 0;
        ASSERT_EQ(s->Read(buf, 2, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "a\n");
        ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
        ASSERT_EQ(s->Read(buf, 3, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "b\r\n");
        ASSERT_EQ(s->SetBinaryMode(VARIANT_FALSE), S_OK);
        ASSERT_EQ(s->GetBinaryMode(&mode), S_OK);
        EXPECT_EQ(mode, VARIANT_FALSE);
        ASSERT_EQ(s->Read(buf, 3, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "c");
    }
}

TEST(HostStreams, SeekUsesRawOffsets) {
    TempDir dir;
    for (const Kind& kind : Kinds()) {
        CfxComPtr<ISBStream> s = kind.reader(dir, "ab\r\ncd\r\n");  // 8 raw bytes, 6 logical
        char buf[16];
        ULONG got = 0;
        ASSERT_EQ(s->Read(buf, 3, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "ab\n");
        EXPECT_EQ(Position(s.Get()), 4u) << kind.name;
        ULONG pos = 0;
        ASSERT_EQ(s->Seek(-2, SB_SEEK_END, &pos), S_OK);
        EXPECT_EQ(pos, 6u);
        ASSERT_EQ(s->Read(buf, 16, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "\n");
        ASSERT_EQ(s->Seek(1, SB_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(s->Seek(1, SB_SEEK_CUR, &pos), S_OK);
        EXPECT_EQ(pos, 2u);
        ASSERT_EQ(s->Read(buf, 16, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "\ncd\n");
        // A bad origin or a target before 0 fails and leaves the position.
        ASSERT_EQ(s->Seek(3, SB_SEEK_SET, nullptr), S_OK);
        pos = 77;
        EXPECT_EQ(s->Seek(0, 3, &pos), E_INVALIDARG);
        EXPECT_EQ(pos, 77u);
        EXPECT_EQ(s->Seek(-4, SB_SEEK_CUR, nullptr), E_INVALIDARG);
        EXPECT_EQ(s->Seek(-1, SB_SEEK_SET, nullptr), E_INVALIDARG);
        EXPECT_EQ(s->Seek(-9, SB_SEEK_END, nullptr), E_INVALIDARG);
        EXPECT_EQ(Position(s.Get()), 3u) << kind.name;
        // Past the end is allowed; reading there gives nothing.
        ASSERT_EQ(s->Seek(100, SB_SEEK_SET, &pos), S_OK);
        EXPECT_EQ(pos, 100u);
        ASSERT_EQ(s->Read(buf, 16, &got), S_OK);
        EXPECT_EQ(got, 0u);
    }
}

TEST(HostStreams, ReadEdgeCases) {
    TempDir dir;
    for (const Kind& kind : Kinds()) {
        CfxComPtr<ISBStream> s = kind.reader(dir, "abc");
        char buf[4];
        ULONG got = 99;
        EXPECT_EQ(s->Read(buf, 0, &got), S_OK);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(s->Read(nullptr, 0, &got), S_OK);
        EXPECT_EQ(s->Read(buf, 4, nullptr), E_POINTER) << kind.name;
        EXPECT_EQ(s->Read(nullptr, 4, &got), E_POINTER) << kind.name;
        EXPECT_EQ(Position(s.Get()), 0u);
        ASSERT_EQ(s->Read(buf, 4, &got), S_OK);
        EXPECT_EQ(got, 3u);
        got = 99;
        EXPECT_EQ(s->Read(buf, 4, &got), S_OK);  // end of data
        EXPECT_EQ(got, 0u);
    }
}

TEST(HostStreams, WriteEdgeCases) {
    TempDir dir;
    for (const Kind& kind : Kinds()) {
        CfxComPtr<ISBStream> s = kind.writer(dir);
        ULONG written = 99;
        EXPECT_EQ(s->Write("x", 0, &written), S_OK);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(s->Write(nullptr, 3, &written), E_POINTER);
        EXPECT_EQ(s->Write("ab", 2, nullptr), S_OK);
        // Seeking past the end and writing fills the gap with zero bytes.
        ASSERT_EQ(s->Seek(4, SB_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
        EXPECT_EQ(s->Write("\n", 1, nullptr), S_OK);
        ULONG size = 0;
        ASSERT_EQ(s->GetSize(&size), S_OK);
        EXPECT_EQ(size, 5u);
        EXPECT_EQ(s->GetSize(nullptr), E_POINTER);
        EXPECT_EQ(kind.written(dir, s), std::string("ab\0\0\n", 5)) << kind.name;
    }
}

TEST(HostStreams, GetSizeIsRawSize) {
    TempDir dir;
    for (const Kind& kind : Kinds()) {
        CfxComPtr<ISBStream> s = kind.reader(dir, "a\r\nb\r\n");
        ULONG size = 0;
        ASSERT_EQ(s->GetSize(&size), S_OK);
        EXPECT_EQ(size, 6u) << kind.name;
    }
}

TEST(HostStreams, InterfacesAndReferenceCount) {
    TempDir dir;
    CfxComPtr<ISBStream> file = Open(dir.Put("f.txt", "x"), host::FileMode::Read);
    CfxComPtr<ISBStream> memory = host::CreateMemoryStream();
    for (ISBStream* s : {file.Get(), memory.Get()}) {
        EXPECT_EQ(s->QueryInterface(IID_ISBStream, nullptr), E_POINTER);
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(s->QueryInterface(IID_IErrorInfo, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        IUnknown* unknown = nullptr;
        ASSERT_EQ(s->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        EXPECT_EQ(unknown, static_cast<IUnknown*>(s));
        EXPECT_EQ(unknown->Release(), 1u);
        EXPECT_EQ(s->AddRef(), 2u);
        EXPECT_EQ(s->Release(), 1u);
    }
    CfxComPtr<ISBFileStream> fileView;
    ASSERT_EQ(file.QueryInto(fileView), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(fileView->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(file.Get()));  // one identity
    unknown->Release();
    CfxComPtr<ISBFileStream> none;
    EXPECT_EQ(memory.QueryInto(none), E_NOINTERFACE);
    EXPECT_FALSE(none);
}

TEST(FileStream, GetFilePathGivesThePath) {
    TempDir dir;
    std::string path = dir.Put("caf\xC3\xA9 file.car", "x");
    CfxComPtr<ISBStream> s = Open(path, host::FileMode::Read);
    CfxComPtr<ISBFileStream> f;
    ASSERT_EQ(s.QueryInto(f), S_OK);
    CfxBSTR text;
    ASSERT_EQ(f->GetFilePath(text.Out()), S_OK);
    EXPECT_EQ(text.ToString(), path);
    EXPECT_EQ(f->GetFilePath(nullptr), E_POINTER);
}

TEST(FileStream, MissingFileFails) {
    TempDir dir;
    Cfx::ClearLastError();
    ISBStream* s = reinterpret_cast<ISBStream*>(1);
    std::string missing = dir.File("no-such.car");
    EXPECT_EQ(host::CreateFileStream(missing, host::FileMode::Read, &s), STG_E_FILENOTFOUND);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(Cfx::GetLastError().hr, STG_E_FILENOTFOUND);
    EXPECT_EQ(Cfx::GetLastError().description, missing + " could not be found.");
    EXPECT_EQ(host::CreateFileStream(dir.File("no-dir/x.car"), host::FileMode::Write, &s), STG_E_FILENOTFOUND);
    EXPECT_EQ(host::CreateFileStream(dir.Path().string(), host::FileMode::Read, &s), E_ACCESSDENIED);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(host::CreateFileStream(missing, host::FileMode::Read, nullptr), E_POINTER);
}

TEST(FileStream, ModesOpenAsStated) {
    TempDir dir;
    std::string path = dir.Put("m.txt", "old content");
    {
        CfxComPtr<ISBStream> r = Open(path, host::FileMode::Read);
        EXPECT_EQ(r->Write("x", 1, nullptr), E_ACCESSDENIED);
        EXPECT_EQ(ReadAll(r.Get(), 100), "old content");
    }
    {
        CfxComPtr<ISBStream> rw = Open(path, host::FileMode::ReadWrite);  // not truncated
        char buf[4];
        ULONG got = 0;
        ASSERT_EQ(rw->Read(buf, 4, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "old ");
        ASSERT_EQ(WriteText(rw.Get(), "NEW"), S_OK);  // at raw offset 4, after a buffered read
        EXPECT_EQ(Position(rw.Get()), 7u);
        ASSERT_EQ(rw->Read(buf, 2, &got), S_OK);
        EXPECT_EQ(std::string(buf, got), "te");
        ASSERT_EQ(rw->Seek(2, SB_SEEK_SET, nullptr), S_OK);  // no stale bytes from before the write
        EXPECT_EQ(ReadAll(rw.Get(), 100), "d NEWtent");
    }
    EXPECT_EQ(TempDir::Slurp(path), "old NEWtent");
    {
        CfxComPtr<ISBStream> w = Open(path, host::FileMode::Write);  // a new file, once committed
        char buf[4];
        ULONG got = 0;
        EXPECT_EQ(w->Read(buf, 4, &got), E_ACCESSDENIED);
        ULONG size = 99;
        ASSERT_EQ(w->GetSize(&size), S_OK);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(TempDir::Slurp(path), "old NEWtent");
        EXPECT_EQ(host::CommitFileStream(w.Get()), S_OK);
        EXPECT_EQ(TempDir::Slurp(path), "");
    }
    {
        std::string fresh = dir.File("fresh.txt");
        CfxComPtr<ISBStream> rw = Open(fresh, host::FileMode::ReadWrite);  // created
        ASSERT_EQ(WriteText(rw.Get(), "a\nb"), S_OK);
        ASSERT_EQ(rw->Seek(0, SB_SEEK_SET, nullptr), S_OK);
        EXPECT_EQ(ReadAll(rw.Get(), 100), "a\nb");
        rw.Reset();
        EXPECT_EQ(TempDir::Slurp(fresh), "a\r\nb");
    }
}

// The file stream reads kFileStreamBufferSize raw bytes at a time: a CR LF pair split by the
// end of a fill is still one LF, a lone CR there stays a CR, and a CR at the end of the file
// stays a CR.
TEST(FileStream, CrLfAcrossTheInternalBufferBoundary) {
    const std::size_t b = host::kFileStreamBufferSize;
    const std::string fill(b - 1, 'a');
    const Translation cases[] = {
        {fill + "\nb", fill + "\r\nb"},
        {fill + "\n", fill + "\r\n"},
        {fill + "\rb", fill + "\rb"},
        {fill + "\r", fill + "\r"},
        {fill + "\r\n", fill + "\r\r\n"},
        {fill + "a\nb", fill + "a\r\nb"},                                  // pair just after the boundary
        {fill + "\n" + std::string(b - 2, 'c') + "\nd", fill + "\r\n" + std::string(b - 2, 'c') + "\r\nd"},
        {std::string(2 * b - 1, 'e') + "\nf", std::string(2 * b - 1, 'e') + "\r\nf"},  // second boundary
    };
    for (const Translation& c : cases)
        for (ULONG chunk : {1u, 100u, static_cast<ULONG>(b - 1), static_cast<ULONG>(b), 3u * static_cast<ULONG>(b)}) {
            TempDir dir;
            CfxComPtr<ISBStream> s = Open(dir.Put("boundary.txt", c.raw), host::FileMode::Read);
            std::string got = ReadAll(s.Get(), chunk);
            EXPECT_EQ(got.size(), c.logical.size()) << "chunk " << chunk;
            EXPECT_TRUE(got == c.logical) << "chunk " << chunk << ", tail "
                                          << testing::PrintToString(got.substr(got.size() > 8 ? got.size() - 8 : 0));
            EXPECT_EQ(Position(s.Get()), c.raw.size());
        }
}

TEST(FileStream, SeekBackInsideTheBufferReadsTheSameBytes) {
    TempDir dir;
    std::string raw;
    for (int i = 0; i < 10000; ++i) raw.push_back(static_cast<char>('a' + i % 26));
    CfxComPtr<ISBStream> s = Open(dir.Put("s.txt", raw), host::FileMode::Read);
    char buf[20];
    ULONG got = 0;
    ASSERT_EQ(s->Read(buf, 20, &got), S_OK);
    ASSERT_EQ(s->Seek(-5, SB_SEEK_CUR, nullptr), S_OK);
    ASSERT_EQ(s->Read(buf, 5, &got), S_OK);
    EXPECT_EQ(std::string(buf, got), raw.substr(15, 5));
    ASSERT_EQ(s->Seek(9000, SB_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Read(buf, 20, &got), S_OK);
    EXPECT_EQ(std::string(buf, got), raw.substr(9000, 20));
}

// A file of 4 GiB or more has no 32-bit size: GetSize fails rather than cut it, and so does a
// seek whose target does not fit. The file is sparse, so it takes no space.
TEST(FileStream, FilesPastFourGibibytesFailGetSize) {
    TempDir dir;
    std::string path = dir.File("big.bin");
    for (std::uint64_t size : {std::uint64_t{0xFFFFFFFFu}, std::uint64_t{0x100000000u}, std::uint64_t{0x100000005u}}) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ASSERT_GE(fd, 0);
        bool grown = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        ::close(fd);
        if (!grown) GTEST_SKIP() << "the file system cannot hold a sparse file of " << size << " bytes";
        CfxComPtr<ISBStream> s = Open(path, host::FileMode::Read);
        ULONG got = 0;
        HRESULT hr = s->GetSize(&got);
        ULONG pos = 0;
        if (size <= 0xFFFFFFFFu) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(got, size);
            EXPECT_EQ(s->Seek(0, SB_SEEK_END, &pos), S_OK);
            EXPECT_EQ(pos, 0xFFFFFFFFu);
        } else {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(s->Seek(0, SB_SEEK_END, &pos), E_INVALIDARG);
            EXPECT_EQ(s->Seek(-static_cast<LONG>(size - 0xFFFFFFFFu), SB_SEEK_END, &pos), S_OK);
            EXPECT_EQ(pos, 0xFFFFFFFFu);
            EXPECT_EQ(s->Seek(1, SB_SEEK_CUR, &pos), E_INVALIDARG);
        }
    }
}

TEST(FileStream, FailedWriteIsAWriteFault) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    CfxComPtr<ISBStream> s;
    ASSERT_EQ(host::CreateFileStream("/dev/full", host::FileMode::Write, s.Out()), S_OK);
    ULONG written = 99;
    EXPECT_EQ(WriteText(s.Get(), "abc\n", &written), STG_E_WRITEFAULT);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(Cfx::GetLastError().hr, STG_E_WRITEFAULT);
    ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
    EXPECT_EQ(WriteText(s.Get(), "abc", &written), STG_E_WRITEFAULT);
    EXPECT_EQ(written, 0u);
}

// ---- writing replaces the file only on Commit

// The hidden temporary files beside name (".name.xxxxxx").
std::vector<std::string> Temporaries(const TempDir& dir, const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& n : dir.Names())
        if (n.size() == name.size() + 8 && n.starts_with("." + name + ".")) out.push_back(n);
    return out;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(FileStream, AWriteReplacesTheFileOnlyWhenCommitted) {
    struct Case {
        const char* what;
        bool existed;
        bool commit;
    } cases[] = {
        {"over a file, committed", true, true},
        {"over a file, abandoned", true, false},
        {"a new file, committed", false, true},
        {"a new file, abandoned", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = c.existed ? dir.Put("f.car", "old\n") : dir.File("f.car");
        {
            CfxComPtr<ISBStream> w = Open(path, host::FileMode::Write);
            ASSERT_EQ(w->SetBinaryMode(VARIANT_TRUE), S_OK);
            ASSERT_EQ(WriteText(w.Get(), "new\n"), S_OK);
            // Until the commit the file is as it was; the bytes lie beside it.
            EXPECT_EQ(std::filesystem::exists(path), c.existed);
            if (c.existed) {
                EXPECT_EQ(TempDir::Slurp(path), "old\n");
            }
            ASSERT_EQ(Temporaries(dir, "f.car").size(), 1u) << testing::PrintToString(dir.Names());
            if (c.commit) {
                EXPECT_EQ(host::CommitFileStream(w.Get()), S_OK);
                EXPECT_EQ(host::CommitFileStream(w.Get()), S_OK) << "a second commit does nothing";
                EXPECT_EQ(TempDir::Slurp(path), "new\n");
            }
        }
        EXPECT_TRUE(Temporaries(dir, "f.car").empty()) << testing::PrintToString(dir.Names());
        if (c.commit) {
            EXPECT_EQ(TempDir::Slurp(path), "new\n");
        } else {
            EXPECT_EQ(std::filesystem::exists(path), c.existed);
            if (c.existed) {
                EXPECT_EQ(TempDir::Slurp(path), "old\n");
            }
        }
    }
}

TEST(FileStream, AReplacedFileKeepsItsPermissionsAndANewOneFollowsTheUmask) {
    TempDir dir;
    const mode_t umask = ::umask(022);
    ::umask(umask);
    for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0755}}) {
        const std::string path = dir.Put("kept.car", "old");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        CfxComPtr<ISBStream> w = Open(path, host::FileMode::Write);
        ASSERT_EQ(host::CommitFileStream(w.Get()), S_OK);
        EXPECT_EQ(ModeOf(path), mode);
    }
    const std::string fresh = dir.File("fresh.car");
    CfxComPtr<ISBStream> w = Open(fresh, host::FileMode::Write);
    ASSERT_EQ(host::CommitFileStream(w.Get()), S_OK);
    EXPECT_EQ(ModeOf(fresh), 0666 & ~umask);
}

TEST(FileStream, WhatCannotBeReplacedIsRefusedOrWrittenInPlace) {
    TempDir dir;
    // A file this process may not write is not replaced either.
    const std::string locked = dir.Put("locked.mdf", "old");
    {
        cvtest::UnwritableFile unwritable(locked);
        if (unwritable.Possible()) {
            ISBStream* s = nullptr;
            EXPECT_EQ(host::CreateFileStream(locked, host::FileMode::Write, &s), E_ACCESSDENIED);
            EXPECT_EQ(s, nullptr);
            EXPECT_TRUE(Temporaries(dir, "locked.mdf").empty());
        }
    }
    EXPECT_EQ(TempDir::Slurp(locked), "old");

    // A link: the file it names is replaced, the link stays.
    const std::string real = dir.Put("real.car", "old");
    const std::string link = dir.File("link.car");
    std::filesystem::create_symlink(real, link);
    {
        CfxComPtr<ISBStream> w = Open(link, host::FileMode::Write);
        ASSERT_EQ(WriteText(w.Get(), "new"), S_OK);
        ASSERT_EQ(host::CommitFileStream(w.Get()), S_OK);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(TempDir::Slurp(real), "new");

    // Something other than a file is written in place: nothing to commit.
    CfxComPtr<ISBStream> null = Open("/dev/null", host::FileMode::Write);
    EXPECT_EQ(WriteText(null.Get(), "gone"), S_OK);
    EXPECT_EQ(host::CommitFileStream(null.Get()), S_OK);
    EXPECT_EQ(host::CommitFileStream(host::CreateMemoryStream().Get()), S_OK) << "no file behind it";
}

// A writer stopped mid-write, by a failed write or killed outright: the file stays as it was.
TEST(FileStream, AStoppedWriteLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir.Put("big.car", "old");
    auto write = [&] {
        // Past the limit a write fails (the signal ignored) or kills the process.
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CfxComPtr<ISBStream> w;
        if (FAILED(host::CreateFileStream(path, host::FileMode::Write, w.Out()))) std::_Exit(2);
        const std::string chunk(1000, 'x');
        HRESULT hr = S_OK;
        for (int i = 0; i < 10 && SUCCEEDED(hr); ++i) hr = WriteText(w.Get(), chunk);
        if (SUCCEEDED(hr)) hr = host::FlushFileStream(w.Get());  // the bytes it still holds
        if (hr != STG_E_WRITEFAULT) std::_Exit(3);
        std::_Exit(0);  // a host that gives up without committing
    };
    EXPECT_EXIT(
        {
            std::signal(SIGXFSZ, SIG_IGN);
            write();
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(TempDir::Slurp(path), "old");
    // _Exit ran no destructor: the abandoned bytes stay under the temporary name, never the file's.
    EXPECT_EQ(Temporaries(dir, "big.car").size(), 1u) << testing::PrintToString(dir.Names());

    EXPECT_EXIT(write(), testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_EQ(TempDir::Slurp(path), "old");
    EXPECT_EQ(Temporaries(dir, "big.car").size(), 2u) << testing::PrintToString(dir.Names());
}

// Writes into a temporary gather before they reach the file; the bytes land where they were
// written whatever the writer does between them.
TEST(FileStream, GatheredWritesLandInPlace) {
    TempDir dir;
    const std::string path = dir.File("g.bin");
    std::string expected(200'000, '\0');
    {
        CfxComPtr<ISBStream> w = Open(path, host::FileMode::Write);
        ASSERT_EQ(w->SetBinaryMode(VARIANT_TRUE), S_OK);
        // Small pieces, one larger than the gathering, and a patch at the start.
        std::size_t at = 0;
        for (std::size_t piece : {1000u, 1u, 70'000u, 3u, 100'000u, 28'996u}) {
            const std::string bytes(piece, static_cast<char>('a' + at % 26));
            ASSERT_EQ(WriteText(w.Get(), bytes), S_OK);
            expected.replace(at, piece, bytes);
            at += piece;
        }
        ULONG size = 0;
        ASSERT_EQ(w->GetSize(&size), S_OK);
        EXPECT_EQ(size, expected.size()) << "the size counts what is still held";
        ASSERT_EQ(w->Seek(10, SB_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(WriteText(w.Get(), "PATCH"), S_OK);
        expected.replace(10, 5, "PATCH");
        ASSERT_EQ(w->Seek(0, SB_SEEK_END, nullptr), S_OK);
        ASSERT_EQ(WriteText(w.Get(), "END"), S_OK);
        expected += "END";
        EXPECT_EQ(host::CommitFileStream(w.Get()), S_OK);
    }
    EXPECT_TRUE(TempDir::Slurp(path) == expected);
}

// A gathered write that fails shows at the next call that sends it, and the file is not replaced.
TEST(FileStream, AGatheredFailureFailsWhatSendsIt) {
    struct Case {
        const char* what;
        HRESULT (*send)(ISBStream*);
    } cases[] = {
        {"Flush", [](ISBStream* s) { return host::FlushFileStream(s); }},
        {"Commit", [](ISBStream* s) { return host::CommitFileStream(s); }},
        {"Seek", [](ISBStream* s) { return s->Seek(0, SB_SEEK_SET, nullptr); }},
        {"GetSize", [](ISBStream* s) {
             ULONG size = 0;
             return s->GetSize(&size);
         }},
        {"a Write past the gathering", [](ISBStream* s) { return WriteText(s, std::string(100'000, 'y')); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.Put("f.xsd", "old");
        auto write = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100, 100};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            CfxComPtr<ISBStream> w;
            if (FAILED(host::CreateFileStream(path, host::FileMode::Write, w.Out()))) std::_Exit(2);
            if (WriteText(w.Get(), std::string(1000, 'x')) != S_OK) std::_Exit(3);  // held back
            if (c.send(w.Get()) != STG_E_WRITEFAULT || Cfx::GetLastError().hr != STG_E_WRITEFAULT) std::_Exit(4);
            if (host::CommitFileStream(w.Get()) != STG_E_WRITEFAULT) std::_Exit(5);  // still held
            std::_Exit(0);
        };
        EXPECT_EXIT(write(), testing::ExitedWithCode(0), "");
        EXPECT_EQ(TempDir::Slurp(path), "old");
    }
}

TEST(FileStream, LongTextWriteRoundTrips) {
    TempDir dir;
    std::string logical;
    for (int i = 0; i < 3000; ++i) logical += "line " + std::to_string(i) + "\n";
    std::string raw;
    for (char c : logical) {
        if (c == '\n') raw += '\r';
        raw += c;
    }
    std::string path = dir.File("long.txt");
    {
        CfxComPtr<ISBStream> w = Open(path, host::FileMode::Write);
        ULONG written = 0;
        ASSERT_EQ(WriteText(w.Get(), logical, &written), S_OK);
        EXPECT_EQ(written, logical.size());
        EXPECT_EQ(Position(w.Get()), raw.size());
        EXPECT_EQ(host::CommitFileStream(w.Get()), S_OK);
    }
    EXPECT_TRUE(TempDir::Slurp(path) == raw);
    CfxComPtr<ISBStream> r = Open(path, host::FileMode::Read);
    EXPECT_TRUE(ReadAll(r.Get(), 1000) == logical);
}

TEST(MemoryStream, BytesAndForeignStreams) {
    CfxComPtr<ISBStream> s = Memory("abc");
    EXPECT_EQ(Bytes(s.Get()), "abc");
    ASSERT_EQ(s->Seek(0, SB_SEEK_END, nullptr), S_OK);
    ASSERT_EQ(WriteText(s.Get(), "\n"), S_OK);
    EXPECT_EQ(Bytes(s.Get()), "abc\r\n");
    TempDir dir;
    CfxComPtr<ISBStream> file = Open(dir.Put("f", "x"), host::FileMode::Read);
    try {
        host::MemoryStreamBytes(file.Get());
        ADD_FAILURE() << "no throw";
    } catch (const Cfx::CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_INVALIDARG);
    }
    EXPECT_THROW(host::MemoryStreamBytes(nullptr), Cfx::CfxResult);
}

}  // namespace

namespace {

// Text written in pieces that grow a memory stream past the ends of its blocks (4096 bytes
// first, then each as large as all before): what it holds and reads back, in both modes.
TEST(MemoryStream, TextAcrossItsBlocks) {
    std::string lines;
    for (int i = 0; i < 700; ++i) lines += "line " + std::to_string(i) + "\n";
    const struct {
        const char* what;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a line end split by a block's end", {std::string(4095, 'a'), "\nb"}},
        {"a CR ending a block", {std::string(4095, 'a') + "\r", "b"}},
        {"one write over several blocks", {std::string(5000, 'x'), std::string(20000, 'y') + "\n" + lines}},
        {"many small writes", std::vector<std::string>(300, "ab\ncd\n")},
    };
    for (const auto& c : cases) {
        CfxComPtr<ISBStream> s = host::CreateMemoryStream();
        std::string logical, raw;
        for (const std::string& piece : c.pieces) {
            ASSERT_EQ(WriteText(s.Get(), piece), S_OK) << c.what;
            logical += piece;
            for (char ch : piece) raw += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        }
        EXPECT_TRUE(Bytes(s.Get()) == raw) << c.what;
        ULONG size = 0;
        EXPECT_EQ(s->GetSize(&size), S_OK);
        EXPECT_EQ(size, raw.size()) << c.what;
        for (ULONG chunk : {1u, 4095u, 4096u, 70000u}) {
            ASSERT_EQ(s->Seek(0, SB_SEEK_SET, nullptr), S_OK);
            EXPECT_TRUE(ReadAll(s.Get(), chunk) == logical) << c.what << ", chunk " << chunk;
            EXPECT_EQ(Position(s.Get()), raw.size()) << c.what;
        }
        ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
        ASSERT_EQ(s->Seek(0, SB_SEEK_SET, nullptr), S_OK);
        EXPECT_TRUE(ReadAll(s.Get(), 3000) == raw) << c.what;
    }
}

// Bytes written over a block's end, and a gap left by a seek past the end over the next.
TEST(MemoryStream, BinaryWritesAcrossItsBlocks) {
    CfxComPtr<ISBStream> s = Memory("0123456789");
    ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
    ASSERT_EQ(s->Seek(9000, SB_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(WriteText(s.Get(), "z"), S_OK);
    ASSERT_EQ(s->Seek(4090, SB_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(WriteText(s.Get(), "ABCDEFGHIJKL"), S_OK);
    std::string expected = "0123456789" + std::string(8990, '\0') + "z";
    expected.replace(4090, 12, "ABCDEFGHIJKL");
    EXPECT_TRUE(Bytes(s.Get()) == expected);
    ASSERT_EQ(s->Seek(4095, SB_SEEK_SET, nullptr), S_OK);
    char two[2] = {};
    ULONG got = 0;
    ASSERT_EQ(s->Read(two, 2, &got), S_OK);
    EXPECT_EQ(std::string(two, got), "FG");
}

}  // namespace
