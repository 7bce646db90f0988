// Decoding ahead on worker threads: the pool itself, and scans of
// compressed containers that must report the same whatever the threads.
#include "storage/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "cmdline/partition_listing.h"
#include "images/image_open.h"
#include "storage/ewf_source.h"
#include "storage/layered_disk.h"
#include "storage/memory_source.h"
#include "tests/image_test_support.h"
#include "tests/lnk_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;

// Fills 1000 bytes with the block number, once release is set; blocks
// whose number leaves 3 divided by 7 do not decode.
ReadAhead::Job fill_job(uint64_t block, std::atomic<int>& runs, const std::atomic<bool>& release) {
  return [block, &runs, &release](unsigned thread, std::vector<uint8_t>& out) {
    ++runs;
    while (!release) std::this_thread::yield();
    if (block % 7 == 3) return false;
    out.assign(1000, static_cast<uint8_t>(block));
    out[1] = static_cast<uint8_t>(thread);
    return true;
  };
}

// A block that failed or was never queued comes back null; the memory
// bound refuses blocks while those held are undecoded, taken ones first go.
TEST(ReadAhead, BlocksFailuresAndRoom) {
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  ReadAhead ahead(3, 10 * 1000);
  for (uint64_t n = 0; n < 10; ++n) EXPECT_TRUE(ahead.queue({nullptr, n}, 1000, fill_job(n, runs, release)));
  EXPECT_FALSE(ahead.queue({nullptr, 10}, 1000, fill_job(10, runs, release))) << "no room";
  EXPECT_FALSE(ahead.queue({nullptr, 4}, 1000, fill_job(4, runs, release))) << "queued already";
  release = true;
  std::set<uint8_t> threads;
  for (uint64_t n = 10; n-- > 1;) {
    const ReadAhead::Bytes bytes = ahead.take({nullptr, n});
    ASSERT_EQ(bytes != nullptr, n % 7 != 3) << n;
    if (!bytes) continue;
    EXPECT_EQ(std::make_pair(bytes->size(), (*bytes)[0]), std::make_pair(size_t{1000}, static_cast<uint8_t>(n)));
    threads.insert((*bytes)[1]);
  }
  while (runs < 10) std::this_thread::yield();  // block 0, not taken, by a worker
  EXPECT_EQ(ahead.take({nullptr, 11}), nullptr);
  for (uint8_t thread : threads) EXPECT_LE(thread, 3);
  // Block 0, decoded but never taken, outlives the taken ones.
  for (uint64_t n = 20; n < 28; ++n) EXPECT_TRUE(ahead.queue({nullptr, n}, 1000, fill_job(n, runs, release)));
  EXPECT_TRUE(ahead.knows({nullptr, 0}) && !ahead.knows({nullptr, 9}));
  // Without workers nothing is queued: the reader decodes alone.
  EXPECT_FALSE(ReadAhead(0, 1 << 20).queue({nullptr, 0}, 1, fill_job(0, runs, release)));
}

// A reader taking blocks in order 32 behind the queue; then a pool dropped
// with work queued waits for the running jobs and starts no more.
TEST(ReadAhead, ManyBlocksAndAnEarlyEnd) {
  std::atomic<int> runs{0};
  std::atomic<bool> release{true};
  {
    ReadAhead ahead(8, 64 * 1000);
    for (uint64_t n = 0; n < 3000; ++n) {
      for (uint64_t ahead_of = n; ahead_of < std::min<uint64_t>(n + 32, 3000); ++ahead_of)
        ahead.queue({&runs, ahead_of}, 1000, fill_job(ahead_of, runs, release));
      const ReadAhead::Bytes bytes = ahead.take({&runs, n});
      ASSERT_EQ(bytes ? int{bytes->front()} : -1, n % 7 == 3 ? -1 : int{static_cast<uint8_t>(n)}) << n;
    }
  }
  EXPECT_EQ(runs, 3000);
  runs = 0;
  release = false;
  std::thread releaser;
  {
    ReadAhead ahead(2, 1 << 20);
    for (uint64_t n = 0; n < 100; ++n) ahead.queue({nullptr, n}, 1, fill_job(n, runs, release));
    while (runs < 2) std::this_thread::yield();
    // Released once the pool is being dropped: its two jobs end, no more start.
    releaser = std::thread([&release] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      release = true;
    });
  }
  releaser.join();
  EXPECT_LT(runs, 100);
}

// 64 compressed blocks of 4 KiB, each packed as one byte that fills it;
// counts its decodes.
class OneByteBlocks : public MappedLayer {
 public:
  OneByteBlocks() : MappedLayer(std::make_shared<OwnedMemorySource>(packed())) {}
  static std::vector<uint8_t> packed() {
    std::vector<uint8_t> bytes(kBlocks);
    for (size_t i = 0; i < kBlocks; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    return bytes;
  }
  uint64_t disk_size() const override { return kBlocks * kBlock; }
  BlockMap map(uint64_t offset) override {
    const uint64_t block = offset / kBlock;
    return {.state = BlockState::compressed, .end = (block + 1) * kBlock, .file_offset = block, .packed_bytes = 1,
            .block_start = block * kBlock, .block_bytes = kBlock};
  }
  bool unpack(std::span<const uint8_t> packed, std::span<uint8_t> block) const override {
    ++decodes;
    std::fill(block.begin(), block.end(), packed[0]);
    return true;
  }
  bool compressed() const override { return true; }
  bool has_parent() override { return false; }
  ParentNames parent_names() override { return {}; }
  bool link_parent(ChainLayer&) override { return false; }

  static constexpr uint64_t kBlocks = 64, kBlock = 4096;
  mutable std::atomic<int> decodes{0};
};

// A reader that jumps (a file system walk) has only the blocks it reads
// decoded; one that moves on has each block decoded once.
TEST(ReadAhead, LayeredDiskDecodesWhatItsReaderReads) {
  set_decode_threads(2);
  auto owned = std::make_unique<OneByteBlocks>();
  OneByteBlocks& layer = *owned;
  LayeredDisk disk;
  disk.open_alone(std::move(owned));
  uint8_t byte = 0;
  for (uint64_t block = 0; block < OneByteBlocks::kBlocks; block += 9) {
    ASSERT_EQ(disk.read_at(block * OneByteBlocks::kBlock + 100, std::span(&byte, 1)), 1);
    EXPECT_EQ(byte, block + 1);
  }
  // Time for workers to decode anything queued beyond the reads.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(layer.decodes, 8);
  layer.decodes = 0;
  std::vector<uint8_t> all(OneByteBlocks::kBlocks * OneByteBlocks::kBlock);
  ASSERT_TRUE(read_exact(disk, 0, all));
  set_decode_threads(0);
  for (size_t at = 0; at < all.size(); at += OneByteBlocks::kBlock) ASSERT_EQ(all[at], at / OneByteBlocks::kBlock + 1);
  EXPECT_LE(layer.decodes, 64) << "a block decoded twice";
}

// An 8 MiB disk with shortcuts across grain and chunk ends, as a
// stream-optimized VMDK and a deflated E01 set.
class ContainerThreads : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    if (!test::have_tools({"qemu-img", "ewfacquirestream"})) GTEST_SKIP() << "qemu-utils or ewf-tools missing";
    std::mt19937 generator(27);
    test::Bytes disk(8u << 20);
    for (size_t i = 0; i < disk.size() / 2; ++i) disk[i] = static_cast<uint8_t>(generator());
    const test::Bytes sample = test::sample_shortcut();
    for (size_t at : {size_t{4096}, size_t{65536 - 504}, size_t{(1u << 20) + 40}, size_t{(3u << 20) - 472},
                      size_t{(5u << 20) + 512}, size_t{(8u << 20) - 4096}})
      std::copy(sample.begin(), sample.end(), disk.begin() + static_cast<std::ptrdiff_t>(at));
    raw_ = test::write_file(dir_ / "disk.raw", disk);
    ASSERT_EQ(test::shell("qemu-img convert -O vmdk -o subformat=streamOptimized " + q(raw_) + " " +
                          q(dir_ / "stream.vmdk") + " && ewfacquirestream -q -c deflate:fast -S 1048576 -t " +
                          q(dir_ / "disk") + " < " + q(raw_) + " >/dev/null")
                  .status,
              0);
  }

  // Records and messages of one scan, without the run header; threads
  // "libewf" has libewf read and decode every E01 chunk.
  std::string scan(const fs::path& input, const char* mode, const std::string& threads) {
    const bool libewf = threads == "libewf";
    if (libewf) setenv("ROOK_EWF_LIBEWF_ONLY", "1", 1);
    const test::CommandResult r = run({input.string(), mode, "-csv", "-quiet", "-threads", libewf ? "2" : threads});
    unsetenv("ROOK_EWF_LIBEWF_ONLY");
    const size_t rows = r.out.find("source path/filename,");
    return "status " + std::to_string(r.status) + "\n" + (rows == std::string::npos ? "" : r.out.substr(rows)) +
           "\n" + r.err;
  }

  static size_t carved(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find("(carved - "); at != std::string::npos; at = text.find("(carved - ", at + 1)) ++n;
    return n;
  }

  // Walks the markers of a stream-optimized disk to the grain at lba and
  // gives its first deflate block the reserved type.
  static bool damage_grain(std::string& vmdk, uint64_t lba) {
    const auto u64 = [&](size_t at) {
      uint64_t v = 0;
      for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(vmdk[at + static_cast<size_t>(i)]);
      return v;
    };
    size_t at = u64(64) * 512;  // the header's overhead: where the markers start
    while (at + 16 <= vmdk.size()) {
      const uint64_t marker_lba = u64(at), size = u64(at + 8) & 0xFFFFFFFF;
      if (size == 0 && (u64(at + 12) & 0xFFFFFFFF) == 0) return false;  // end of stream
      if (size == 0) {
        at += 512 + marker_lba * 512;  // a table, directory or footer and its sectors
        continue;
      }
      if (marker_lba == lba) {
        vmdk[at + 12 + 2] = 0x07;  // after the two-byte zlib header: last block, type 3
        return true;
      }
      at = (at + 12 + size + 511) / 512 * 512;
    }
    return false;
  }

  std::string raw_;
};

TEST_F(ContainerThreads, SameReportsWithAnyNumberOfThreads) {
  std::string stream = test::slurp(dir_ / "stream.vmdk");
  ASSERT_TRUE(damage_grain(stream, ((3u << 20) - 472) / 65536 * 128));
  test::write_file(dir_ / "damaged.vmdk", stream);
  ASSERT_EQ(test::shell("mkdir " + q(dir_ / "cut") + " && cp " + q(dir_) + "/disk.E0* " + q(dir_ / "cut") +
                        " && last=$(ls " + q(dir_ / "cut") + "/disk.E0* | tail -1) && truncate -s 2000 \"$last\"")
                .status,
            0);
  const std::string raw_rows = scan(raw_, "-rawscan", "1");
  ASSERT_NE(raw_rows.find("carved - 0x002ffe28"), std::string::npos) << raw_rows;
  for (const fs::path& input : {dir_ / "stream.vmdk", dir_ / "disk.E01", dir_ / "damaged.vmdk", dir_ / "cut" / "disk.E01"}) {
    const std::string one = scan(input, "-rawscan", "1");
    for (const char* threads : {"2", "8"}) EXPECT_EQ(scan(input, "-rawscan", threads), one) << input << " " << threads;
    const bool damaged = input.filename() == "damaged.vmdk" || input.parent_path().filename() == "cut";
    EXPECT_TRUE(damaged ? carved(one) < carved(raw_rows) : carved(one) == carved(raw_rows)) << input << one;
  }
}

uint32_t adler32(std::string_view bytes) {
  uint32_t a = 1, b = 0;
  for (const unsigned char c : bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// An E01 of one segment with chunks damaged three ways, and one whose table
// sends every chunk to the first (libewf then copies the rest of the
// section as the last one, megabytes): each reads as libewf alone reads
// it, whatever the threads.
TEST_F(ContainerThreads, DamagedEwfChunksReadAsLibewfAloneReadsThem) {
  ASSERT_EQ(test::shell("cd " + q(dir_) + " && ewfacquirestream -q -c deflate:fast -t one < disk.raw >/dev/null" +
                        " && ewfacquirestream -q -c none -t plain < disk.raw >/dev/null")
                .status,
            0);
  const auto u32 = [](const std::string& e01, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<uint8_t>(e01[at + i]);
    return v;
  };
  const auto put32 = [](std::string& e01, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) e01[at + i] = static_cast<char>(v >> (8 * i));
  };
  // "table" and "table2", which list the same chunks.
  const auto tables_of = [&u32](const std::string& e01) {
    std::vector<size_t> tables;
    for (size_t at = 13; at + 104 < e01.size() && u32(e01, at + 16) > at; at = u32(e01, at + 16))
      if (e01.compare(at, 5, "table") == 0) tables.push_back(at);
    return tables;
  };
  const std::string intact = test::slurp(dir_ / "one.E01");
  const std::vector<size_t> tables = tables_of(intact);
  ASSERT_EQ(tables.size(), 2u);
  const size_t count = u32(intact, tables[0] + 76), base = u32(intact, tables[0] + 84);
  ASSERT_EQ(count, 256u);
  const auto entry = [&](const std::string& e01, size_t chunk) { return u32(e01, tables[0] + 100 + 4 * chunk); };
  const auto retable = [&](std::string e01, const std::function<uint32_t(size_t)>& value) {
    for (const size_t table : tables) {
      for (size_t chunk = 0; chunk < count; ++chunk) put32(e01, table + 100 + 4 * chunk, value(chunk));
      put32(e01, table + 100 + 4 * count, adler32(std::string_view(e01).substr(table + 100, 4 * count)));
    }
    return e01;
  };
  test::write_file(dir_ / "oneplace.E01", retable(intact, [&](size_t) { return entry(intact, 0) | 0x80000000; }));
  // Chunk 250 cut to half its stream by starting 251 there.
  const uint32_t start = entry(intact, 250) & 0x7FFFFFFF, next = entry(intact, 251) & 0x7FFFFFFF;
  std::string damaged = retable(intact, [&](size_t chunk) {
    return chunk == 251 ? (entry(intact, 251) & 0x80000000) | (start + (next - start) / 2) : entry(intact, chunk);
  });
  damaged[tables[0] - 1] ^= 0x5A;  // the last byte of the last chunk: its Adler-32
  // Chunk 158 a zlib stream of one stored block: 16 bytes, not a chunk.
  std::string short_stream = {0x78, 0x01, 0x01, 0x10, 0x00, char(0xEF), char(0xFF)};
  short_stream += std::string(16, 'A');
  for (const uint32_t shift : {24u, 16u, 8u, 0u}) short_stream += static_cast<char>(adler32(std::string(16, 'A')) >> shift);
  const size_t chunk158 = base + (entry(intact, 158) & 0x7FFFFFFF);
  ASSERT_TRUE(entry(intact, 158) >> 31 && (entry(intact, 159) & 0x7FFFFFFF) - (chunk158 - base) >= short_stream.size());
  damaged.replace(chunk158, short_stream.size(), short_stream);
  test::write_file(dir_ / "damaged.E01", damaged);
  // A byte of the plain first chunk, which holds a shortcut, changed.
  std::string plain = test::slurp(dir_ / "plain.E01");
  const size_t plain_table = tables_of(plain).at(0);
  plain[u32(plain, plain_table + 84) + u32(plain, plain_table + 100) + 100] ^= 1;
  test::write_file(dir_ / "plain.E01", plain);

  std::vector<std::string> ones;
  for (const char* input : {"one.E01", "damaged.E01", "oneplace.E01", "plain.E01"}) {
    ones.push_back(scan(dir_ / input, "-rawscan", "1"));
    for (const char* threads : {"2", "8", "libewf"})
      EXPECT_EQ(scan(dir_ / input, "-rawscan", threads), ones.back()) << input << " " << threads;
  }
  // libewf takes in the chunk after a short one where the chunk should have
  // gone on: the shortcut at 0x500200 is found 0x7ff0 early too.
  EXPECT_EQ(carved(ones[0]), 6u);
  EXPECT_TRUE(ones[1].find("- 0x004f8210") != std::string::npos && ones[1].find("- 0x007ff000") == std::string::npos)
      << ones[1];
  EXPECT_EQ(ones[2].rfind("status 0\n", 0), 0u) << ones[2];
  EXPECT_EQ(std::make_pair(carved(ones[3]), ones[3].find("- 0x00001000")), std::make_pair(size_t{5}, std::string::npos));
}

// The MFT scan announces each chosen file's clusters before reading them: a
// grain or chunk under one that does not inflate or check loses those
// records alone, however many threads decode.
TEST_F(ContainerThreads, MftScanOfAnnouncedFilesWithADamagedGrain) {
  if (!test::have_tools({"mkntfs", "ntfscp"})) GTEST_SKIP() << "ntfs-3g missing";
  const std::string volume = (dir_ / "volume.raw").string();
  const std::string lnk = test::write_file(dir_ / "s.lnk", test::sample_shortcut());
  std::string make = "truncate -s 8M " + q(volume) + " && mkntfs -F -f -q " + q(volume);
  for (int n = 0; n < 40; ++n) make += " && ntfscp " + q(volume) + " " + q(lnk) + " /s" + std::to_string(n) + ".lnk";
  ASSERT_EQ(test::shell(make + " && cd " + q(dir_) + " && qemu-img convert -O vmdk -o subformat=streamOptimized " +
                        "volume.raw volume.vmdk && ewfacquirestream -q -c deflate:fast -t volume < volume.raw")
                .status, 0);
  const std::string raw = test::slurp(volume), head(reinterpret_cast<const char*>(test::sample_shortcut().data()), 76);
  size_t last = raw.rfind(head);  // the last shortcut's cluster, far from the MFT
  std::string stream = test::slurp(dir_ / "volume.vmdk");
  ASSERT_TRUE(last != std::string::npos && damage_grain(stream, last / 65536 * 128));
  test::write_file(dir_ / "damaged.vmdk", stream);
  // The E01 chunk under it with the last byte of its zlib stream's Adler-32 changed.
  std::string e01 = test::slurp(dir_ / "volume.E01");
  const auto u32 = [&e01](size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<uint8_t>(e01[at + i]);
    return v;
  };
  size_t table = 13;  // sections from the file header on, each naming the next
  while (table + 104 < e01.size() && e01.compare(table, 5, "table") != 0)
    table = std::max<size_t>(table + 1, u32(table + 16));
  const size_t next_chunk = table + 100 + 4 * (last / 32768 + 1);  // that chunk's entry: it starts where this one ends
  ASSERT_LT(next_chunk + 4, e01.size());
  e01[u32(table + 84) + (u32(next_chunk) & 0x7FFFFFFF) - 1] ^= 0x5A;
  test::write_file(dir_ / "damaged.E01", e01);
  std::vector<size_t> rows;
  for (const char* input : {"volume.vmdk", "volume.E01", "damaged.vmdk", "damaged.E01"}) {
    const std::string one = scan(dir_ / input, "-ntfs_scan", "1");
    for (const char* threads : {"2", "8", "libewf"})
      EXPECT_EQ(scan(dir_ / input, "-ntfs_scan", threads), one) << input << threads;
    rows.push_back(static_cast<size_t>(std::count(one.begin(), one.end(), '\n')));
  }
  EXPECT_EQ(rows[0], rows[1]);
  EXPECT_TRUE(rows[2] < rows[0] && rows[3] < rows[0]);
  EXPECT_GT(rows[0], 40u);
}

// A set missing a segment, or with one cut short, is refused rather than
// read with zeros in the gap.
TEST_F(ContainerThreads, EwfSetReadsBackByteForByteOrIsRefused) {
  ASSERT_TRUE(fs::exists(dir_ / "disk.E03")) << "expected several segments";
  const ImageOpenResult opened = open_image_by_content((dir_ / "disk.E01").string());
  EXPECT_EQ(opened.container, ImageContainer::ewf);
  if (!ewf_support_available()) {
    EXPECT_EQ(render_image_open_error(opened, "disk.E01"), "E01 support needs libewf, which this build lacks\n");
    return;
  }
  ASSERT_TRUE(opened.ok()) << render_image_open_error(opened, "disk.E01");
  auto& ewf = static_cast<EwfSource&>(*opened.source);
  const std::string text = test::slurp(raw_);
  const std::vector<uint8_t> expected(text.begin(), text.end());
  EXPECT_GE(ewf.segment_count(), 3);
  ASSERT_EQ(ewf.size(), expected.size());
  EXPECT_TRUE(test::read_whole(ewf) == expected);
  std::vector<uint8_t> piece(1500000);
  ASSERT_EQ(ewf.read_at(777777, piece), static_cast<int64_t>(piece.size()));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), expected.begin() + 777777));
  EXPECT_EQ(std::make_pair(ewf.read_at(expected.size() - 10, piece), ewf.read_at(expected.size(), piece)),
            std::make_pair(int64_t{10}, int64_t{0}));

  const std::string whole_e02 = test::slurp(dir_ / "disk.E02");
  for (const std::string& e02 : {std::string(), whole_e02.substr(0, whole_e02.size() / 2)}) {
    fs::remove(dir_ / "disk.E02");
    if (!e02.empty()) test::write_file(dir_ / "disk.E02", e02);
    const ImageOpenResult broken = open_image_by_content((dir_ / "disk.E01").string());
    EXPECT_FALSE(broken.ok());
    EXPECT_EQ(render_image_open_error(broken, "disk.E01"),
              "invalid image: disk.E01\n  a segment file of the evidence set is missing or cut short\n")
        << e02.size();
  }
  const uint8_t ex01[] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
  const uint8_t l01[] = {'L', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
  EXPECT_TRUE(has_ewf_signature(ex01) && !has_ewf_signature(l01) &&
              !has_ewf_signature(std::span<const uint8_t>(ex01, 7)));
}

}  // namespace
}  // namespace lnk
