// The codec of what .xlsx packages get, checked against zlib as an independent inflater and CRC,
// and the trusted cut of valid UTF-8 against the cleaning cut.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <zlib.h>

#include "workbook/deflate.h"
#include "workbook/spool.h"
#include "workbook/text.h"

namespace {

// Row-like XML with some noise, so the compressor has both matches and literals to work on.
std::string sampleBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < size) {
    s += "<row r=\"" + std::to_string(s.size()) + "\"><c r=\"A1\"><v>" + std::to_string(random()) + "</v></c>";
    if (random() % 7 == 0)
      for (int i = 0; i < 40; ++i) s += static_cast<char>(random());
  }
  s.resize(size);
  return s;
}

// zlib's inflate of a raw deflate stream; the stream must end with a final block.
std::string inflateRaw(const std::string& packed) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::string out;
  char buf[1 << 15];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (rc == Z_OK);
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u);  // nothing after the final block
  inflateEnd(&z);
  return out;
}

}  // namespace

TEST(Deflate, Crc32IsZlibsInOnePieceAndInMany) {
  std::string data = sampleBytes(300000, 1);
  uint32_t expected = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
  EXPECT_EQ(crc32Update(0, data.data(), data.size()), expected);
  uint32_t pieces = 0;
  for (size_t at = 0; at < data.size(); at += 777)
    pieces = crc32Update(pieces, data.data() + at, std::min<size_t>(777, data.size() - at));
  EXPECT_EQ(pieces, expected);
  EXPECT_EQ(crc32Update(0, "", 0), 0u);
}

TEST(Deflate, StreamsWithSyncsReleasesAndAFinalBlockInflateToTheInput) {
  std::string input, packed;
  DeflateStream stream([&](const char* p, size_t n) {
    packed.append(p, n);
    return true;
  });
  std::mt19937 random(7);
  for (int step = 0; step < 400; ++step) {
    std::string piece = sampleBytes(random() % 5000, static_cast<unsigned>(step));
    ASSERT_TRUE(stream.write(piece));
    input += piece;
    if (step % 50 == 10) ASSERT_TRUE(stream.sync());
    if (step % 90 == 20) ASSERT_TRUE(stream.release());  // a later write starts a fresh compressor
  }
  ASSERT_TRUE(stream.finish());
  EXPECT_EQ(stream.size(), input.size());
  EXPECT_EQ(stream.crc(), crc32Update(0, input.data(), input.size()));
  EXPECT_EQ(inflateRaw(packed), input);
  // Row XML compresses well: the ratio matters for the file sizes users get.
  EXPECT_LT(packed.size(), input.size() / 2);

  bool ok = false;
  EXPECT_EQ(inflateRaw(deflateWhole(input, &ok)), input);
  EXPECT_TRUE(ok);
  EXPECT_EQ(inflateRaw(deflateWhole("", &ok)), "");
  EXPECT_TRUE(ok);
}

TEST(Deflate, ASpoolsStoredBytesContinueIntoAFinalBlockFromAnotherStream) {
  // The way a worksheet is saved: its spooled rows as they stand, then the tail as a new stream.
  Spool spool;
  ASSERT_TRUE(spool.open(true, nullptr));
  std::string rows = sampleBytes(200000, 3), more = sampleBytes(90000, 4);
  ASSERT_TRUE(spool.write(rows));
  ASSERT_TRUE(spool.pause());
  ASSERT_TRUE(spool.write(more));
  ASSERT_TRUE(spool.sync());
  std::string packed;
  ASSERT_TRUE(spool.copyStored([&](const char* p, size_t n) {
    packed.append(p, n);
    return true;
  }));
  EXPECT_EQ(packed.size(), spool.storedSize());
  EXPECT_EQ(spool.rawSize(), rows.size() + more.size());
  EXPECT_EQ(spool.rawCrc(), crc32Update(0, (rows + more).data(), rows.size() + more.size()));
  DeflateStream tail([&](const char* p, size_t n) {
    packed.append(p, n);
    return true;
  });
  ASSERT_TRUE(tail.write(std::string("</sheetData>")));
  ASSERT_TRUE(tail.finish());
  EXPECT_EQ(inflateRaw(packed), rows + more + "</sheetData>");
}

TEST(Deflate, AStreamsBytesDoNotDependOnTheStreamsBeforeIt) {
  // Compressors are handed from stream to stream; nothing of an earlier stream may show.
  std::string input = sampleBytes(150000, 8);
  bool ok = false;
  std::string first = deflateWhole(input, &ok);
  ASSERT_TRUE(ok);
  std::string ignored;
  auto sink = [&](const char* p, size_t n) {
    ignored.append(p, n);
    return true;
  };
  {
    DeflateStream left(sink), cut(sink), failing([](const char*, size_t) { return false; });
    ASSERT_TRUE(left.write(sampleBytes(100000, 9)));
    ASSERT_TRUE(cut.write(sampleBytes(70000, 10)) && cut.sync() && cut.write(sampleBytes(900, 11)));
    EXPECT_FALSE(failing.write(sampleBytes(100000, 12)) && failing.finish());
    ASSERT_TRUE(left.finish());
  }  // cut and failing end mid-stream
  EXPECT_EQ(deflateWhole(input, &ok), first);
  EXPECT_TRUE(ok);
}

TEST(Deflate, ASinkThatFailsFailsTheStream) {
  DeflateStream stream([](const char*, size_t) { return false; });
  std::string data = sampleBytes(200000, 5);
  bool ok = stream.write(data) && stream.finish();
  EXPECT_FALSE(ok);
  EXPECT_TRUE(stream.failed());
  EXPECT_FALSE(stream.write(data));
}

TEST(TrustedText, CutsValidUtf8WhereCleaningWould) {
  std::mt19937 random(11);
  const char* pieces[] = {"a", "ß", "€", "𝄞", "xyz", "Grüße"};
  for (size_t limit : {0, 1, 2, 3, 5, 100, 32767}) {
    for (int round = 0; round < 30; ++round) {
      std::string s;
      size_t length = random() % (limit * 3 + 8);
      while (s.size() < length) {
        s += pieces[random() % 6];
        if (round % 5 == 0 && random() % 20 == 0) s += '\0';  // a NUL ends the text as a C string
      }
      std::string cut = s;
      cutValidUtf8(cut, limit);
      EXPECT_EQ(cut, cleanUtf8(s.c_str(), limit)) << "limit " << limit;  // as from a C string
    }
  }
}
