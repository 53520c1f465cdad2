// The audit log's parts that are the same on every system: SHA-256, the JSON reader,
// the record line, appending with torn-line repair and the record lock, the look-up of
// earlier successes and the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

#include "AuditLog.h"
#include "AuditRecord.h"
#include "AuditReport.h"
#include "AuditSamples.h"
#include "JsonCheck.h"
#include "JsonReader.h"
#include "Sha256.h"
#include "TempDir.h"

namespace kordel::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string DigestOf(std::string_view text) {
    Sha256 hash;
    hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return Lower(HexDigits(hash.Final()));
}

// ---------------------------------------------------------------- SHA-256

struct DigestCase {
    std::string input;
    const char* digest;  // as sha256sum prints it
};

class Sha256Vectors : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Sha256Vectors, GivesTheKnownDigest) {
    EXPECT_EQ(DigestOf(GetParam().input), GetParam().digest) << GetParam().input.size() << " bytes";
}

// The messages of FIPS 180-2's examples for SHA-256 (one block, two blocks, a million
// 'a'), the empty message, and the 896-bit message of the NIST test vectors.
INSTANTIATE_TEST_SUITE_P(
    Fips180, Sha256Vectors,
    ::testing::Values(
        DigestCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestCase{
            "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqk"
            "lmnopqrlmnopqrsmnopqrstnopqrstu",
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        DigestCase{std::string(1000000, 'a'),
                   "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

// Bytes (i * 7 + 3) mod 256: lengths around the padding's edges (55 bytes leave room
// for the length in the block, 56 do not; 64 fill a block exactly).
std::string Pattern(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    PaddingEdges, Sha256Vectors,
    ::testing::Values(
        DigestCase{Pattern(1), "084fed08b978af4d7d196a7446a86b58009e636b611db16211b65a9aadff29c5"},
        DigestCase{Pattern(55), "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
        DigestCase{Pattern(56), "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
        DigestCase{Pattern(57), "35df609437dcfea3279283ab79fd554e2bf78f8f7ae2de532d8ee300b09e8f73"},
        DigestCase{Pattern(63), "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
        DigestCase{Pattern(64), "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
        DigestCase{Pattern(65), "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
        DigestCase{Pattern(119),
                   "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
        DigestCase{Pattern(120),
                   "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
        DigestCase{Pattern(128),
                   "d2742f1f4ac6bb7ca2b239ee18402ba8b3f9f8e652d2a72973c2b9ba11c08cf6"}));

TEST(Sha256Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const std::string text = Pattern(1000);
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 200u}) {
        Sha256 hash;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            const std::size_t n = std::min(piece, text.size() - at);
            hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(text.data() + at), n));
        }
        EXPECT_EQ(Lower(HexDigits(hash.Final())), DigestOf(text)) << "pieces of " << piece;
    }
}

// ---------------------------------------------------------------- JSON reader

class JsonAcceptance : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(JsonAcceptance, AgreesWithTheStrictCheck) {
    const auto [text, valid] = GetParam();
    EXPECT_EQ(ParseJson(text).has_value(), valid) << text;
    EXPECT_EQ(testing::JsonCheck::Problem(text).empty(), valid) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonAcceptance,
    ::testing::Values(std::pair{"{}", true}, std::pair{" [1, -2.5e3, true, false, null] ", true},
                      std::pair{R"j({"a":{"b":["c"]}})j", true},
                      std::pair{R"j("\u00e9\ud83d\ude00")j", true}, std::pair{"", false},
                      std::pair{"{", false}, std::pair{"{\"a\"}", false},
                      std::pair{"{\"a\":1,}", false}, std::pair{"[1,]", false},
                      std::pair{"01", false}, std::pair{"1.", false}, std::pair{"-", false},
                      std::pair{"tru", false}, std::pair{"nul", false}, std::pair{"{} {}", false},
                      std::pair{"\"a\nb\"", false}, std::pair{R"j("\x")j", false},
                      std::pair{R"j("\u12G4")j", false}, std::pair{"\"open", false},
                      std::pair{"{\"a\":1", false}));

TEST(JsonReaderTest, DecodesStringsAndFindsMembers) {
    const auto v = ParseJson(R"j({"s":"a\"b\\c\/\n\r\t\u0041\u00e9\ud83d\ude00","n":31,"f":1.5,)j"
                             R"j("neg":-1,"big":1e300,"s":"second"})j");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->StringAt("s"), "a\"b\\c/\n\r\tA\xC3\xA9\xF0\x9F\x98\x80") << "the first of two";
    EXPECT_EQ(v->CountAt("n"), 31u);
    EXPECT_EQ(v->CountAt("f"), std::nullopt) << "not a whole number";
    EXPECT_EQ(v->CountAt("neg"), std::nullopt);
    EXPECT_EQ(v->CountAt("big"), std::nullopt);
    EXPECT_EQ(v->CountAt("s"), std::nullopt);
    EXPECT_EQ(v->StringAt("n"), std::nullopt);
    EXPECT_EQ(v->Find("missing"), nullptr);
}

TEST(JsonReaderTest, RefusesLoneSurrogatesAndDeepNesting) {
    EXPECT_FALSE(ParseJson(R"j("\ud83d")j"));
    EXPECT_FALSE(ParseJson(R"j("\ude00")j"));
    EXPECT_FALSE(ParseJson(R"j("\ud83dx")j"));
    EXPECT_TRUE(ParseJson(std::string(MaxJsonDepth, '[') + std::string(MaxJsonDepth, ']')));
    EXPECT_FALSE(
        ParseJson(std::string(MaxJsonDepth + 1, '[') + std::string(MaxJsonDepth + 1, ']')));
    // Far deeper than any stack would take without the limit.
    EXPECT_FALSE(ParseJson(std::string(1000000, '[')));
}

// ---------------------------------------------------------------- the record line

TEST(AuditRecordTest, LineCarriesEveryFieldInItsPlace) {
    const TAuditRecord r = SampleRecord();
    const std::string line = AuditLine(r);
    EXPECT_EQ(testing::JsonCheck::Problem(line), "") << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line,
              R"j({"schema":1,"time":"2026-12-10T14:03:07.123Z","duration_ms":1234,)j"
              R"j("station":"bench-3","operator":"anna",)j"
              R"j("tool":"kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)",)j"
              R"j("image":{"version":"1.3","size":7900,"sha256":")j" +
                  std::string(64, 'A') +
                  R"j("},"port":"/dev/ttyUSB0",)j"
                  R"j("usb":{"kind":"usb","vendor_id":"0403","product_id":"6001",)j"
                  R"j("serial_number":"A10K3Z","manufacturer":"FTDI","product":null,)j"
                  R"j("location":"1-1.4","location_path":null,"driver":"ftdi_sio"},)j"
                  R"j("module":{"cpu_id":"31002B000F513637393837AB","boot_info":{"hex":")j" +
                  std::string(32, '0') + "323032362D30312D3135000000000000" + "534E5201" +
                  std::string(24, '0') +
                  R"j(","date":"2026-01-15","snr":null}},)j"
                  R"j("result":"error","message":"Error writing Flash\r\nCRYPT ERROR",)j"
                  R"j("step":"write","block":5,"blocks":4,"attempt":2})j");
}

TEST(AuditRecordTest, NullsWhereNothingIsKnown) {
    TAuditRecord r = SampleRecord();
    r.station.op.reset();
    r.usb.reset();
    r.module.reset();
    r.ok = true;
    r.message = "Update OK";
    r.step = TUpdateStep::Closing;
    r.blocks = 31;
    const std::string line = AuditLine(r);
    EXPECT_NE(line.find(R"j("operator":null,)j"), std::string::npos) << line;
    EXPECT_NE(line.find(R"j("usb":null,"module":null,"result":"ok")j"), std::string::npos) << line;
    EXPECT_NE(line.find(R"j("step":"close","block":null,"blocks":31)j"), std::string::npos) << line;
}

TEST(AuditRecordTest, OutsideTextStaysOneLineOfValidJson) {
    TAuditRecord r = SampleRecord();
    r.port = "port-\x1b[31m\n\"red\"\xFF";
    r.station.station =
        "st\xC2\x9B"
        "ation";
    r.message = "line one\nline two\r\n";
    const std::string line = AuditLine(r);
    EXPECT_EQ(testing::JsonCheck::Problem(line), "") << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto parsed = ParseJson(line);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->StringAt("message"), r.message);
    EXPECT_EQ(parsed->StringAt("port"), "port-\x1b[31m\n\"red\"\xEF\xBF\xBD");
}

TEST(AuditRecordTest, UtcTimeWithMilliseconds) {
    using namespace std::chrono;
    const std::pair<system_clock::time_point, const char*> cases[] = {
        {system_clock::time_point{}, "1970-01-01T00:00:00.000Z"},
        {system_clock::time_point{milliseconds(-1)}, "1969-12-31T23:59:59.999Z"},
        {sys_days{year{2024} / 2 / 29} + hours(23) + minutes(59) + seconds(59) + milliseconds(7),
         "2024-02-29T23:59:59.007Z"},
        {sys_days{year{2026} / 12 / 31} + microseconds(999999), "2026-12-31T00:00:00.999Z"},
    };
    for (const auto& [time, text] : cases) EXPECT_EQ(UtcTimeText(time), text);
}

TEST(AuditRecordTest, PrintableFieldsOfTheIdentificationRecord) {
    Bytes record(48, 0);
    EXPECT_EQ(PrintableField(record, 16, 16), "") << "all NUL: empty text";
    const std::string full = "0123456789ABCDEF";
    std::copy(full.begin(), full.end(), record.begin() + 16);
    EXPECT_EQ(PrintableField(record, 16, 16), full) << "no NUL: all sixteen";
    record[20] = 0;
    record[21] = 0x07;
    EXPECT_EQ(PrintableField(record, 16, 16), "0123") << "up to the first NUL";
    record[18] = 0x7F;
    EXPECT_EQ(PrintableField(record, 16, 16), std::nullopt) << "DEL is not printable";
    record[18] = 0xC3;
    EXPECT_EQ(PrintableField(record, 16, 16), std::nullopt) << "nor a byte above 7E";
    EXPECT_EQ(PrintableField(std::span(record).first(31), 16, 16), std::nullopt)
        << "the reply ended inside the field";
}

TEST(AuditRecordTest, RecorderFollowsTheUpdateAndPassesItOn) {
    struct Inner : TProgressSink {
        void SetMaximum(std::uint32_t m) override { calls.push_back("max " + std::to_string(m)); }
        void SetPosition(std::uint32_t p) override { calls.push_back("pos " + std::to_string(p)); }
        void StepStarted(TUpdateStep s) override {
            calls.push_back("step " + std::to_string(int(s)));
        }
        std::vector<std::string> calls;
    } inner;
    TAuditRecord context;
    context.port = "P";
    context.attempt = 3;
    TAttemptRecorder recorder(context, &inner);
    EXPECT_FALSE(recorder.Finish(false, "x").module) << "no identification yet";
    EXPECT_EQ(recorder.Finish(false, "x").step, TUpdateStep::Connecting);
    recorder.StepStarted(TUpdateStep::Connecting);
    recorder.StepStarted(TUpdateStep::Identifying);
    const Bytes reply(12, 0x41);
    recorder.Identified(reply);
    recorder.StepStarted(TUpdateStep::ReadingCpuId);
    recorder.CpuIdRead({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    recorder.StepStarted(TUpdateStep::Writing);
    recorder.SetMaximum(600);
    recorder.SetPosition(256);
    recorder.BlockWritten(0);
    recorder.SetPosition(512);
    recorder.BlockWritten(1);
    const TAuditRecord r = recorder.Finish(false, "Error writing Flash\r\nNO ANSWER");
    EXPECT_EQ(r.port, "P");
    EXPECT_EQ(r.attempt, 3);
    EXPECT_EQ(r.step, TUpdateStep::Writing);
    EXPECT_EQ(r.blocks, 2u);
    ASSERT_TRUE(r.module);
    EXPECT_EQ(r.module->bootInfo, reply);
    EXPECT_EQ(HexDigits(*r.module->cpuId), "0102030405060708090A0B0C");
    EXPECT_NE(AuditLine(r).find(R"j("step":"write","block":3,"blocks":2)j"), std::string::npos);
    EXPECT_GE(r.durationMs, 0);
    EXPECT_EQ(inner.calls, (std::vector<std::string>{"step 0", "step 1", "step 2", "step 3",
                                                     "max 600", "pos 256", "pos 512"}));
}

TEST(AuditRecordTest, ImageHashCoversWholeBlocksWithTheFiller) {
    // 300 image bytes of which FileSize names 257: two blocks, the second holding image
    // bytes 256..299 and then erased flash.
    Bytes image(300);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 5);
    TBiosInfo info;
    info.VersHi = 2;
    info.VersLo = 10;
    info.FileSize = 0xABC00101;  // the upper 12 bits are not the length
    const TAuditImage described = DescribeImage(image, info);
    EXPECT_EQ(described.version, "2.10");
    EXPECT_EQ(described.size, 257u);
    std::string sent(image.begin(), image.end());
    sent.append(512 - 300, '\xFF');
    EXPECT_EQ(Lower(described.sha256), DigestOf(sent));

    info.FileSize = 0;
    EXPECT_EQ(Lower(DescribeImage(image, info).sha256), DigestOf("")) << "no block";
}

TEST(AuditRecordTest, UsbIdentityOnlyForUsbPorts) {
    TPortIdentity usb;
    usb.Kind = "usb";
    usb.VendorId = "0403";
    usb.ProductId = "6001";
    usb.SerialNumber = "A10K3Z";
    const auto identity = UsbIdentityOf(usb);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->VendorId, "0403");
    EXPECT_EQ(identity->SerialNumber, "A10K3Z");
    TPortIdentity plain;
    plain.Kind = "platform";
    plain.Driver = "serial8250";
    EXPECT_FALSE(UsbIdentityOf(plain));
}

// ---------------------------------------------------------------- the file

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The records a scan of the file at `path` finds, as their "port" fields.
std::vector<std::string> ScannedPorts(const std::string& path, TAuditScan* scan = nullptr) {
    std::vector<std::string> ports;
    const auto file = TAuditFile::Open(path, TAuditFile::Access::Read);
    const TAuditScan s = ScanAuditLog(*file, 0, [&](const JsonValue& record) {
        ports.push_back(record.StringAt("port").value_or("?"));
    });
    if (scan) *scan = s;
    return ports;
}

TEST(AuditLogFileTest, AppendsWholeLinesAndLeavesATornOneOnItsOwn) {
    testing::TempDir dir;
    const std::string path = "station.log";
    {
        TAuditLog log(path);
        log.Append(RecordFor("A"));
        log.Append(RecordFor("B"));
    }
    // A power cut in the middle of a record: its first half reached the disk.
    const std::string first = testing::ReadFile(path);
    const std::string torn = RecordFor("torn").substr(0, 100);
    testing::WriteFile(path, first + torn);
    TAuditLog(path).Append(RecordFor("C"));

    const std::string text = testing::ReadFile(path);
    EXPECT_EQ(text, first + torn + "\n" + RecordFor("C") + "\n") << "earlier lines untouched";
    TAuditScan scan;
    EXPECT_EQ(ScannedPorts(path, &scan), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(scan.malformed, 1u);

    // The torn line at the very end is skipped too, and counted.
    testing::WriteFile(path, text + torn);
    EXPECT_EQ(ScannedPorts(path, &scan), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(scan.malformed, 2u);
    EXPECT_EQ(scan.end, text.size()) << "a scan ends after the last whole line";
}

TEST(AuditLogFileTest, ThreadsOfOneProcessNeverInterleave) {
    testing::TempDir dir;
    TAuditLog log("threads.log");
    // Records far longer than a pipe's atomic write, from four threads at once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 50; ++i) {
                TAuditRecord r = SampleRecord();
                r.port = std::string(8000, static_cast<char>('a' + t));
                log.Append(AuditLine(r));
            }
        });
    }
    for (auto& t : threads) t.join();
    const auto lines = Lines(testing::ReadFile("threads.log"));
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines)
        ASSERT_EQ(testing::JsonCheck::Problem(line), "") << line.substr(0, 80);
}

// Holds the log's record lock from a second open of the file, as another program does.
class OtherHolder {
  public:
    explicit OtherHolder(const std::string& path)
        : file_(TAuditFile::Open(path, TAuditFile::Access::Append)) {
        EXPECT_TRUE(file_->TryLock(true));
    }
    void Release() { file_->Unlock(); }

  private:
    std::unique_ptr<TAuditFile> file_;
};

TEST(AuditLogFileTest, AWriterWaitsForTheLockOfAnother) {
    testing::TempDir dir;
    TAuditLog log("locked.log");
    OtherHolder other("locked.log");
    auto append = std::async(std::launch::async, [&] { log.Append(RecordFor("A")); });
    EXPECT_EQ(append.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(testing::ReadFile("locked.log"), "") << "nothing written while the lock is held";
    other.Release();
    append.get();
    EXPECT_EQ(testing::ReadFile("locked.log"), RecordFor("A") + "\n");
}

TEST(AuditLogFileTest, ALockHeldTooLongIsAnErrorNamingTheLog) {
    testing::TempDir dir;
    TAuditLog log("stuck.log", std::chrono::milliseconds(100));
    OtherHolder other("stuck.log");
    try {
        log.Append(RecordFor("A"));
        ADD_FAILURE() << "no error";
    } catch (const EAuditLog& e) {
        EXPECT_STREQ(
            e.what(),
            "Cannot lock the log 'stuck.log': another program has held its lock for 100 ms");
    }
    EXPECT_EQ(testing::ReadFile("stuck.log"), "");
}

TEST(AuditLogFileTest, AReaderWaitsForAWriterToFinishItsRecord) {
    testing::TempDir dir;
    TAuditLog("read.log").Append(RecordFor("A"));
    OtherHolder writer("read.log");
    const auto file = TAuditFile::Open("read.log", TAuditFile::Access::Read);
    EXPECT_THROW(ScanAuditLog(
                     *file, 0, [](const JsonValue&) {}, std::chrono::milliseconds(50)),
                 EAuditLog);
    writer.Release();
    EXPECT_EQ(ScanAuditLog(*file, 0, [](const JsonValue&) {}).records, 1u);
}

// ---------------------------------------------------------------- reading the log

std::string RecordOf(const std::string& cpuId, const char* result) {
    TAuditRecord r = SampleRecord();
    r.ok = std::string(result) == "ok";
    std::array<std::uint8_t, 12> id{};
    for (std::size_t i = 0; i < 12; ++i)
        id[i] = static_cast<std::uint8_t>(std::stoi(cpuId.substr(2 * i, 2), nullptr, 16));
    r.module->cpuId = id;
    return AuditLine(r);
}

TEST(AuditLogReadTest, OnlyRecordsCountAndEveryOtherLineIsSkipped) {
    testing::TempDir dir;
    const std::string good = RecordFor("A");
    const std::string lines[] = {
        good,
        "not json",
        "{}",
        "[1,2]",
        R"j({"schema":0,"time":"t","result":"ok"})j",
        R"j({"schema":1,"time":"t","result":"maybe"})j",
        R"j({"schema":1,"result":"ok"})j",
        R"j({"schema":2,"time":"t","result":"ok","port":"B","added":{"later":true}})j",
        "{\"schema\":1,\"time\":\"t\",\"result\":\"ok\",\"port\":\"" +
            std::string(MaxAuditLine, 'x') + "\"}",
        "",
        RecordFor("C"),
    };
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    testing::WriteFile("mixed.log", text);
    TAuditScan scan;
    EXPECT_EQ(ScannedPorts("mixed.log", &scan), (std::vector<std::string>{"A", "B", "C"}))
        << "a later schema with added fields is read";
    EXPECT_EQ(scan.records, 3u);
    EXPECT_EQ(scan.malformed, 7u) << "the empty line is no record and no fault";
}

TEST(AuditLogReadTest, OkLookupSeesWhatIsAppendedLater) {
    testing::TempDir dir;
    const std::array<std::uint8_t, 12> id = {0x31, 0x00, 0x2B, 0x00, 0x0F, 0x51,
                                             0x36, 0x37, 0x39, 0x38, 0x37, 0x33};
    const std::string hex = "31002B000F51363739383733";
    TOkRecordIndex index("station.log");
    EXPECT_FALSE(index.HasOk(id)) << "no log yet";
    EXPECT_FALSE(fs::exists("station.log")) << "the look-up makes no file";

    TAuditLog log("station.log");
    log.Append(RecordOf(hex, "error"));
    log.Append(RecordOf("0102030405060708090A0B0C", "ok"));
    EXPECT_FALSE(index.HasOk(id)) << "an error record and another module's success";

    // Another program appends the success, its hex in lower case.
    std::string line = RecordOf(hex, "ok");
    const auto at = line.find(hex);
    line.replace(at, hex.size(), Lower(hex));
    TAuditLog(fs::absolute("station.log").string()).Append(line);
    EXPECT_TRUE(index.HasOk(id));

    // A log replaced by a shorter one is read from its start again.
    testing::WriteFile("station.log", RecordOf(hex, "error") + "\n");
    EXPECT_FALSE(index.HasOk(id));
    EXPECT_TRUE(TOkRecordIndex("station.log").HasOk({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}) ==
                false);
}

// Only whole lines count: a success cut short by a power cut is no record; one that
// lost only its line break counts once the next record has ended its line.
TEST(AuditLogReadTest, OkLookupTakesOnlyWholeLines) {
    testing::TempDir dir;
    const std::string hex = "31002B000F51363739383733";
    const std::array<std::uint8_t, 12> id = {0x31, 0x00, 0x2B, 0x00, 0x0F, 0x51,
                                             0x36, 0x37, 0x39, 0x38, 0x37, 0x33};
    const std::string ok = RecordOf(hex, "ok");
    const std::string other = RecordOf("0102030405060708090A0B0C", "ok");

    testing::WriteFile("cut.log", ok.substr(0, ok.size() - 1));  // the closing brace lost
    TOkRecordIndex cut("cut.log");
    EXPECT_FALSE(cut.HasOk(id));
    TAuditLog("cut.log").Append(other);
    EXPECT_FALSE(cut.HasOk(id)) << "the cut line became a line of its own, still no record";

    testing::WriteFile("unended.log", ok);
    TOkRecordIndex unended("unended.log");
    EXPECT_FALSE(unended.HasOk(id)) << "the last line without its line break is skipped";
    TAuditLog("unended.log").Append(other);
    EXPECT_TRUE(unended.HasOk(id));
}

// ---------------------------------------------------------------- the report

// A small log as kordel-flash writes it, with lines that are no record among them.
const char* const FixtureLog =
    R"j({"schema":1,"time":"2026-12-10T08:00:00.000Z","duration_ms":1200,"station":"bench-1",)j"
    R"j("operator":"anna","tool":"kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)",)j"
    R"j("image":{"version":"1.3","size":7900,"sha256":"AB12"},"port":"/dev/ttyUSB0",)j"
    R"j("usb":{"vendor_id":"0403","product_id":"6001","serial_number":"A10K3Z",)j"
    R"j("manufacturer":"FTDI","product":null,"location":null},)j"
    R"j("module":{"cpu_id":"31002B000F51363739383733","boot_info":{"hex":"4B4F",)j"
    R"j("date":"2026-01-15","snr":"SIM-000001"}},"result":"ok","message":"Update OK",)j"
    R"j("step":"close","block":null,"blocks":31,"attempt":1})j"
    "\n"
    R"j({"schema":1,"time":"2026-12-10T08:01:00.500Z","duration_ms":480,"station":"bench-1",)j"
    R"j("operator":null,"tool":"kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)",)j"
    R"j("image":{"version":"1.3","size":7900,"sha256":"AB12"},"port":"/dev/ttyUSB1","usb":null,)j"
    R"j("module":{"cpu_id":"0102030405060708090A0B0C","boot_info":{"hex":"00","date":null,)j"
    R"j("snr":null}},"result":"error","message":"Error writing Flash\r\nCRYPT ERROR",)j"
    R"j("step":"write","block":5,"blocks":4,"attempt":1})j"
    "\n"
    "garbage between the records\n"
    R"j({"schema":2,"time":"2026-12-11T23:59:59.999Z","duration_ms":3,"station":"bench-2",)j"
    R"j("operator":"=SUM(A1)","port":"COM3, \"left\"","usb":null,"module":null,)j"
    R"j("result":"error","message":"Unable to open com port (Error: 2)","step":"connect",)j"
    R"j("block":null,"blocks":0,"attempt":2,"added_later":[1]})j"
    "\n"
    R"j({"schema":1,"time":"2026-12-10T09:00:00.000Z","duration_ms":1190,"station":"bench-1",)j"
    R"j("operator":"anna","port":"/dev/ttyUSB0","module":null,"result":"ok",)j"
    R"j("message":"Update OK","step":"close","block":null,"blocks":31,"attempt":2})j"
    "\n"
    R"j({"schema":1,"time":"2026-12-10T09:05:00.000Z","duration_ms":12,"sta)j";

std::pair<std::string, std::string> Report(ReportFormat format) {
    testing::TempDir dir;
    testing::WriteFile("fixture.log", FixtureLog);
    std::ostringstream out, err;
    EXPECT_EQ(WriteAuditReport("fixture.log", format, out, err), 0);
    return {out.str(), err.str()};
}

TEST(AuditReportTest, TableOfAttemptsAndCountsPerStationAndDay) {
    const auto [out, err] = Report(ReportFormat::Table);
    EXPECT_EQ(out,
              "TIME                      STATION  OPERATOR  PORT          RESULT  STEP     BLOCKS"
              "  MS    CPU-ID                    MESSAGE\n"
              "2026-12-10T08:00:00.000Z  bench-1  anna      /dev/ttyUSB0  ok      close        31"
              "  1200  31002B000F51363739383733  Update OK\n"
              "2026-12-10T08:01:00.500Z  bench-1  -         /dev/ttyUSB1  error   write 5       4"
              "   480  0102030405060708090A0B0C  Error writing Flash / CRYPT ERROR\n"
              "2026-12-11T23:59:59.999Z  bench-2  =SUM(A1)  COM3, \"left\"  error   connect       0"
              "     3  -                         Unable to open com port (Error: 2)\n"
              "2026-12-10T09:00:00.000Z  bench-1  anna      /dev/ttyUSB0  ok      close        31"
              "  1190  -                         Update OK\n"
              "\n"
              "STATION  DAY         PASSED  FAILED\n"
              "bench-1  2026-12-10       2       1\n"
              "bench-2  2026-12-11       0       1\n");
    EXPECT_EQ(err,
              "kordel-flash: 2 lines of 'fixture.log' skipped: not a record (not JSON, too long, "
              "or torn at the end)\n");
}

TEST(AuditReportTest, CsvForASpreadsheet) {
    const auto [out, err] = Report(ReportFormat::Csv);
    const std::string tool = "\"kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)\"";
    EXPECT_EQ(
        out,
        "time,station,operator,port,result,step,block,blocks,duration_ms,attempt,cpu_id,"
        "boot_date,boot_snr,image_version,image_size,image_sha256,usb_vendor_id,"
        "usb_product_id,usb_serial_number,usb_location,tool,message\r\n"
        "2026-12-10T08:00:00.000Z,bench-1,anna,/dev/ttyUSB0,ok,close,,31,1200,1,"
        "31002B000F51363739383733,2026-01-15,SIM-000001,1.3,7900,AB12,0403,6001,A10K3Z,," +
            tool +
            ",Update OK\r\n"
            "2026-12-10T08:01:00.500Z,bench-1,,/dev/ttyUSB1,error,write,5,4,480,1,"
            "0102030405060708090A0B0C,,,1.3,7900,AB12,,,,," +
            tool +
            ",\"Error writing Flash\r\nCRYPT ERROR\"\r\n"
            // A cell a spreadsheet would run as a formula is kept as text.
            "2026-12-11T23:59:59.999Z,bench-2,'=SUM(A1),\"COM3, \"\"left\"\"\",error,connect,,0,3,"
            "2,,,,,,,,,,,,Unable to open com port (Error: 2)\r\n"
            "2026-12-10T09:00:00.000Z,bench-1,anna,/dev/ttyUSB0,ok,close,,31,1190,2,,,,,,,,,,,,"
            "Update OK\r\n"
            "\r\n"
            "station,day,passed,failed\r\n"
            "bench-1,2026-12-10,2,1\r\n"
            "bench-2,2026-12-11,0,1\r\n");
    EXPECT_NE(err.find("2 lines"), std::string::npos);
}

TEST(AuditReportTest, MissingLogIsAnError) {
    testing::TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(WriteAuditReport("none.log", ReportFormat::Table, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "kordel-flash: Cannot read the log 'none.log': " + SystemErrorText(2) +
                             " (Error: 2)\n");
}

TEST(AuditReportTest, HostileTextCannotDriveTheTerminal) {
    testing::TempDir dir;
    testing::WriteFile("hostile.log",
                       R"j({"schema":1,"time":"2026-12-10T08:00:00.000Z","station":"\u001b[2J",)j"
                       R"j("port":"\u009b31m","result":"ok","message":"a\u0007b"})j"
                       "\n");
    std::ostringstream out, err;
    ASSERT_EQ(WriteAuditReport("hostile.log", ReportFormat::Table, out, err), 0);
    for (char c : out.str()) {
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    }
    EXPECT_NE(out.str().find("\\x1B[2J"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace kordel::cli
