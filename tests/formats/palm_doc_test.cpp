#include "engine/formats/palm_doc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/fake_device.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using record_db_fixtures::BuildDb;
using record_db_fixtures::GetBE;
using record_db_fixtures::MemDb;
using record_db_fixtures::ParseRecords;
using record_db_fixtures::PutBE;

const DocHandlerOps& Ops() {
  return DocOpsOf(&PalmDocModule);
}

// Record 0 of a Palm Doc database.
std::string Record0(int compression, std::uint32_t textRecords, std::uint32_t recordSize = 4096,
                    std::uint32_t textLength = 0) {
  std::string r;
  PutBE(r, static_cast<std::uint32_t>(compression), 2);
  PutBE(r, 0, 2);
  PutBE(r, textLength, 4);
  PutBE(r, textRecords, 2);
  PutBE(r, recordSize, 2);
  PutBE(r, 0, 4);
  return r;
}

// A bookmark record: 16 name bytes as given (padded with zeros), then the
// position.
std::string Bookmark(const std::string& name, std::uint32_t position) {
  std::string r = name;
  r.resize(16, '\0');
  PutBE(r, position, 4);
  return r;
}

// A stored Palm Doc database of `text` in records of `recordBytes`.
std::string StoredDoc(const std::string& text, std::size_t recordBytes,
                      const std::vector<std::string>& bookmarks = {}) {
  std::vector<std::string> records;
  for (std::size_t at = 0; at < text.size(); at += recordBytes)
    records.push_back(text.substr(at, recordBytes));
  records.insert(records.begin(), Record0(1, static_cast<std::uint32_t>(records.size())));
  records.insert(records.end(), bookmarks.begin(), bookmarks.end());
  return BuildDb(records);
}

struct HandlerCloser {
  void operator()(EngineObject* h) const noexcept { EXPECT_EQ(Ops().destroy(h), kOk); }
};
using HandlerPtr = std::unique_ptr<EngineObject, HandlerCloser>;

// A handler opened on db; with `steps` >= 0 only that many background steps
// are run, else all of them.
HandlerPtr OpenOn(EngineObject* db, int steps = -1) {
  EngineObject* h = nullptr;
  EXPECT_EQ(Ops().create(&PalmDocModule, &h), kOk);
  HandlerPtr handler(h);
  EXPECT_EQ(Ops().command(h, DocCommand::OpenDatabase, db, 0), kOk);
  for (int k = 0; steps < 0 || k < steps; ++k) {
    const StatusCode s = Ops().backgroundStep(h);
    if (s == kDocStepDone) break;
    EXPECT_EQ(s, kOk);
    if (s != kOk) break;
  }
  return handler;
}

const PalmDocBody& BodyOf(const HandlerPtr& h) {
  return *static_cast<const PalmDocBody*>(h->state);
}

std::uint32_t TextLength(EngineObject* h) {
  std::uint32_t n = 0;
  EXPECT_EQ(Ops().getTextLength(h, &n), kOk);
  return n;
}

// The whole text read forwards in windows, checking each window's limits.
std::string ReadForward(EngineObject* h) {
  std::string out;
  const std::uint32_t length = TextLength(h);
  while (out.size() < length) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 5000;
    const StatusCode s = Ops().getText(h, static_cast<std::uint32_t>(out.size()), &text, &n);
    EXPECT_EQ(s, kOk);
    EXPECT_GT(n, 0u);
    EXPECT_LE(n, 4096u);
    if (s != kOk || n == 0) break;
    out.append(reinterpret_cast<const char*>(text), n);
  }
  const std::uint8_t* text = reinterpret_cast<const std::uint8_t*>(1);
  std::uint32_t n = 10;
  EXPECT_EQ(Ops().getText(h, length, &text, &n), kOk);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(n, 0u);
  return out;
}

// The whole text read backwards from the end.
std::string ReadBackward(EngineObject* h) {
  std::string out;
  std::uint32_t p = TextLength(h);
  while (p > 0) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 3000;
    const StatusCode s = Ops().getTextBefore(h, p, &text, &n);
    EXPECT_EQ(s, kOk);
    EXPECT_GT(n, 0u);
    if (s != kOk || n == 0) break;
    out.insert(0, reinterpret_cast<const char*>(text), n);
    p -= n;
  }
  return out;
}

std::string Latin1Prose(std::size_t length, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* const kWords[] = {"caf\xE9 ", "\xE9t\xE9 ", "na\xEFve ",
                                       "the ",     "reader ",    "\xA9 2026 ",
                                       "words\n",  "line\r\n",   "\x80\x99\xFF "};
  std::string s;
  while (s.size() < length)
    s += kWords[rng() % std::size(kWords)];
  s.resize(length);
  return s;
}

// ---- probes ---------------------------------------------------------------------

TEST(PalmDocProbe, AnswersForTheTextType) {
  EngineObject* cls = &PalmDocModule;
  const std::string header = BuildDb({}).substr(0, 78);
  std::string other = header;
  other.replace(60, 4, "RaZo");
  EXPECT_EQ(Ops().command(cls, DocCommand::ProbeNone, nullptr, 0), kMalformed);
  EXPECT_EQ(Ops().command(cls, DocCommand::ProbeHeader, const_cast<char*>(header.data()), 78),
            kDocProbeMine);
  EXPECT_EQ(Ops().command(cls, DocCommand::ProbeHeader, const_cast<char*>(header.data()), 77),
            kMalformed);
  EXPECT_EQ(Ops().command(cls, DocCommand::ProbeHeader, const_cast<char*>(other.data()), 78),
            kMalformed);
  for (const std::string& bytes : {BuildDb({"x"}), BuildDb({"x"}, "RaZo")}) {
    const StatusCode want = bytes == BuildDb({"x"}) ? kDocProbeMine : kMalformed;
    MemDb mem(bytes);
    EXPECT_EQ(Ops().command(cls, DocCommand::ProbeDatabase, mem.db(), 0), want);
    EngineObject* stream = nullptr;
    ASSERT_EQ(
        MemStream_Create(g_MemStreamModule, const_cast<char*>(bytes.data()),
                         static_cast<std::uint32_t>(bytes.size()),
                         static_cast<std::uint32_t>(bytes.size()), kMemCreateCallerOwns, &stream),
        kOk);
    EXPECT_EQ(Ops().command(cls, DocCommand::ProbeStream, stream, 0), want);
    EXPECT_EQ(StreamOf(stream).close(stream), kOk);
  }
  // A stream too short for a header.
  EngineObject* stream = nullptr;
  ASSERT_EQ(MemStream_Create(g_MemStreamModule, const_cast<char*>(header.data()), 70, 70,
                             kMemCreateCallerOwns, &stream),
            kOk);
  EXPECT_EQ(Ops().command(cls, DocCommand::ProbeStream, stream, 0), kMalformed);
  EXPECT_EQ(StreamOf(stream).close(stream), kOk);
  EXPECT_EQ(Ops().command(cls, 99, nullptr, 0), kMalformed);
}

// ---- real files from the peer -------------------------------------------------------

struct PeerCase {
  const char* what;
  std::string text;
};

std::vector<PeerCase> PeerCases() {
  std::string runs;
  std::mt19937 rng(123);
  while (runs.size() < 30000)
    runs += std::string(1 + rng() % 700, "ab \xE9\n"[rng() % 5]);
  return {
      {"Latin-1 prose", Latin1Prose(20000, 1)},
      {"long runs", runs},
      {"exactly two records", Latin1Prose(8192, 2)},
      {"exactly forty records", Latin1Prose(40 * 4096, 3)},
      {"one byte", "x"},
      {"one short record", Latin1Prose(100, 4)},
  };
}

TEST(PalmDocPeer, FilesFromTheConverterReadBackExactly) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  TempDir dir;
  for (const PeerCase& c : PeerCases()) {
    for (const bool compressed : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (compressed ? ", compressed" : ", stored"));
      WriteFileBytes(dir.File("in.txt"), c.text);
      int status = -1;
      RunPeer(std::string("txt2pdbdoc -b ") + (compressed ? "" : "-c ") + "Title '" +
                  dir.File("in.txt") + "' '" + dir.File("doc.pdb") + "'",
              "", &status);
      ASSERT_EQ(status, 0);
      RunPeer("txt2pdbdoc -d '" + dir.File("doc.pdb") + "' '" + dir.File("back.txt") + "'", "",
              &status);
      ASSERT_EQ(status, 0);
      const std::string pdb = ReadFileBytes(dir.File("doc.pdb"));
      const std::string peer = ReadFileBytes(dir.File("back.txt"));
      MemDb mem(pdb);
      HandlerPtr h = OpenOn(mem.db());
      const PalmDocBody& b = BodyOf(h);
      EXPECT_EQ(b.compression, compressed ? 2 : 1);
      EXPECT_EQ(TextLength(h.get()), c.text.size());
      // The converter stores the text length in record 0, which the handler
      // does not read: it must agree with what was measured.
      EXPECT_EQ(GetBE(ParseRecords(pdb).at(0), 4, 4), TextLength(h.get()));
      const std::string forward = ReadForward(h.get());
      EXPECT_TRUE(forward == c.text) << "forward reading differs from the source";
      EXPECT_TRUE(forward == peer) << "forward reading differs from the converter's decoding";
      EXPECT_TRUE(ReadBackward(h.get()) == c.text) << "backward reading differs";
      // Exact multiples of the record size take the division path.
      EXPECT_EQ(b.recordSize != 0, c.text.size() % 4096 == 0);
    }
  }
}

TEST(PalmDocPeer, MoreThan128RecordsAtRandomPositions) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  TempDir dir;
  const std::string text = Latin1Prose(300 * 4096 - 1234, 9);
  WriteFileBytes(dir.File("in.txt"), text);
  int status = -1;
  RunPeer("txt2pdbdoc -b Big '" + dir.File("in.txt") + "' '" + dir.File("big.pdb") + "'", "",
          &status);
  ASSERT_EQ(status, 0);
  MemDb mem(ReadFileBytes(dir.File("big.pdb")));
  HandlerPtr h = OpenOn(mem.db());
  const PalmDocBody& b = BodyOf(h);
  ASSERT_EQ(b.textRecords, 300);
  EXPECT_EQ(b.recordSize, 0) << "the short last record sends positions through the table";
  EXPECT_EQ(b.sampleCount, 128);
  // Entry k samples record ceil(300 (k + 1) / 128) - 1: records 2, 4, 7, ...
  for (std::uint32_t k = 0; k < 128; ++k) {
    const std::uint32_t record = (300 * (k + 1) + 127) / 128 - 1;
    EXPECT_EQ(b.startTable[k], record * 4096) << k;
  }
  EXPECT_EQ(b.startTable[0], 2u * 4096);
  EXPECT_EQ(b.startTable[1], 4u * 4096);
  EXPECT_EQ(b.startTable[2], 7u * 4096);
  std::mt19937 rng(5);
  for (int k = 0; k < 300; ++k) {
    const std::uint32_t p = rng() % text.size();
    const std::uint8_t* t = nullptr;
    std::uint32_t n = 1 + rng() % 6000;
    const bool before = k % 2 == 1 && p > 0;
    ASSERT_EQ(before ? Ops().getTextBefore(h.get(), p, &t, &n) : Ops().getText(h.get(), p, &t, &n),
              kOk);
    ASSERT_GT(n, 0u);
    const std::uint32_t from = before ? p - n : p;
    ASSERT_TRUE(std::memcmp(t, text.data() + from, n) == 0) << "position " << p;
    // Windows stop at record ends.
    EXPECT_EQ(from / 4096, (from + n - 1) / 4096);
  }
}

// ---- hand-made databases ---------------------------------------------------------------

TEST(PalmDocText, SampledTableForThreeHundredRecords) {
  // Stored records of 1000 bytes: not the record size, so the table is used.
  const std::string text = Latin1Prose(300 * 1000, 11);
  MemDb mem(StoredDoc(text, 1000));
  HandlerPtr h = OpenOn(mem.db());
  const PalmDocBody& b = BodyOf(h);
  EXPECT_EQ(b.recordSize, 0);
  EXPECT_EQ(b.sampleCount, 128);
  for (std::uint32_t k = 0; k < 128; ++k)
    EXPECT_EQ(b.startTable[k], ((300 * (k + 1) + 127) / 128 - 1) * 1000) << k;
  // Every record start and end maps to the right record.
  for (std::uint32_t r = 0; r < 300; ++r) {
    for (const std::uint32_t p : {r * 1000, r * 1000 + 999}) {
      std::uint32_t record = 0, start = 0;
      PalmDoc_FindRecord(b, p, &record, &start);
      EXPECT_LE(start, p);
      EXPECT_LE(record, r);
      EXPECT_EQ(start, record * 1000);
      EXPECT_LE(r - record, 3u) << "forward walk of at most ceil(300 / 128) records";
    }
  }
  EXPECT_TRUE(ReadForward(h.get()) == text);
}

TEST(PalmDocText, OpenedWhileMeasuringIsPartDone) {
  // Ten stored records of 3000 bytes (the table path), three measured.
  const std::string text = Latin1Prose(30000, 12);
  MemDb mem(StoredDoc(text, 3000));
  HandlerPtr h = OpenOn(mem.db(), 3);
  EXPECT_EQ(TextLength(h.get()), 9000u);
  std::uint32_t start = 1, end = 0;
  ASSERT_EQ(Ops().getSectionRange(h.get(), 0, &start, &end), kOk);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 9000u);
  EXPECT_EQ(Ops().findSection(h.get(), 9000, nullptr, nullptr, nullptr), kNoMore);
  EXPECT_TRUE(ReadForward(h.get()) == text.substr(0, 9000));
  EXPECT_TRUE(ReadBackward(h.get()) == text.substr(0, 9000));
  const std::uint8_t* t = nullptr;
  std::uint32_t n = 100;
  ASSERT_EQ(Ops().getText(h.get(), 9500, &t, &n), kOk);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(n, 0u);
  // The table holds only the measured records; positions past them are not
  // served, and finishing the steps serves all.
  EXPECT_EQ(PalmDoc_DecodeRecord(const_cast<PalmDocBody&>(BodyOf(h)), 9500, 0), kDocBeyondDecoded);
  int steps = 0;
  while (Ops().backgroundStep(h.get()) == kOk)
    ++steps;
  EXPECT_EQ(steps, 7);
  EXPECT_EQ(Ops().backgroundStep(h.get()), kDocStepDone);
  EXPECT_TRUE(ReadForward(h.get()) == text);
}

TEST(PalmDocText, RecordZeroAndRecordLimits) {
  // 'a' then 500 copies of ten: 5001 bytes decoded, 4096 kept.
  std::string longCopy = "a";
  for (int k = 0; k < 500; ++k)
    longCopy += "\x80\x0F";
  struct Case {
    const char* what;
    std::vector<std::string> records;
    std::string text;
  };
  const Case cases[] = {
      {"no records at all", {}, ""},
      {"record 0 only", {Record0(2, 0)}, ""},
      {"record 0 too short: defaults, no text records", {std::string("\0\x02\0\0", 4), "abc"}, ""},
      {"count cut to the records present", {Record0(1, 9), "abc", "de"}, "abcde"},
      {"unknown compression reads as stored", {Record0(7, 1), "\xC1\x80"}, "\xC1\x80"},
      {"compressed: 0xC1 is a space and A", {Record0(2, 1), "\xC1"}, " A"},
      {"stored record cut to 4096",
       {Record0(1, 1), std::string(5000, 'z')},
       std::string(4096, 'z')},
      {"compressed record cut to 4096", {Record0(2, 1), longCopy}, std::string(4096, 'a')},
      {"empty text records", {Record0(1, 3), "", "xy", ""}, "xy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemDb mem(BuildDb(c.records));
    HandlerPtr h = OpenOn(mem.db());
    EXPECT_TRUE(ReadForward(h.get()) == c.text);
  }
}

TEST(PalmDocText, DamagedRecordsStillShowTheirText) {
  // A back reference of distance 0, and one reaching before the output: the
  // distance is cut to the output so far, and with nothing to copy from the
  // copy gives spaces. The records around them read as they are.
  struct Case {
    std::string bad;
    std::string text;
  };
  for (const Case& c :
       {Case{std::string("abc\x80\x00", 5), "abc   "}, Case{std::string("\x80\x18", 2), "   "},
        Case{std::string("ab\xBF\xFF", 4), "ab" + std::string("ababababab")}}) {
    MemDb mem(BuildDb({Record0(2, 3), "good", c.bad, "end"}));
    HandlerPtr h = OpenOn(mem.db());
    EXPECT_EQ(Ops().backgroundStep(h.get()), kDocStepDone);
    const std::string want = "good" + c.text + "end";
    EXPECT_TRUE(ReadForward(h.get()) == want);
    EXPECT_TRUE(ReadBackward(h.get()) == want);
  }
}

// A database object that forwards to a real one and counts record reads.
class CountingDb {
 public:
  explicit CountingDb(EngineObject* real) : object_{real, &Table()} { reads_ = 0; }
  EngineObject* db() { return &object_; }
  static std::uint32_t Reads() { return reads_; }
  static void Reset() { reads_ = 0; }

 private:
  static EngineObject* Real(EngineObject* o) { return static_cast<EngineObject*>(o->state); }
  static const DbFileOps& Table() {
    static const DbFileOps table = [] {
      DbFileOps t = OpsOf<DbFileOps>(g_DbFileModule);
      t.getInfo = [](EngineObject* o, char* name, std::uint8_t* type, std::uint8_t* creator,
                     std::uint16_t* attributes, std::uint16_t* version,
                     std::uint16_t* count) noexcept {
        return DbFile_GetInfo(Real(o), name, type, creator, attributes, version, count);
      };
      t.readRecord = [](EngineObject* o, std::uint16_t index, std::uint32_t* size,
                        void** buffer) noexcept {
        ++reads_;
        return DbFile_ReadRecord(Real(o), index, size, buffer);
      };
      t.freeRecordBuffer = [](EngineObject* o, void* buffer) noexcept {
        return DbFile_FreeRecordBuffer(Real(o), buffer);
      };
      return t;
    }();
    return table;
  }
  static inline std::uint32_t reads_ = 0;
  EngineObject object_;
};

// Reading on in either direction reads each text record about once, however
// small the records: positions are found from the record held in a buffer,
// not by walking from a start-table sample every time.
TEST(PalmDocText, ReadingEitherWayReadsEachRecordOnce) {
  constexpr std::uint32_t kRecords = 3000;  // 24 records between samples
  std::string text;
  std::vector<std::string> records;
  for (std::uint32_t k = 0; k < kRecords; ++k) {
    // Compressed records of one or two bytes: a literal, or a space pair.
    const bool pair = k % 3 == 0;
    records.push_back(std::string(1, static_cast<char>(pair ? 0xC1 + k % 26 : 'a' + k % 26)));
    text += pair ? std::string(" ") + static_cast<char>('A' + k % 26)
                 : std::string(1, static_cast<char>('a' + k % 26));
  }
  for (const int compression : {2, 1}) {
    SCOPED_TRACE(compression == 2 ? "compressed" : "stored");
    std::vector<std::string> all = records;
    all.insert(all.begin(), Record0(compression, kRecords));
    MemDb mem(BuildDb(all));
    CountingDb counting(mem.db());
    HandlerPtr h = OpenOn(counting.db());
    const std::string want = compression == 2 ? text : [&] {
      std::string stored;
      for (const std::string& r : records)
        stored += r;
      return stored;
    }();
    ASSERT_EQ(BodyOf(h).recordSize, 0) << "positions go through the start table";
    CountingDb::Reset();
    EXPECT_TRUE(ReadBackward(h.get()) == want);
    EXPECT_LE(CountingDb::Reads(), kRecords + 2);
    CountingDb::Reset();
    EXPECT_TRUE(ReadForward(h.get()) == want);
    EXPECT_LE(CountingDb::Reads(), kRecords + 2);
  }
}

TEST(PalmDocText, WindowsAlternateBetweenTheTwoBuffers) {
  const std::string text = Latin1Prose(4 * 4096, 13);
  MemDb mem(StoredDoc(text, 4096));
  HandlerPtr h = OpenOn(mem.db());
  EXPECT_EQ(BodyOf(h).recordSize, 4096);
  const std::uint8_t* a = nullptr;
  const std::uint8_t* c = nullptr;
  std::uint32_t n = 10;
  ASSERT_EQ(Ops().getText(h.get(), 4095, &a, &n), kOk);
  EXPECT_EQ(n, 1u) << "cut to the end of the record";
  n = 4096;
  ASSERT_EQ(Ops().getText(h.get(), 4096, &c, &n), kOk);
  EXPECT_EQ(n, 4096u);
  // The first window survives the second access, and a hit keeps it.
  EXPECT_EQ(*a, static_cast<std::uint8_t>(text[4095]));
  n = 5;
  ASSERT_EQ(Ops().getTextBefore(h.get(), 4096, &a, &n), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a), n), text.substr(4091, 5));
  n = 5;
  ASSERT_EQ(Ops().getText(h.get(), 3 * 4096, &c, &n), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a), 5), text.substr(4091, 5));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c), 5), text.substr(3 * 4096, 5));
  // GetTextBefore: position 0 and past the end give nothing.
  n = 5;
  ASSERT_EQ(Ops().getTextBefore(h.get(), 0, &a, &n), kOk);
  EXPECT_EQ(a, nullptr);
  n = 5;
  ASSERT_EQ(Ops().getTextBefore(h.get(), 4 * 4096 + 1, &a, &n), kOk);
  EXPECT_EQ(n, 0u);
  // Close forgets the database: the text reads as empty.
  ASSERT_EQ(Ops().command(h.get(), DocCommand::Close, nullptr, 0), kOk);
  EXPECT_EQ(TextLength(h.get()), 0u);
  n = 5;
  ASSERT_EQ(Ops().getText(h.get(), 0, &a, &n), kOk);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(Ops().backgroundStep(h.get()), kDocStepDone);
}

TEST(PalmDocText, StyleAndControls) {
  MemDb mem(StoredDoc("hello", 4096));
  HandlerPtr h = OpenOn(mem.db());
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t runEnd = 0;
  ASSERT_EQ(Ops().getCharStyle(h.get(), nullptr, 0, &font, &format, &runEnd), kOk);
  EXPECT_EQ(font.size, 10);
  EXPECT_EQ(format.formatFlags, 0);
  EXPECT_EQ(runEnd, kRunToEnd);
  ASSERT_EQ(Ops().control(h.get(), DocControl::SetFlags, DocFlag::RightAlign, nullptr), kOk);
  ASSERT_EQ(Ops().getCharStyle(h.get(), nullptr, 3, nullptr, &format, &runEnd), kOk);
  EXPECT_EQ(format.formatFlags & DocFormat::AlignMask, DocFormat::AlignRight);
  std::uint16_t charset = 0;
  ASSERT_EQ(Ops().control(h.get(), DocControl::SetCharset, 106, nullptr), kOk);
  ASSERT_EQ(Ops().control(h.get(), DocControl::Reset, 0, nullptr), kOk);
  ASSERT_EQ(Ops().control(h.get(), DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, kDefaultDocCharset);
  EXPECT_EQ(Ops().control(h.get(), 77, 0, nullptr), kNotSupported);
  std::uint32_t word = 7;
  EXPECT_EQ(Ops().layoutPassStep(h.get(), nullptr, DeviceContext{}, 0, 0, &word), kOk);
  std::uint32_t s = 0, e = 0, t = 0;
  EXPECT_EQ(Ops().getLinkAt(h.get(), 0, &s, &e, &t), kFailed);
}

// The shared flowing-text slots work on Palm Doc text through the handler's
// own table: lines cover the text without gaps across record boundaries, and
// ReadRange reads it back.
TEST(PalmDocText, SharedLayoutAndReadRangeRunOnTheText) {
  const std::string text = Latin1Prose(3 * 4096 + 500, 14);
  MemDb mem(StoredDoc(text, 4096));
  HandlerPtr h = OpenOn(mem.db());
  EngineObject* device = FakeDevice_Open(400, 300);
  ASSERT_NE(device, nullptr);
  DeviceContext ctx = nullptr;
  ASSERT_EQ(DeviceOf(device).beginDraw(device, &ctx), kOk);
  const auto end = static_cast<std::uint32_t>(text.size());
  std::uint32_t p = 0;
  int lines = 0;
  while (p < end && lines < 100000) {
    std::uint32_t next = 0;
    LineMetrics m{};
    ASSERT_EQ(Ops().layoutLine(h.get(), device, ctx, p, end, 200, &next, &m), kOk) << p;
    ASSERT_GT(next, p);
    ASSERT_LE(next, end);
    EXPECT_GT(m.height, 0);
    p = next;
    ++lines;
  }
  EXPECT_EQ(p, end);
  EXPECT_GT(lines, 10);
  EXPECT_EQ(DeviceOf(device).endDraw(device, ctx), kOk);
  FakeDevice_Close(device);
  // Across two record boundaries, then past the end of the text.
  std::string back(8500, '\0');
  std::uint32_t copied = 0;
  ASSERT_EQ(Ops().readRange(h.get(), 4000, 12500, reinterpret_cast<std::uint8_t*>(back.data()),
                            8500, &copied),
            kOk);
  EXPECT_EQ(copied, 8500u);
  EXPECT_TRUE(back == text.substr(4000, 8500));
  ASSERT_EQ(Ops().readRange(h.get(), 12000, 13000, reinterpret_cast<std::uint8_t*>(back.data()),
                            1000, &copied),
            kOk);
  EXPECT_EQ(copied, end - 12000);
}

// ---- bookmarks ----------------------------------------------------------------------------

// An independent reader of the bookmark records after the text.
struct ParsedMark {
  std::string name;  // up to the first NUL of the 16 bytes
  std::uint32_t position;
  bool operator==(const ParsedMark&) const = default;
};
std::vector<ParsedMark> ParseMarks(const std::string& file, std::size_t textRecords) {
  const auto records = ParseRecords(file);
  std::vector<ParsedMark> out;
  for (std::size_t k = textRecords + 1; k < records.size(); ++k) {
    const std::string& r = records[k];
    EXPECT_EQ(r.size(), 20u);
    EXPECT_EQ(r.at(15), '\0');
    const std::string name = r.substr(0, 16).c_str();
    EXPECT_EQ(r.substr(name.size(), 16 - name.size()), std::string(16 - name.size(), '\0'))
        << "names are zero-padded";
    out.push_back({name, GetBE(r, 16, 4)});
  }
  return out;
}

std::uint16_t MarkCount(EngineObject* h) {
  std::uint16_t n = 0xFFFF;
  EXPECT_EQ(Ops().bookmarkOp(h, DocBookmark::Count, 0, &n), kOk);
  return n;
}

std::vector<std::string> MarkNames(EngineObject* h) {
  const char** names = nullptr;
  std::vector<std::string> out;
  const std::uint16_t count = MarkCount(h);
  if (count == 0) {
    EXPECT_EQ(Ops().bookmarkOp(h, DocBookmark::GetNames, 0, &names), kDocListEmpty);
    return out;
  }
  EXPECT_EQ(Ops().bookmarkOp(h, DocBookmark::GetNames, 0, &names), kOk);
  for (std::uint16_t k = 0; k < count; ++k)
    out.emplace_back(names[k]);
  EXPECT_EQ(Ops().bookmarkOp(h, DocBookmark::FreeNames, 0, names), kOk);
  return out;
}

TEST(PalmDocBookmarks, HandMadeRecordsReadCorrectly) {
  MemDb mem(StoredDoc("some text", 4096,
                      {Bookmark("Chapter 1", 3), Bookmark("ABCDEFGHIJKLMNOP", 0x01020304),
                       Bookmark("Ch", 7) + "extra bytes kept"}));
  HandlerPtr h = OpenOn(mem.db());
  EngineObject* hp = h.get();
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::ListMask, 0, &u16), kOk);
  EXPECT_EQ(u16, 1);
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Capability, 0, &u32), kOk);
  EXPECT_EQ(u32, 1u);
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::LongestName, 0, &u16), kOk);
  EXPECT_EQ(u16, 15);
  EXPECT_EQ(MarkCount(hp), 3);
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::GetValue, 1, &u32), kOk);
  EXPECT_EQ(u32, 0x01020304u);
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::GetValue, 3, &u32), kDocBadListIndex);
  // A stored name without NUL is bounded to 15 bytes.
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"Chapter 1", "ABCDEFGHIJKLMNO", "Ch"}));
  // Find matches a prefix, the name cut to 15 bytes.
  DocBookmarkFind find{"Chap", 99};
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Find, 0, &find), kOk);
  EXPECT_EQ(find.index, 0);
  find = {"ABCDEFGHIJKLMNOPQRS", 99};
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Find, 0, &find), kOk);
  EXPECT_EQ(find.index, 1);
  find = {"Chapter 2", 99};
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::Find, 0, &find), kNotFound);
  // Sub-codes outside the list.
  for (const std::uint16_t code : {0, 8, 17, 225, 113, 240, 0xFFF0}) {
    EXPECT_EQ(Ops().bookmarkOp(hp, code, 0, &u32), kNotSupported) << code;
  }
}

TEST(PalmDocBookmarks, WrittenRecordsReadBackIndependently) {
  const std::string text = Latin1Prose(9000, 21);
  MemDb mem(StoredDoc(text, 4096));
  HandlerPtr h = OpenOn(mem.db());
  EngineObject* hp = h.get();
  ASSERT_EQ(MarkCount(hp), 0);
  auto insert = [&](std::uint16_t at, const char* name, std::uint32_t value) {
    const DocBookmarkInsert in{name, &value};
    return Ops().bookmarkOp(hp, DocBookmark::Insert, at, const_cast<DocBookmarkInsert*>(&in));
  };
  ASSERT_EQ(insert(0, "beta", 20), kOk);
  ASSERT_EQ(insert(0, "alpha", 10), kOk);
  ASSERT_EQ(insert(99, "a name well over fifteen bytes", 30), kOk);  // appended
  // Bytes after the caller's NUL are not copied.
  const char withTail[] = "gam\0XYZXYZXYZXYZXYZ";
  ASSERT_EQ(insert(1, withTail, 40), kOk);
  EXPECT_EQ(MarkCount(hp), 4);
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Delete, 2, nullptr), kOk);  // "beta"
  EXPECT_EQ(MarkCount(hp), 3);
  const DocBookmarkRename rename{"renamed"};
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Rename, 0, const_cast<DocBookmarkRename*>(&rename)),
            kOk);
  const std::uint32_t newValue = 0xA0B0C0D0;
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::SetValue, 1, const_cast<std::uint32_t*>(&newValue)),
            kOk);
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::Delete, 3, nullptr), kDocBadListIndex);
  // The text is untouched by the bookmark records around it.
  EXPECT_TRUE(ReadForward(hp) == text);
  const std::vector<ParsedMark> want = {
      {"renamed", 10}, {"gam", 0xA0B0C0D0}, {"a name well ove", 30}};
  EXPECT_EQ(ParseMarks(mem.CloseAndRead(), 3), want);
}

TEST(PalmDocBookmarks, MoveAndSort) {
  MemDb mem(StoredDoc("txt", 4096,
                      {Bookmark("d", 4), Bookmark("b", 2), Bookmark("a", 1), Bookmark("c", 3)}));
  HandlerPtr h = OpenOn(mem.db());
  EngineObject* hp = h.get();
  auto move = [&](std::uint16_t i, std::uint16_t j) {
    return Ops().bookmarkOp(hp, DocBookmark::Move, i, &j);
  };
  // i goes in front of j; j = i and j = i + 1 change nothing; j past the end
  // moves to the end.
  ASSERT_EQ(move(0, 1), kOk);
  ASSERT_EQ(move(2, 2), kOk);
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"d", "b", "a", "c"}));
  ASSERT_EQ(move(0, 3), kOk);
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"b", "a", "d", "c"}));
  ASSERT_EQ(move(3, 0), kOk);
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"c", "b", "a", "d"}));
  ASSERT_EQ(move(0, 200), kOk);
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"b", "a", "d", "c"}));
  EXPECT_EQ(move(4, 0), kDocBadListIndex);
  ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::Sort, 0, nullptr), kOk);
  EXPECT_EQ(MarkNames(hp), (std::vector<std::string>{"a", "b", "c", "d"}));
  std::uint32_t value = 0;
  for (std::uint16_t k = 0; k < 4; ++k) {
    ASSERT_EQ(Ops().bookmarkOp(hp, DocBookmark::GetValue, k, &value), kOk);
    EXPECT_EQ(value, k + 1u) << "values travel with their names";
  }
  EXPECT_EQ(ParseMarks(mem.CloseAndRead(), 1).size(), 4u);
}

// A database without records has no record 0 to describe the text: a
// bookmark inserted there would take its place, so the insert is refused and
// the file stays as it was.
TEST(PalmDocBookmarks, InsertIntoADatabaseWithoutRecordsIsRefused) {
  const std::string empty = BuildDb({});
  MemDb mem(empty);
  HandlerPtr h = OpenOn(mem.db());
  const std::uint32_t value = 5;
  const DocBookmarkInsert in{"mark", &value};
  EXPECT_EQ(Ops().bookmarkOp(h.get(), DocBookmark::Insert, 0, const_cast<DocBookmarkInsert*>(&in)),
            kDocMalformed);
  EXPECT_EQ(MarkCount(h.get()), 0);
  EXPECT_EQ(mem.Count(), 0);
  EXPECT_TRUE(mem.CloseAndRead() == empty);
  // With record 0 alone the bookmark becomes record 1 and is counted.
  MemDb header(BuildDb({Record0(1, 0)}));
  HandlerPtr g = OpenOn(header.db());
  ASSERT_EQ(Ops().bookmarkOp(g.get(), DocBookmark::Insert, 0, const_cast<DocBookmarkInsert*>(&in)),
            kOk);
  EXPECT_EQ(MarkCount(g.get()), 1);
  EXPECT_EQ(ParseMarks(header.CloseAndRead(), 0), (std::vector<ParsedMark>{{"mark", 5}}));
}

TEST(PalmDocBookmarks, ShortRecordsAndEmptyLists) {
  MemDb mem(StoredDoc("txt", 4096, {Bookmark("ok", 1), std::string("short", 5)}));
  HandlerPtr h = OpenOn(mem.db());
  EngineObject* hp = h.get();
  std::uint32_t value = 0;
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::GetValue, 1, &value), kDocBookmarkTooShort);
  const std::uint32_t v = 5;
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::SetValue, 1, const_cast<std::uint32_t*>(&v)),
            kDocBookmarkTooShort);
  const char** names = nullptr;
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::GetNames, 0, &names), kDocBookmarkTooShort);
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::Sort, 0, nullptr), kDocBookmarkTooShort);
  EXPECT_EQ(Ops().bookmarkOp(hp, DocBookmark::FreeNames, 0, nullptr), kOk);
  EXPECT_EQ(mem.Record(3), "short") << "a refused write leaves the record alone";
  // A document without bookmarks.
  MemDb plain(StoredDoc("txt", 4096));
  HandlerPtr p = OpenOn(plain.db());
  EXPECT_EQ(MarkCount(p.get()), 0);
  EXPECT_EQ(MarkNames(p.get()), std::vector<std::string>{});
  DocBookmarkFind find{"x", 0};
  EXPECT_EQ(Ops().bookmarkOp(p.get(), DocBookmark::Find, 0, &find), kNotFound);
  EXPECT_EQ(Ops().bookmarkOp(p.get(), DocBookmark::Sort, 0, nullptr), kOk);
  // The database closes cleanly: every record lent was given back.
  mem.CloseAndRead();
}

}  // namespace
