// CSBStreamBuf, the host-stream adapter, over a recording test stream and
// over the host's own streams.
#include <gtest/gtest.h>

#include <istream>
#include <iterator>
#include <ostream>
#include <string>
#include <typeinfo>

#include "cfx/cfx.h"
#include "frame/stream_buf.h"
#include "host/streams.h"
#include "support/recording_stream.h"
#include "support/temp_dir.h"

namespace {

using cartovane::CSBStreamBuf;
using cvtest::RecordingStream;
using Op = RecordingStream::Op;
using Traits = std::char_traits<char>;

// The adapter with its areas and protected operations in view.
class Probe : public CSBStreamBuf {
public:
    using CSBStreamBuf::CSBStreamBuf;
    using CSBStreamBuf::eback;
    using CSBStreamBuf::egptr;
    using CSBStreamBuf::gptr;
    using CSBStreamBuf::pbase;
    using CSBStreamBuf::pptr;
    using CSBStreamBuf::epptr;
    using CSBStreamBuf::overflow;
    using CSBStreamBuf::underflow;

    bool GetAreaEmpty() const { return !eback() && !gptr() && !egptr(); }
    bool PutAreaEmpty() const { return !pbase() && !pptr() && !epptr(); }
    std::string Pending() const { return pbase() ? std::string(pbase(), pptr()) : std::string(); }
    std::string Unread() const { return eback() ? std::string(gptr(), egptr()) : std::string(); }
};

const std::streampos kInvalid = std::streampos(std::streamoff(-1));

std::string Pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('A' + i % 23));
    return s;
}

std::string ReadThrough(std::streambuf* buf) {
    return std::string(std::istreambuf_iterator<char>(buf), std::istreambuf_iterator<char>());
}

// ---- construction, null stream, reference --------------------------------------------------

TEST(StreamBuf, HoldsOneReferenceAndStartsEmpty) {
    RecordingStream stream("abc");
    {
        Probe buf(&stream);
        EXPECT_EQ(stream.Refs(), 2u);
        EXPECT_TRUE(buf.GetAreaEmpty());
        EXPECT_TRUE(buf.PutAreaEmpty());
    }
    EXPECT_EQ(stream.Refs(), 1u);
    EXPECT_TRUE(stream.Calls().empty());  // nothing pending: the destructor's sync calls nothing
}

TEST(StreamBuf, NullStreamConstructsAndDestroysWithoutACall) {
    { CSBStreamBuf buf(nullptr); }
    SUCCEED();
}

TEST(StreamBuf, NullStreamThrowsAtTheFirstStreamCall) {
    auto expectNull = [](auto&& f) {
        try {
            f();
            ADD_FAILURE() << "no throw";
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), E_POINTER);
        }
    };
    {
        Probe buf(nullptr);
        expectNull([&] { buf.sgetc(); });
        expectNull([&] { buf.pubseekoff(0, std::ios_base::beg); });
        expectNull([&] { buf.pubseekpos(0); });
        EXPECT_EQ(buf.pubsync(), 0);  // nothing pending, no call
    }
    {
        Probe buf(nullptr);
        EXPECT_EQ(buf.sputc('x'), 'x');  // the first put only sets up the put area
        expectNull([&] { buf.pubsync(); });
        EXPECT_EQ(buf.Pending(), "x");
        // The destructor's sync throws the same; it is dropped.
    }
}

// ---- reading -------------------------------------------------------------------------------

TEST(StreamBuf, ZeroByteStreamIsAtEndAtOnce) {
    RecordingStream stream("");
    Probe buf(&stream);
    EXPECT_EQ(buf.sgetc(), Traits::eof());
    EXPECT_TRUE(buf.GetAreaEmpty());
    ASSERT_EQ(stream.CallsOf(Op::Read).size(), 1u);
    EXPECT_EQ(stream.Counts(Op::Read), std::vector<ULONG>({1024}));
    EXPECT_EQ(stream.Done(Op::Read), std::vector<ULONG>({0}));
    EXPECT_TRUE(stream.CallsOf(Op::Read)[0].outGiven);
}

TEST(StreamBuf, ReadsInRefillsOf1024Bytes) {
    const std::string data = Pattern(2500);
    RecordingStream stream(data);
    Probe buf(&stream);
    std::istream in(&buf);
    std::string got(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    EXPECT_TRUE(got == data);
    EXPECT_EQ(stream.Counts(Op::Read), std::vector<ULONG>({1024, 1024, 1024, 1024}));
    EXPECT_EQ(stream.Done(Op::Read), std::vector<ULONG>({1024, 1024, 452, 0}));
    EXPECT_TRUE(buf.GetAreaEmpty());
}

TEST(StreamBuf, UnderflowReturnsTheByteAtThePointerWithoutReading) {
    RecordingStream stream("\xFF" "b");
    Probe buf(&stream);
    EXPECT_EQ(buf.sgetc(), 0xFF);  // as unsigned char, never mistaken for end of file
    EXPECT_EQ(buf.underflow(), 0xFF);
    EXPECT_EQ(buf.sbumpc(), 0xFF);
    EXPECT_EQ(buf.underflow(), 'b');
    EXPECT_EQ(stream.CallsOf(Op::Read).size(), 1u);
}

TEST(StreamBuf, FailedReadIsEndOfFile) {
    const std::string data = Pattern(1500);
    {
        RecordingStream stream(data);
        stream.FailNth(Op::Read, 2, STG_E_READFAULT);
        Probe buf(&stream);
        EXPECT_EQ(ReadThrough(&buf).size(), 1024u);  // the second refill fails: end of file
        EXPECT_TRUE(buf.GetAreaEmpty());
        EXPECT_EQ(buf.sgetc(), data[1024]);  // and reading goes on once the host does
    }
    {
        RecordingStream stream(data);
        stream.FailFrom(Op::Read, 1, STG_E_READFAULT);
        Probe buf(&stream);
        std::istream in(&buf);
        char c = 0;
        EXPECT_FALSE(in.get(c));
        EXPECT_TRUE(in.eof());
        EXPECT_FALSE(in.bad());
        EXPECT_TRUE(buf.GetAreaEmpty());
    }
}

// ---- sync's back-seek ----------------------------------------------------------------------

struct BackSeekCase {
    std::string consumed;  // read through the adapter first
    std::string unread;    // left in the get area
    LONG textBack;
    LONG binaryBack;
};

TEST(StreamBuf, SyncSeeksBackOverUnreadBytes) {
    const BackSeekCase cases[] = {
        {"", "x\r\ny", 4, 4},   // the LF follows a CR: adds nothing
        {"", "\ny", 3, 2},      // a leading LF counts
        {"", "x\ny", 4, 3},
        {"\r", "\ny", 3, 2},    // the byte before the first unread one is not examined
        {"ab", "\n\n", 4, 2},
        {"", "\r\n\r\n", 4, 4},
        {"", "\n\r\n", 4, 3},
        {"", "plain", 5, 5},
        {"", "\r", 1, 1},
    };
    for (bool binary : {false, true})
        for (const BackSeekCase& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.consumed + c.unread) + (binary ? " binary" : " text"));
            // Padding first, so that the back-seek never reaches before the stream's start.
            const std::string consumed = "PPPP" + c.consumed;
            RecordingStream stream(consumed + c.unread, binary);
            Probe buf(&stream);
            for (std::size_t i = 0; i < consumed.size(); ++i) buf.sbumpc();
            ASSERT_NE(buf.sgetc(), Traits::eof());
            ASSERT_EQ(buf.Unread(), c.unread);
            stream.ClearCalls();
            EXPECT_EQ(buf.pubsync(), 0);
            ASSERT_EQ(stream.Calls().size(), 2u);
            EXPECT_EQ(stream.Calls()[0].op, Op::GetBinaryMode);
            const RecordingStream::Call& seek = stream.Calls()[1];
            EXPECT_EQ(seek.op, Op::Seek);
            EXPECT_EQ(seek.offset, -(binary ? c.binaryBack : c.textBack));
            EXPECT_EQ(seek.origin, SB_SEEK_CUR);
            EXPECT_FALSE(seek.outGiven);
            EXPECT_TRUE(buf.GetAreaEmpty());
            EXPECT_EQ(stream.Position(), consumed.size() + c.unread.size() -
                                             static_cast<std::size_t>(binary ? c.binaryBack : c.textBack));
        }
}

TEST(StreamBuf, SyncWithAnExhaustedGetAreaSeeksByZero) {
    RecordingStream stream("ab");
    Probe buf(&stream);
    buf.sbumpc();
    buf.sbumpc();
    stream.ClearCalls();
    EXPECT_EQ(buf.pubsync(), 0);
    ASSERT_EQ(stream.CallsOf(Op::Seek).size(), 1u);
    EXPECT_EQ(stream.CallsOf(Op::Seek)[0].offset, 0);
    EXPECT_EQ(stream.Position(), 2u);
}

TEST(StreamBuf, FailedSeekInSyncReturnsMinusOneAndKeepsTheGetArea) {
    RecordingStream stream("hello");
    stream.FailNth(Op::Seek, 1);
    Probe buf(&stream);
    buf.sbumpc();
    EXPECT_EQ(buf.pubsync(), -1);
    EXPECT_EQ(buf.Unread(), "ello");
    EXPECT_EQ(buf.sbumpc(), 'e');  // reading goes on from the kept area
    EXPECT_EQ(buf.pubsync(), 0);
    EXPECT_EQ(stream.CallsOf(Op::Seek).back().offset, -3);
    EXPECT_EQ(stream.Position(), 2u);
}

TEST(StreamBuf, FailingGetBinaryModeThrowsTheLastError) {
    // The stream records its failure as the last error: that is what is thrown.
    {
        RecordingStream stream("abc");
        stream.FailNth(Op::GetBinaryMode, 1, STG_E_READFAULT);
        stream.RecordLastError(true);
        Probe buf(&stream);
        buf.sgetc();
        try {
            buf.pubsync();
            ADD_FAILURE() << "no throw";
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), STG_E_READFAULT);
            EXPECT_EQ(r.Description(), "RecordingStream: injected GetBinaryMode failure");
        }
        EXPECT_TRUE(stream.CallsOf(Op::Seek).empty());
        EXPECT_EQ(buf.Unread(), "abc");
    }
    // Nothing recorded (the last error reads S_OK): the call's own failure is thrown.
    {
        Cfx::ClearLastError();
        RecordingStream stream("abc");
        stream.FailNth(Op::GetBinaryMode, 1, E_ACCESSDENIED);
        Probe buf(&stream);
        buf.sgetc();
        try {
            buf.pubsync();
            ADD_FAILURE() << "no throw";
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), E_ACCESSDENIED);
        }
    }
}

TEST(StreamBuf, DestructorSwallowsAFailingGetBinaryMode) {
    RecordingStream stream("abc");
    stream.FailFrom(Op::GetBinaryMode, 1, E_FAIL);
    stream.RecordLastError(true);
    {
        Probe buf(&stream);
        std::istream in(&buf);
        char c = 0;
        in.get(c);
        EXPECT_EQ(c, 'a');
        // Through the standard stream the throw is swallowed and becomes badbit.
        in.sync();
        EXPECT_TRUE(in.bad());
    }  // the destructor's sync throws again: dropped
    EXPECT_EQ(stream.Refs(), 1u);
    EXPECT_EQ(stream.CallsOf(Op::GetBinaryMode).size(), 2u);
}

// ---- writing -------------------------------------------------------------------------------

TEST(StreamBuf, Writes3000BytesAs1024And1024ThenTheRestOnFlush) {
    const std::string data = Pattern(3000);
    RecordingStream stream;
    Probe buf(&stream);
    std::ostream out(&buf);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    EXPECT_EQ(stream.Counts(Op::Write), std::vector<ULONG>({1024, 1024}));
    EXPECT_EQ(buf.Pending().size(), 952u);
    out.flush();
    EXPECT_TRUE(out.good());
    EXPECT_EQ(stream.Counts(Op::Write), std::vector<ULONG>({1024, 1024, 952}));
    for (const auto& call : stream.CallsOf(Op::Write)) EXPECT_TRUE(call.outGiven);
    EXPECT_TRUE(buf.PutAreaEmpty());
    EXPECT_TRUE(stream.Data() == data);
}

TEST(StreamBuf, DestructionWritesWhatIsPending) {
    const std::string data = Pattern(3000);
    RecordingStream stream;
    {
        CSBStreamBuf buf(&stream);
        std::ostream out(&buf);
        out << data;
    }
    EXPECT_EQ(stream.Counts(Op::Write), std::vector<ULONG>({1024, 1024, 952}));
    EXPECT_TRUE(stream.Data() == data);
    EXPECT_EQ(stream.Refs(), 1u);
}

TEST(StreamBuf, OverflowWithEofSetsUpThePutAreaAndReturnsZero) {
    RecordingStream stream;
    Probe buf(&stream);
    EXPECT_EQ(buf.overflow(Traits::eof()), 0);
    EXPECT_EQ(buf.epptr() - buf.pbase(), 1024);
    EXPECT_EQ(buf.pptr(), buf.pbase());
    EXPECT_TRUE(stream.Calls().empty());
    EXPECT_EQ(buf.overflow('q'), 'q');
    EXPECT_EQ(buf.Pending(), "q");
}

TEST(StreamBuf, FailedOrShortWriteInOverflowIsEndOfFile) {
    for (bool shortWrite : {false, true}) {
        SCOPED_TRACE(shortWrite ? "short write" : "failed write");
        RecordingStream stream;
        if (shortWrite)
            stream.SetWriteLimit(1000);
        else
            stream.FailNth(Op::Write, 1, STG_E_WRITEFAULT);
        Probe buf(&stream);
        for (int i = 0; i < 1024; ++i) ASSERT_EQ(buf.sputc('w'), 'w');
        EXPECT_EQ(buf.sputc('!'), Traits::eof());
        EXPECT_TRUE(buf.PutAreaEmpty());
        EXPECT_EQ(stream.Counts(Op::Write), std::vector<ULONG>({1024}));
    }
    // Through a standard stream the failure sets badbit.
    RecordingStream stream;
    stream.FailFrom(Op::Write, 1);
    Probe buf(&stream);
    std::ostream out(&buf);
    out << Pattern(2000);
    EXPECT_TRUE(out.bad());
}

// A short write in sync must not go unseen: the unwritten bytes stay for the next sync.
TEST(StreamBuf, ShortWriteInSyncReturnsMinusOneAndKeepsTheTail) {
    const std::string data = Pattern(100);
    RecordingStream stream;
    stream.SetWriteLimit(30);
    Probe buf(&stream);
    ASSERT_EQ(buf.sputn(data.data(), 100), 100);
    EXPECT_EQ(buf.pubsync(), -1);
    EXPECT_TRUE(stream.CallsOf(Op::Write)[0].outGiven);
    EXPECT_EQ(stream.Data(), data.substr(0, 30));
    EXPECT_EQ(buf.Pending(), data.substr(30));  // the unwritten tail, at the start of the area
    EXPECT_EQ(buf.pbase(), buf.epptr() - 1024);
    EXPECT_EQ(buf.pubsync(), -1);  // 30 more
    stream.SetWriteLimit(0);
    EXPECT_EQ(buf.sputc('+'), '+');
    EXPECT_EQ(buf.pubsync(), 0);
    EXPECT_EQ(stream.Counts(Op::Write), std::vector<ULONG>({100, 70, 41}));
    EXPECT_EQ(stream.Data(), data + "+");
    EXPECT_TRUE(buf.PutAreaEmpty());
}

TEST(StreamBuf, FailedWriteInSyncReturnsMinusOneAndKeepsThePutArea) {
    RecordingStream stream;
    stream.FailNth(Op::Write, 1, STG_E_WRITEFAULT);
    Probe buf(&stream);
    ASSERT_EQ(buf.sputn("pending", 7), 7);
    EXPECT_EQ(buf.pubsync(), -1);
    EXPECT_EQ(buf.Pending(), "pending");
    EXPECT_EQ(buf.pubsync(), 0);
    EXPECT_EQ(stream.Data(), "pending");
}

TEST(StreamBuf, PutAreaNeverDropsBytesSilentlyOnDestruction) {
    RecordingStream stream;
    stream.SetWriteLimit(4);
    {
        CSBStreamBuf buf(&stream);
        buf.sputn("abcdefgh", 8);
    }  // destructor's sync: a short write, reported as -1 and dropped with the adapter
    EXPECT_EQ(stream.Data(), "abcd");
    EXPECT_EQ(stream.Refs(), 1u);
}

// ---- seeking -------------------------------------------------------------------------------

TEST(StreamBuf, SeekoffBeginningRewindsAfterEmptyingBothAreas) {
    {
        RecordingStream stream("0123456789");
        Probe buf(&stream);
        buf.sbumpc();
        buf.sbumpc();
        stream.ClearCalls();
        EXPECT_EQ(buf.pubseekoff(0, std::ios_base::beg), std::streampos(0));
        EXPECT_TRUE(buf.GetAreaEmpty());
        ASSERT_EQ(stream.CallsOf(Op::Seek).size(), 2u);
        EXPECT_EQ(stream.CallsOf(Op::Seek)[0].offset, -8);  // sync's back-seek
        EXPECT_EQ(stream.CallsOf(Op::Seek)[1].offset, 0);
        EXPECT_EQ(stream.CallsOf(Op::Seek)[1].origin, SB_SEEK_SET);
        EXPECT_TRUE(stream.CallsOf(Op::Seek)[1].outGiven);
        EXPECT_EQ(ReadThrough(&buf), "0123456789");
    }
    {
        RecordingStream stream;
        Probe buf(&stream);
        buf.sputn("abc", 3);
        EXPECT_EQ(buf.pubseekoff(0, std::ios_base::beg), std::streampos(0));
        EXPECT_TRUE(buf.PutAreaEmpty());
        EXPECT_EQ(stream.Data(), "abc");
        ASSERT_EQ(stream.Calls().size(), 2u);
        EXPECT_EQ(stream.Calls()[0].op, Op::Write);
        EXPECT_EQ(stream.Calls()[1].op, Op::Seek);
        buf.sputn("X", 1);
        buf.pubsync();
        EXPECT_EQ(stream.Data(), "Xbc");
    }
}

TEST(StreamBuf, SeekMapsTheDirectionAndReturnsTheNewPosition) {
    RecordingStream stream("0123456789");
    Probe buf(&stream);
    EXPECT_EQ(buf.pubseekoff(4, std::ios_base::beg), std::streampos(4));
    EXPECT_EQ(buf.pubseekoff(2, std::ios_base::cur), std::streampos(6));
    EXPECT_EQ(buf.pubseekoff(-3, std::ios_base::end), std::streampos(7));
    EXPECT_EQ(buf.pubseekpos(1), std::streampos(1));
    EXPECT_EQ(buf.sbumpc(), '1');
    std::vector<DWORD> origins;
    for (const auto& c : stream.CallsOf(Op::Seek))
        if (c.outGiven) origins.push_back(c.origin);
    EXPECT_EQ(origins, std::vector<DWORD>({SB_SEEK_SET, SB_SEEK_CUR, SB_SEEK_END, SB_SEEK_SET}));
    // `which` is not consulted: input and output share one position.
    EXPECT_EQ(buf.pubseekoff(0, std::ios_base::cur, std::ios_base::out), std::streampos(2));
    // A failed Seek is the invalid position.
    stream.FailFrom(Op::Seek, 1);
    EXPECT_EQ(buf.pubseekoff(1, std::ios_base::beg), kInvalid);
    EXPECT_EQ(buf.pubseekpos(1), kInvalid);
}

TEST(StreamBuf, UnknownDirectionIsTheInvalidPositionWithoutSeeking) {
    RecordingStream stream("abc");
    Probe buf(&stream);
    EXPECT_EQ(buf.pubseekoff(0, static_cast<std::ios_base::seekdir>(3)), kInvalid);
    EXPECT_TRUE(stream.CallsOf(Op::Seek).empty());
}

TEST(StreamBuf, OffsetsThatDoNotFit32BitsThrowBadCast) {
    RecordingStream stream("abc");
    Probe buf(&stream);
    const std::streamoff two31 = std::streamoff(1) << 31;
    auto expectBadCast = [](auto&& f) {
        try {
            f();
            ADD_FAILURE() << "no throw";
        } catch (const std::bad_cast& e) {
            EXPECT_STREQ(e.what(), "bad cast");
            EXPECT_EQ(Cfx::ExceptionText(e), "bad cast");
        }
    };
    expectBadCast([&] { buf.pubseekoff(two31, std::ios_base::beg); });
    expectBadCast([&] { buf.pubseekoff(-two31 - 1, std::ios_base::cur); });
    expectBadCast([&] { buf.pubseekpos(std::streampos(two31)); });
    expectBadCast([&] { buf.pubseekpos(std::streampos(-1)); });
    EXPECT_TRUE(stream.CallsOf(Op::Seek).empty());
    // The extremes that fit reach the stream.
    EXPECT_EQ(buf.pubseekoff(two31 - 1, std::ios_base::beg), std::streampos(two31 - 1));
    EXPECT_EQ(buf.pubseekpos(std::streampos(two31 - 1)), std::streampos(two31 - 1));
    EXPECT_EQ(buf.pubseekoff(-two31, std::ios_base::cur), kInvalid);  // the stream refuses < 0
    ASSERT_EQ(stream.CallsOf(Op::Seek).size(), 3u);
    EXPECT_EQ(stream.CallsOf(Op::Seek)[2].offset, std::numeric_limits<LONG>::min());
}

// A seek after a failed sync would start from the wrong position, so it does not happen.
TEST(StreamBuf, SeeksDoNothingWhenSyncFails) {
    {
        RecordingStream stream;
        stream.FailFrom(Op::Write, 1, STG_E_WRITEFAULT);
        Probe buf(&stream);
        buf.sputn("abc", 3);
        EXPECT_EQ(buf.pubseekoff(10, std::ios_base::beg), kInvalid);
        EXPECT_EQ(buf.pubseekpos(10), kInvalid);
        EXPECT_TRUE(stream.CallsOf(Op::Seek).empty());
        EXPECT_EQ(buf.Pending(), "abc");
        stream.ClearFaults();
        EXPECT_EQ(buf.pubseekpos(1), std::streampos(1));  // sync succeeds now, then the seek
        EXPECT_EQ(stream.Data(), "abc");
    }
    {
        RecordingStream stream("abcdef");
        stream.FailNth(Op::Seek, 1);
        Probe buf(&stream);
        buf.sbumpc();
        EXPECT_EQ(buf.pubseekoff(0, std::ios_base::end), kInvalid);
        EXPECT_EQ(stream.CallsOf(Op::Seek).size(), 1u);  // only sync's back-seek
        EXPECT_EQ(buf.Unread(), "bcdef");
    }
}

// ---- over the host's own streams -----------------------------------------------------------

TEST(StreamBuf, TextModeRoundTripOverTheHostFileStream) {
    cvtest::TempDir dir;
    const std::string path = dir.File("round.car");
    {
        CfxComPtr<ISBStream> s;
        ASSERT_EQ(host::CreateFileStream(path, host::FileMode::Write, s.Out()), S_OK);
        CSBStreamBuf buf(s.Get());
        std::ostream out(&buf);
        out << "!BIOSYM archive 3\n";
        for (int i = 0; i < 500; ++i) out << "atom " << i << "\n";
        out << "end\n";
        EXPECT_TRUE(out.flush());
        EXPECT_EQ(host::CommitFileStream(s.Get()), S_OK);
    }
    const std::string raw = cvtest::TempDir::Slurp(path);
    EXPECT_EQ(raw.substr(0, 19), "!BIOSYM archive 3\r\n");
    CfxComPtr<ISBStream> s;
    ASSERT_EQ(host::CreateFileStream(path, host::FileMode::Read, s.Out()), S_OK);
    CSBStreamBuf buf(s.Get());
    std::istream in(&buf);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "!BIOSYM archive 3");
    // tellg is the raw position in the file: sync counts each unread LF as CR LF.
    std::streampos mark = in.tellg();
    EXPECT_EQ(mark, std::streampos(19));
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "atom 0");
    for (int i = 1; i < 500; ++i) {
        ASSERT_TRUE(std::getline(in, line));
        EXPECT_EQ(line, "atom " + std::to_string(i));
    }
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "end");
    EXPECT_FALSE(std::getline(in, line));
    in.clear();
    in.seekg(mark);
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "atom 0");
    in.seekg(0, std::ios_base::end);
    EXPECT_EQ(in.tellg(), std::streampos(static_cast<std::streamoff>(raw.size())));
}

TEST(StreamBuf, BinaryModeOverTheHostMemoryStream) {
    CfxComPtr<ISBStream> s = host::CreateMemoryStream();
    ASSERT_EQ(s->SetBinaryMode(VARIANT_TRUE), S_OK);
    const std::string data = std::string("a\r\nb\n\0c", 7) + Pattern(2000);
    {
        CSBStreamBuf buf(s.Get());
        std::ostream out(&buf);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    std::vector<char> bytes = host::MemoryStreamBytes(s.Get());
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == data);
    ASSERT_EQ(s->Seek(0, SB_SEEK_SET, nullptr), S_OK);
    CSBStreamBuf buf(s.Get());
    std::istream in(&buf);
    char head[5];
    ASSERT_TRUE(in.read(head, 5));
    EXPECT_EQ(in.tellg(), std::streampos(5));  // binary: unread bytes count once
    EXPECT_TRUE(ReadThrough(&buf) == data.substr(5));
}

}  // namespace
