// Jump lists: the compound-file reader, automatic destinations read stream
// by stream and joined to their DestList, slack, custom destinations, the
// DestList decoder, AppIDs, and the corpus lists against independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <numeric>
#include <sstream>
#include <tuple>

#include "carve/process_file.h"
#include "jumplist/appid_names.h"
#include "jumplist/compound_file.h"
#include "jumplist/custom_destinations.h"
#include "jumplist/destlist.h"
#include "jumplist/jumplist_records.h"
#include "lnk/signature_search.h"
#include "platform/text.h"
#include "tests/cfb_builder.h"
#include "tests/run_program.h"
#include "tests/shell_test_support.h"

// DestList streams written entry by entry, in the layout of a given version.
namespace lnk::test {
namespace {

struct DestListFields {
  uint32_t number = 1;
  uint64_t time = 0;
  std::string host = "pc";
  std::string path = "C:\\a.txt";
  int32_t pin = -1;
  uint32_t access_count = 1;
  std::string file_droid;  // GUID text, empty for zeros
};

DestListFields destlist_entry(uint32_t number, const std::string& path, uint64_t time = 0,
                              const std::string& host = "pc") {
  DestListFields e;
  e.number = number;
  e.path = path;
  e.time = time;
  e.host = host;
  return e;
}

// count_override replaces the header's entry count when not negative.
Bytes destlist_stream(uint32_t version, const std::vector<DestListFields>& entries, int64_t count_override = -1) {
  Bytes out;
  put_u32(out, version);
  put_u32(out, static_cast<uint32_t>(count_override >= 0 ? count_override : static_cast<int64_t>(entries.size())));
  put_u32(out, 0);           // pinned
  put_u32(out, 0x3F800000);  // a float
  put_u32(out, entries.empty() ? 0 : entries.back().number);
  put_u32(out, 0);
  put_u32(out, 7);  // revision
  put_u32(out, 0);
  for (const DestListFields& e : entries) {
    Bytes entry(8, 0xC5);  // checksum-like
    Guid droid{};
    if (!e.file_droid.empty()) parse_guid(e.file_droid, droid);
    entry.resize(24, 0x11);                          // volume
    entry.insert(entry.end(), droid.begin(), droid.end());
    entry.resize(56, 0x22);                          // birth volume
    entry.insert(entry.end(), droid.begin(), droid.end());
    Bytes host(e.host.begin(), e.host.end());
    host.resize(16, 0);
    entry.insert(entry.end(), host.begin(), host.end());
    put_u32(entry, e.number);
    put_u32(entry, 0);
    put_u32(entry, 0x3F800000);
    put_u64(entry, e.time);
    put_u32(entry, static_cast<uint32_t>(e.pin));
    const Bytes path = utf16le(e.path);
    if (version >= 2) {
      put_u32(entry, 0xFFFFFFFF);
      put_u32(entry, e.access_count);
      put_u64(entry, 0);
    }
    put_u16(entry, static_cast<uint16_t>(path.size() / 2));
    entry.insert(entry.end(), path.begin(), path.end());
    if (version >= 2) put_u32(entry, 0);
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

}  // namespace
}  // namespace lnk::test

namespace lnk {
namespace {

using test::Bytes;
using test::CfbImage;
using test::DestListFields;
using test::kEnd;
using test::kFree;

constexpr uint32_t kMini = 64;
constexpr uint32_t kContainerStart = 4;  // first sector of the mini stream

Bytes padded(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

std::vector<uint32_t> minis_from(uint32_t first, uint32_t count) {
  std::vector<uint32_t> list(count);
  std::iota(list.begin(), list.end(), first);
  return list;
}

struct MiniStream {
  std::string name;
  Bytes data;
  std::vector<uint32_t> minis;  // its mini sectors in chain order
};

// FAT at 0, directory at 1-2 (seven streams at most), mini FAT at 3, the
// mini stream from sector 4; every stream small, placed where told, and
// leftover bytes written into mini sectors no stream takes.
CfbImage mini_stream_list(const std::vector<MiniStream>& streams, uint32_t container_sectors,
                          const std::vector<std::pair<uint32_t, Bytes>>& leftovers = {}) {
  CfbImage image(kContainerStart + container_sectors);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.chain({1, 2});
  image.header_u32(60, 3);
  image.header_u32(64, 1);
  image.set_fat(3, kEnd);
  for (uint32_t i = 0; i < 128; ++i) image.set_mini_fat(3, i, kFree);
  image.chain(minis_from(kContainerStart, container_sectors));
  image.directory_entry(1, 0, "Root Entry", 5, kContainerStart, container_sectors * 512);
  const size_t container = image.sector_offset(kContainerStart);
  for (const auto& [mini, bytes] : leftovers) image.write(container + size_t{mini} * kMini, bytes);
  for (size_t k = 0; k < streams.size(); ++k) {
    const MiniStream& s = streams[k];
    for (size_t j = 0; j < s.minis.size(); ++j) {
      image.set_mini_fat(3, s.minis[j], j + 1 < s.minis.size() ? s.minis[j + 1] : kEnd);
      const size_t from = j * kMini;
      if (from < s.data.size()) {
        const size_t to = std::min(s.data.size(), from + kMini);
        image.write(container + size_t{s.minis[j]} * kMini, Bytes(s.data.begin() + from, s.data.begin() + to));
      }
    }
    const uint32_t slot = static_cast<uint32_t>(k + 1);
    image.directory_entry(1 + slot / 4, slot % 4, s.name, 2, s.minis.front(), static_cast<uint32_t>(s.data.size()));
  }
  return image;
}

class JumpList : public ::testing::Test {
 protected:
  // Small images are padded to 4,096 bytes, as the file scan pads a list
  // to what its FAT can address.
  std::vector<LnkRecord> carve(Bytes bytes, bool* result = nullptr, bool pad = true) {
    if (pad && bytes.size() < 4096) bytes.resize(4096, 0);
    std::vector<LnkRecord> found;
    bool r = carve_jump_list_records(bytes, placement_,
                                     [&](const LnkRecord& record, const ParsedBytes&) { found.push_back(record); });
    if (result) *result = r;
    return found;
  }
  size_t mini_offset(const CfbImage& image, uint32_t mini) const {
    return (image.sector_offset(kContainerStart)) + size_t{mini} * kMini;
  }
  JumpListPlacement placement_;
  Bytes sample_ = test::sample_shortcut();
  uint32_t sample_minis_ = static_cast<uint32_t>((test::sample_shortcut().size() + kMini - 1) / kMini);
};

TEST_F(JumpList, SmallListsPaddedCutRecordsAndNoListNoRecord) {
  // Windows writes lists of two sectors past the header; under 4,096 bytes
  // they are not read, and the file scan hands them over padded.
  CfbImage small = mini_stream_list({{"1", sample_, minis_from(0, sample_minis_)}}, 2);
  ASSERT_LT(small.bytes().size(), 4096u);
  EXPECT_EQ(carve(small.bytes()).size(), 1u);
  // Bytes that are no list, a feed store (a compound file too, with streams
  // of other names) and a list whose stream is nothing but signatures give
  // no record.
  Bytes plain(8192, 0);
  std::copy(sample_.begin(), sample_.end(), plain.begin() + 512);
  Bytes bare;
  while (bare.size() < 8192) bare.insert(bare.end(), sample_.begin(), sample_.begin() + 20);
  bare.resize(8192);
  const Bytes feed = mini_stream_list({{"@HdLETbARQWABGBPNHPH", sample_, minis_from(0, sample_minis_)}}, 2).bytes();
  for (const auto& [bytes, pad] : {std::pair{small.bytes(), false}, {Bytes(511, 0), true}, {plain, true},
                                   {feed, true}, {test::simple_jump_list({bare}), true}}) {
    bool result = true;
    EXPECT_TRUE(carve(bytes, &result, pad).empty());
    EXPECT_FALSE(result);
  }
  // A record is cut at the next signature.
  Bytes stream = padded(sample_, 4096);
  std::copy(sample_.begin(), sample_.begin() + 20, stream.begin() + 100);
  for (const LnkRecord& r : carve(test::simple_jump_list({stream}))) EXPECT_LE(r.parsed_size, 100u);
}

TEST_F(JumpList, FragmentedStreamsAreReadThroughTheirOwnChains) {
  // Stream "1" takes mini sectors 20..31 then 0..; "2" fills the gap and
  // runs backwards: in mini stream order each one's bytes are interleaved.
  std::vector<uint32_t> first = minis_from(20, 6), second;
  for (uint32_t m : minis_from(0, sample_minis_ - 6)) first.push_back(m);
  for (uint32_t m = 19; second.size() < sample_minis_; --m) second.push_back(m);
  Bytes other = sample_;
  other[0x30] ^= 0x01;  // a different write time tells the two apart
  CfbImage image = mini_stream_list({{"1", sample_, first}, {"a", other, second}}, 4);
  const std::vector<LnkRecord> found = carve(image.bytes());
  ASSERT_EQ(found.size(), 2u);
  for (const LnkRecord& r : found)
    EXPECT_EQ(std::tie(r.source_type, r.parsed_size, r.jumplist_kind, r.from_slack),
              std::make_tuple("JMPLIST (carved allocated)", sample_.size(), JumplistKind::without_destlist, false));
  // Without a DestList, streams come in the order of their numbers.
  EXPECT_EQ(std::make_tuple(found[0].stream_number, found[0].lnk_offset, found[1].stream_number, found[1].lnk_offset),
            std::make_tuple(1u, mini_offset(image, 20), 10u, mini_offset(image, 19)));
  EXPECT_NE(found[0].header.write_time, found[1].header.write_time);
}

TEST_F(JumpList, FreeMiniSectorsAndBytesPastAStreamAreSlackNeverAllocated) {
  Bytes old = sample_;
  old[0x30] ^= 0x02;  // its write time
  // "1" is live; an old record lies in free mini sectors 40..; another lies
  // in the mini sectors of "2" past its 100-byte size.
  Bytes short_stream(100, 0x41);
  CfbImage image = mini_stream_list(
      {{"1", sample_, minis_from(0, sample_minis_)}, {"2", short_stream, minis_from(20, 2 + sample_minis_)}}, 8,
      {{40, old}, {22, old}});
  const std::vector<LnkRecord> found = carve(image.bytes());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(std::tie(found[0].source_type, found[0].lnk_offset),
            std::make_tuple("JMPLIST (carved allocated)", mini_offset(image, 0)));
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(std::tie(found[i].source_type, found[i].from_slack, found[i].lnk_offset, found[i].stream_number),
              std::make_tuple("JMPLIST (carved slack)", true, 0u, 0u));
    EXPECT_EQ(found[i].header.write_time, found[0].header.write_time ^ (uint64_t{0x02} << 32));
  }
  // Found on a volume: named by the file, slack records too, and each
  // placed where its bytes lie there.
  placement_.label = "[root]\\x.automaticDestinations-ms";
  placement_.place = [](uint64_t offset) { return offset + 0x777; };
  const std::vector<LnkRecord> placed = carve(image.bytes());
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_EQ(placed[0].source_type + placed[1].source_type,
            "[root]\\x.automaticDestinations-ms (carved allocated)[root]\\x.automaticDestinations-ms (carved slack)");
  const std::vector<uint64_t> offsets = {placed[0].lnk_offset, placed[1].lnk_offset, placed[2].lnk_offset};
  EXPECT_EQ(offsets, (std::vector<uint64_t>{mini_offset(image, 0) + 0x777, mini_offset(image, 22) + 0x777,
                                             mini_offset(image, 40) + 0x777}));
}

TEST_F(JumpList, StreamsJoinTheirDestListEntriesInMostRecentFirstOrder) {
  const std::string droid = "84d342e0-330b-11f0-b401-000c29a16204";  // a version-1 UUID
  std::vector<DestListFields> entries = {test::destlist_entry(3, "C:\\three", 3000, "pc3"),
                                         test::destlist_entry(1, "C:\\one", 1000, "pc1"),
                                         test::destlist_entry(7, "C:\\gone", 700, "pc7")};
  entries[2].file_droid = droid;
  entries[0].pin = 2;
  entries[0].access_count = 9;
  const Bytes destlist = test::destlist_stream(4, entries);
  const uint32_t destlist_minis = static_cast<uint32_t>((destlist.size() + kMini - 1) / kMini);
  CfbImage image = mini_stream_list({{"1", sample_, minis_from(0, sample_minis_)},
                                     {"2", sample_, minis_from(sample_minis_, sample_minis_)},
                                     {"3", sample_, minis_from(2 * sample_minis_, sample_minis_)},
                                     {"DestList", destlist, minis_from(3 * sample_minis_, destlist_minis)}},
                                    8);
  const std::vector<LnkRecord> found = carve(image.bytes());
  ASSERT_EQ(found.size(), 4u);
  for (const LnkRecord& r : found) EXPECT_EQ(r.jumplist_kind, JumplistKind::with_destlist);

  // The entry whose stream is gone keeps its place and its DestList data;
  // the stream the DestList does not name comes last, without an index.
  auto joined = [](const LnkRecord& r) {
    return std::make_tuple(r.stream_number, r.mru_index, r.mru_time, r.destlist_netbios, r.destlist_path,
                           r.destlist_only, r.destlist.present, r.destlist.pin_status, r.destlist.access_count);
  };
  EXPECT_EQ(joined(found[0]), std::make_tuple(3u, 1u, 3000u, "pc3", "C:\\three", false, true, 2, 9u));
  EXPECT_EQ(joined(found[1]), std::make_tuple(1u, 2u, 1000u, "pc1", "C:\\one", false, true, -1, 1u));
  EXPECT_EQ(joined(found[2]), std::make_tuple(7u, 3u, 700u, "pc7", "C:\\gone", true, true, -1, 1u));
  EXPECT_EQ(joined(found[3]), std::make_tuple(2u, 99999u, 0u, "", "", false, false, -1, 0u));
  EXPECT_EQ(found[2].destlist.object_id, droid);
  const LnkRecord& gone = found[2];
  EXPECT_EQ(std::tie(gone.source_type, gone.parsed_size, gone.droid_object_id, gone.droid_mac),
            std::make_tuple("JMPLIST (DestList entry only)", 0u, droid, "00:0c:29:a1:62:04"));
  EXPECT_NE(gone.droid_time, 0u);
  EXPECT_GT(gone.lnk_offset, mini_offset(image, 3 * sample_minis_));  // inside the DestList

  // A DestList of an unknown version gives no entries to join.
  Bytes unknown = image.bytes();
  test::set_u32(unknown, mini_offset(image, 3 * sample_minis_), 9);
  const std::vector<LnkRecord> plain = carve(unknown);
  ASSERT_EQ(plain.size(), 3u);
  for (const LnkRecord& r : plain)
    EXPECT_EQ(std::make_tuple(r.jumplist_kind, r.mru_index), std::make_tuple(JumplistKind::without_destlist, 99999u));

  // An entry whose stream holds no shortcut is still reported.
  const Bytes one_entry = test::destlist_stream(1, {test::destlist_entry(1, "C:\\x", 55)});
  const std::vector<LnkRecord> lone = carve(
      mini_stream_list({{"1", Bytes(200, 0x33), minis_from(0, 4)}, {"DestList", one_entry, minis_from(4, 4)}}, 1)
          .bytes());
  ASSERT_EQ(lone.size(), 1u);
  EXPECT_EQ(std::make_tuple(lone[0].destlist_only, lone[0].mru_time, lone[0].stream_number),
            std::make_tuple(true, 55u, 1u));
}

TEST_F(JumpList, KindsAreToldApartByTheirOwnHeaders) {
  EXPECT_EQ(classify_jump_list(test::simple_jump_list({sample_})), JumpListFormat::automatic);

  // A feed store, and a list whose stream is a storage object.
  CfbImage feed = mini_stream_list({{"@HdLETbARQWABGBPNHPH", sample_, minis_from(0, sample_minis_)}}, 2);
  CfbImage storage = mini_stream_list({{"1", sample_, minis_from(0, sample_minis_)}}, 2);
  storage.bytes()[storage.sector_offset(1) + 128 + 66] = 1;  // a storage, not a stream
  for (const Bytes& other : {feed.bytes(), storage.bytes(), sample_, Bytes{}})
    EXPECT_EQ(classify_jump_list(other), JumpListFormat::none) << other.size();
}

// Header, one category of the given type and body, then the footer.
Bytes custom_list(uint32_t type, const Bytes& body, uint32_t categories = 1) {
  Bytes out;
  for (uint32_t v : {2u, categories, 0u, type}) test::put_u32(out, v);
  out.insert(out.end(), body.begin(), body.end());
  test::put_u32(out, 0xBABFFBAB);
  return out;
}

TEST(CustomDestinations, HeaderChecks) {
  const Bytes recent = {2, 0, 0, 0}, unknown_kind = {3, 0, 0, 0}, tasks = {0, 0, 0, 0};
  Bytes named = {3, 0};  // a name of three characters, then no entries
  for (const uint8_t c : test::utf16le("Top")) named.push_back(c);
  named.insert(named.end(), 4, 0);
  Bytes overlong_name = named;
  overlong_name[0] = 200;
  Bytes wrong_version = custom_list(2, tasks);
  wrong_version[0] = 1;
  const Bytes bare = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::pair<Bytes, bool> cases[] = {
      {custom_list(1, recent), true},          {custom_list(1, unknown_kind), false},
      {custom_list(2, tasks), true},           {custom_list(5, tasks), false},
      {custom_list(2, tasks, 1000), false},    // more categories than bytes
      {custom_list(0, named), true},           {custom_list(0, overlong_name), false},
      {wrong_version, false},
      {bare, true},                            // no categories: a whole file only when nothing follows
      {padded(bare, 100), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(looks_like_custom_destinations(ByteReader(cases[i].first)), cases[i].second) << i;
  EXPECT_EQ(classify_jump_list(custom_list(2, tasks)), JumpListFormat::custom);
}

TEST(CustomDestinations, EveryShortcutIsCarvedAndAFalseSignatureIsNot) {
  // Two shell objects in a tasks category whose entry count is 76: the
  // count and the first class identifier read as a signature. A third
  // record right after the second ends it at its last byte.
  const Bytes sample = test::sample_shortcut();
  Bytes body;
  test::put_u32(body, 76);
  for (int i = 0; i < 2; ++i) {
    body.insert(body.end(), sample.begin() + 4, sample.begin() + 20);  // the shortcut class identifier
    body.insert(body.end(), sample.begin(), sample.end());
  }
  body.insert(body.end(), sample.begin(), sample.end());
  Bytes bytes = custom_list(2, body);
  std::vector<uint64_t> offsets;
  EXPECT_TRUE(carve_custom_destinations(bytes, JumpListPlacement{}, [&](const LnkRecord& r, const ParsedBytes&) {
    EXPECT_EQ(r.parsed_size, sample.size());
    EXPECT_EQ(r.source_type, "JMPLIST (custom destinations)");
    offsets.push_back(r.lnk_offset);
  }));
  EXPECT_EQ(offsets, (std::vector<uint64_t>{36, 36 + 16 + sample.size(), 36 + 16 + 2 * sample.size()}));

  // The same bytes without a custom-destinations header are not read.
  bytes[0] = 9;
  EXPECT_FALSE(carve_custom_destinations(bytes, JumpListPlacement{}, [](const LnkRecord&, const ParsedBytes&) {}));
}

TEST(AppIds, FromFileNamesAndKnownNames) {
  const std::pair<const char*, const char*> names[] = {
      {"C:\\Users\\x\\Recent\\5f7b5f1e01b83767.automaticDestinations-ms", "5f7b5f1e01b83767"},
      {"/cases/ez_Win10_F01B4D95CF55D32A.customDestinations-ms", "f01b4d95cf55d32a"},
      {"faef7def55a1d4b.automaticDestinations-ms", "faef7def55a1d4b"},
      {"a5f7b5f1e01b83767.automaticDestinations-ms", ""},  // 17 digits
      {"5f7b5f1e01b83767", ""},                            // no extension
      {"dir.5f7b5f1e01b83767/notes", ""},
  };
  for (const auto& [name, id] : names) EXPECT_EQ(app_id_from_file_name(name), id) << name;
  EXPECT_FALSE(lookup_app_name("f01b4d95cf55d32a").empty());
  EXPECT_EQ(lookup_app_name("9B9CDC69C1C24E2B"), lookup_app_name("9b9cdc69c1c24e2b"));
  // Leading zeros do not matter: the table and file names drop them alike.
  EXPECT_EQ(lookup_app_name("0faef7def55a1d4b"), lookup_app_name("faef7def55a1d4b"));
  EXPECT_FALSE(lookup_app_name("faef7def55a1d4b").empty());
  EXPECT_EQ(lookup_app_name("not hex"), "");
}

using test::destlist_stream;

DestList decoded(const Bytes& bytes, bool expect_header = true) {
  DestList out;
  EXPECT_EQ(decode_destlist(ByteReader(bytes), out), expect_header);
  return out;
}

TEST(DestList, EntriesOfEachLayoutDecode) {
  std::vector<DestListFields> fields = {
      test::destlist_entry(0x1a, "C:\\Users\\Zoë\\a.txt", 0x01db1bc7d3d833d8, "desktop-u6f04qv"),
      test::destlist_entry(3, "knownfolder:{374DE290-123F-4565-9164-39C4925E467B}", 0x01d7e00000000000, "")};
  fields[0].pin = 2;
  fields[0].access_count = 7;
  for (uint32_t version : {1u, 2u, 3u, 4u, 5u, 6u}) {
    const DestList d = decoded(destlist_stream(version, fields));
    EXPECT_EQ(std::make_tuple(d.known_version, d.complete, d.version, d.entry_count, d.last_entry_number, d.revision),
              std::make_tuple(true, true, version, 2u, 3u, 7u));
    ASSERT_EQ(d.entries.size(), 2u) << version;
    const DestListEntry& e = d.entries[0];
    EXPECT_EQ(std::tie(e.entry_number, e.last_access_time, e.netbios_name, e.path, e.pin_status),
              std::make_tuple(0x1au, 0x01db1bc7d3d833d8u, "desktop-u6f04qv", "C:\\Users\\Zoë\\a.txt", 2))
        << version;
    EXPECT_EQ(std::make_tuple(e.has_access_count, e.access_count, e.droid_volume_id[0], e.birth_droid_volume_id[15]),
              std::make_tuple(version >= 2, version >= 2 ? 7u : 0u, 0x11, 0x22))
        << version;
    EXPECT_EQ(std::tie(d.entries[1].stream_offset, d.entries[1].pin_status, d.entries[1].path),
              std::make_tuple(version >= 2 ? 32u + 130 + 2 * 18 + 4 : 32u + 114 + 2 * 18, -1, fields[1].path));
  }
}

TEST(DestList, HostileStreamsEndWithWhatCouldBeRead) {
  const std::vector<DestListFields> two = {test::destlist_entry(1, "C:\\one"), test::destlist_entry(2, "C:\\two")};

  // The header counts far more entries than the bytes hold.
  DestList d = decoded(destlist_stream(4, two, 0x7FFFFFFF));
  EXPECT_EQ(std::make_tuple(d.entries.size(), d.complete), std::make_tuple(2u, false));

  // The second path claims more characters than the stream has left.
  Bytes long_path = destlist_stream(4, two);
  const size_t second = 32 + 130 + 12 + 4;
  test::set_u16(long_path, second + 128, 0xFFFF);
  d = decoded(long_path);
  ASSERT_EQ(d.entries.size(), 2u);
  EXPECT_EQ(std::make_tuple(d.complete, d.entries[0].path_cut, d.entries[1].path_cut, d.entries[1].path),
            std::make_tuple(false, false, true, "C:\\two"));

  // Unknown versions give the header alone; too short a stream gives nothing.
  for (uint32_t version : {0u, 7u, 0xFFFFFFFFu}) {
    d = decoded(destlist_stream(version, two));
    EXPECT_EQ(std::make_tuple(d.known_version, d.entries.size(), d.entry_count), std::make_tuple(false, 0u, 2u))
        << version;
  }
  decoded(Bytes(31, 0), false);
  d = decoded(destlist_stream(4, {}));
  EXPECT_EQ(std::make_tuple(d.complete, d.entries.size()), std::make_tuple(true, 0u));
}

TEST(DestList, EveryTruncationOfARealStreamDecodesAPrefix) {
  const Bytes whole = testing::read_corpus("jumplists/jumplist_parser/other/DestList");
  if (whole.empty()) GTEST_SKIP() << "corpus absent";
  const DestList full = decoded(whole);
  ASSERT_EQ(full.version, 6u);
  ASSERT_EQ(full.entries.size(), 37u);
  ASSERT_TRUE(full.complete);
  size_t previous = 0;
  for (size_t length = 32; length < whole.size(); ++length) {
    const DestList cut = decoded(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    ASSERT_GE(cut.entries.size(), previous) << length;
    // Only the last entry's 4 bytes of padding may be missing from a whole list.
    ASSERT_EQ(cut.complete, length >= whole.size() - 4) << length;
    previous = cut.entries.size();
    for (size_t i = 0; i < cut.entries.size(); ++i) {
      EXPECT_EQ(cut.entries[i].entry_number, full.entries[i].entry_number) << length;
      if (!cut.entries[i].path_cut) {
        EXPECT_EQ(cut.entries[i].path, full.entries[i].path) << length;
      }
    }
  }
}

// Real jump lists against independent readers: olefile for the streams,
// tools/destlist.py for the DestList, a plain signature search for custom
// destinations.
namespace fs = std::filesystem;

// One "file<TAB>stream<TAB>hex" line per stream of every file.
const char* kOlefileStreams =
    "import olefile, sys\n"
    "for f in sys.argv[1:]:\n"
    "    o = olefile.OleFileIO(f)\n"
    "    for e in o.listdir():\n"
    "        print(f, '/'.join(e), o.openstream(e).read().hex(), sep='\\t')\n";

std::string hex_of(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// The lines tools/destlist.py --tsv prints, from the C++ readers: the
// DestList through the compound file's own chain, or a bare stream as it is.
std::string cpp_destlist_lines(const Bytes& bytes, const std::string& path, DestList& d) {
  std::ostringstream out;
  out << "file\t" << path << '\n';
  CompoundFile file;
  bool found = false;
  if (!parse_compound_file(file, bytes.data(), bytes.size())) found = decode_destlist(ByteReader(bytes), d);
  for (const CfbDirectoryEntry& entry : file.entries)
    if (entry.object_type == kCfbStreamObject && entry.name == "DestList")
      found = decode_destlist(ByteReader(read_stream(file, entry, bytes.data(), bytes.size())), d);
  if (!found) return out.str() + "none\n";
  out << "header\t" << d.version << '\t' << d.entry_count << '\t' << d.pinned_count << '\t' << d.last_entry_number
      << '\t' << d.revision << '\n';
  for (const DestListEntry& e : d.entries)
    out << "entry\t" << e.entry_number << '\t' << e.last_access_time << '\t' << e.pin_status << '\t'
        << (e.has_access_count ? std::to_string(e.access_count) : "-") << '\t' << hex_of(e.netbios_name) << '\t'
        << hex_of(e.path) << '\n';
  return out.str();
}

using JumpListCorpus = test::ScratchDirTest;

TEST_F(JumpListCorpus, EveryListAgreesWithTheIndependentReaders) {
  const fs::path root = testing::corpus_path("jumplists");
  if (!fs::exists(root)) GTEST_SKIP() << "corpus absent";
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (python.empty() && test::run_program(dir_, candidate, {"-c", "import olefile"}).status == 0) python = candidate;
  if (python.empty()) GTEST_SKIP() << "python3 with olefile absent";
  std::vector<std::string> automatic, custom;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = item.path().string();
    if (name.find(".automaticDestinations-ms") != std::string::npos) automatic.push_back(name);
    if (name.find(".customDestinations-ms") != std::string::npos) custom.push_back(name);
  }
  std::sort(automatic.begin(), automatic.end());
  std::vector<std::string> args = {"-c", kOlefileStreams};
  args.insert(args.end(), automatic.begin(), automatic.end());
  const test::CommandResult olefile = test::run_program(dir_, python, args);
  ASSERT_EQ(olefile.status, 0) << olefile.err;
  std::map<std::string, std::map<std::string, std::string>> streams;  // hex
  std::istringstream lines(olefile.out);
  for (std::string file, name, hex; std::getline(lines, file, '\t') && std::getline(lines, name, '\t') &&
                                    std::getline(lines, hex);)
    streams[file][name] = hex;

  size_t shortcut_streams = 0, slack = 0, entry_only = 0, destlist_entries = 0;
  std::map<uint32_t, size_t> versions;
  std::string cpp_lines;
  automatic.push_back(testing::corpus_path("jumplists/jumplist_parser/other/DestList"));
  for (const std::string& path : automatic) {
    Bytes bytes = testing::read_bytes(path);
    DestList destlist;
    cpp_lines += cpp_destlist_lines(bytes, path, destlist);
    versions[destlist.version] += !destlist.entries.empty();
    destlist_entries += destlist.entries.size();
    if (!streams.count(path)) continue;  // the bare DestList
    // Small lists reach the reader padded, as the file scan pads them.
    if (bytes.size() < 4096) bytes.resize(4096, 0);
    std::map<uint64_t, std::vector<LnkRecord>> allocated;
    std::map<uint64_t, std::string> record_bytes;  // each record's own, as parsed, in hex
    carve_jump_list_records(bytes, JumpListPlacement{}, [&](const LnkRecord& r, const ParsedBytes& b) {
      if (r.source_type == "JMPLIST (carved allocated)") {
        allocated[r.stream_number].push_back(r);
        record_bytes[r.stream_number] = hex_of(std::string(b.bytes.begin(), b.bytes.end()));
      } else if (r.source_type == "JMPLIST (carved slack)") {
        ++slack;
      } else if (r.destlist_only) {
        ++entry_only;
      } else {
        ADD_FAILURE() << path << ": " << r.source_type;
      }
    });
    size_t numbered = 0;
    for (const auto& [name, data] : streams[path]) {
      if (name.empty() || name.size() > 16 || name.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
          data.empty())
        continue;
      ++numbered;
      const std::string where = path + " stream " + name;
      const uint64_t number = std::stoull(name, nullptr, 16);
      ASSERT_EQ(allocated[number].size(), 1u) << where;
      // The whole stream is the record: parsed from the same bytes olefile reads.
      EXPECT_TRUE(record_bytes[number] == data) << where;
    }
    size_t records = 0;
    for (const auto& [number, list] : allocated) records += list.size();
    EXPECT_EQ(records, numbered) << path;
    shortcut_streams += numbered;
  }
  // The DestLists, compared line by line so that a difference names its file.
  args = {ROOK_SOURCE_DIR "/tools/destlist.py", "--tsv"};
  args.insert(args.end(), automatic.begin(), automatic.end());
  const test::CommandResult python_lines = test::run_program(dir_, python, args);
  ASSERT_EQ(python_lines.status, 0) << python_lines.err;
  std::istringstream expected(python_lines.out), actual(cpp_lines);
  for (std::string want, got; std::getline(expected, want);) {
    ASSERT_TRUE(std::getline(actual, got)) << want;
    EXPECT_EQ(got, want);
  }

  // Custom destinations through the file scan, as `rook FILE` reads them:
  // every signature is a record, no -deepscan needed.
  size_t custom_records = 0;
  useropts options;
  for (const std::string& path : custom) {
    std::vector<uint64_t> hits;
    SignatureSearch().find_all(testing::read_bytes(path), hits);
    size_t records = 0;
    RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo&) {
      EXPECT_EQ(r.source_type, "JMPLIST (custom destinations)");
      ++records;
    });
    process_shortcut_file(path, SourceInfo{}, options, outlet);
    EXPECT_EQ(records, hits.size()) << path;
    custom_records += records;
  }
  std::printf("  %zu automatic lists: %zu shortcut streams, %zu slack records, %zu DestList-only, %zu DestList "
              "entries (v1 lists %zu, v6 %zu); %zu custom lists, %zu records\n",
              automatic.size(), shortcut_streams, slack, entry_only, destlist_entries, versions[1], versions[6],
              custom.size(), custom_records);
  EXPECT_GE(automatic.size(), 40u);
  EXPECT_GE(versions[1], 5u);
  EXPECT_GE(versions[6], 2u);
  EXPECT_GE(custom_records, 40u);
}

CompoundFile parsed(const Bytes& bytes) {
  CompoundFile file;
  EXPECT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  return file;
}

Bytes stream(const CompoundFile& file, const std::string& name, const Bytes& bytes) {
  return read_stream(file, file.directory.at(name), bytes.data(), bytes.size());
}

// FAT 0, directory 1, a one-sector mini stream at 2, mini FAT 3; the cutoff
// is 512 so that small images hold large streams.
CfbImage layout_image() {
  CfbImage image(12);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.set_fat(1, kEnd);
  image.header_u32(56, 512);
  image.header_u32(60, 3);
  image.header_u32(64, 1);
  image.set_fat(3, kEnd);
  for (uint32_t i = 0; i < 128; ++i) image.set_mini_fat(3, i, test::kFree);
  image.directory_entry(1, 0, "Root Entry", 5, 2, 512);
  image.set_fat(2, kEnd);
  // "a" is large: 700 bytes in sectors 6 then 4. "b" is small: 100 bytes
  // in mini sectors 3 then 1.
  image.chain({6, 4});
  image.directory_entry(1, 1, "a", 2, 6, 700);
  image.set_mini_fat(3, 3, 1);
  image.set_mini_fat(3, 1, kEnd);
  image.directory_entry(1, 2, "b", 2, 3, 100);
  return image;
}

TEST(CompoundFile, RefusesShortForeignAndOutOfRangeHeaders) {
  CompoundFile file;
  const Bytes sound = layout_image().bytes();
  EXPECT_EQ(std::make_tuple(parse_compound_file(file, sound.data(), sound.size()),
                            parse_compound_file(file, sound.data(), 511), parse_compound_file(file, nullptr, 4096)),
            std::make_tuple(true, false, false));

  auto refused = [&](size_t at, uint32_t value, bool wide) {
    Bytes changed = sound;
    wide ? test::set_u32(changed, at, value) : test::set_u16(changed, at, static_cast<uint16_t>(value));
    return !parse_compound_file(file, changed.data(), changed.size());
  };
  EXPECT_TRUE(refused(20, 1, false));  // CLSID not zero
  EXPECT_TRUE(refused(6, 0, false));   // signature
  EXPECT_TRUE(refused(48, 12, true));   // directory past the end
  EXPECT_FALSE(refused(48, 11, true));  // the last sector is fine
  for (uint16_t shift : {30, 31, 32, 255}) EXPECT_TRUE(refused(30, shift, false)) << shift;
}

// Just below the cutoff a stream lives in the root entry's 8 sectors (64
// mini sectors); at the cutoff in its own sectors, and the root has none.
TEST(CompoundFile, TheMiniStreamCutoff) {
  for (size_t size : {4095u, 4096u}) {
    const Bytes bytes = test::simple_jump_list({Bytes(size, 0xCC)});
    const CompoundFile file = parsed(bytes);
    EXPECT_EQ(std::make_tuple(file.directory.at("1").in_mini_stream, file.directory.at("root entry").chain.size()),
              std::make_tuple(size == 4095, size == 4095 ? 8u : 0u));
    EXPECT_EQ(stream(file, "1", bytes), Bytes(size, 0xCC));
  }
}

// FAT sectors 0 on, 109 listed in the header and the rest in DIFAT sectors
// right after them, so the FAT entries of far sectors are reachable only
// through the DIFAT: one DIFAT sector, and two, where the first one's last
// word leads to the second and is no FAT sector.
TEST(CompoundFile, FatSectorsBeyondTheHeaderComeFromTheDifat) {
  for (uint32_t fat_sectors : {110u, 237u}) {
    CfbImage image(fat_sectors * 128);
    const uint32_t directory = fat_sectors + (fat_sectors - 109 + 126) / 127;  // after the DIFAT sectors
    image.place_fat(minis_from(0, fat_sectors), minis_from(fat_sectors, directory - fat_sectors));
    image.header_u32(48, directory);
    image.set_fat(directory, kEnd);
    image.directory_entry(directory, 0, "Root Entry", 5, kEnd, 0);
    const uint32_t distant = fat_sectors * 128 - 20;
    image.directory_entry(directory, 1, "distant", 2, distant, 4096);
    const std::vector<uint32_t> chain = minis_from(distant, 8);
    image.chain(chain);
    image.write_sector(distant, Bytes(4096, 0xDD));

    CompoundFile file = parsed(image.bytes());
    EXPECT_EQ(std::make_tuple(file.fat.entry_count(), file.directory.at("distant").chain),
              std::make_tuple(size_t{fat_sectors} * 128, chain)) << fat_sectors;
    EXPECT_EQ(stream(file, "distant", image.bytes()), Bytes(4096, 0xDD));

    image.header_u32(72, 0);  // without the DIFAT sectors the distant stream has no chain
    EXPECT_TRUE(parsed(image.bytes()).directory.at("distant").chain.empty());
  }
}

TEST(CompoundFile, LoopingChainsDifatEndAndHostileMiniSectors) {
  CfbImage image = layout_image();
  // A stream chain 4 -> 5 -> 4, and a directory chain that points at itself.
  image.set_fat(4, 5);
  image.set_fat(5, 4);
  image.set_fat(1, 1);
  image.directory_entry(1, 1, "loop", 2, 4, 8192);
  CompoundFile file = parsed(image.bytes());
  EXPECT_EQ(std::make_pair(file.directory_sectors, file.directory.at("loop").chain),
            std::make_pair(std::vector<uint32_t>{1}, std::vector<uint32_t>{4, 5}));
  EXPECT_EQ(stream(file, "loop", image.bytes()).size(), 2u * 512);

  // Far more FAT sectors than exist, in a DIFAT sector that lists itself.
  CfbImage difat = layout_image();
  difat.header_u32(44, 0xFFFFFFFF);
  difat.header_u32(68, 7);
  difat.header_u32(72, 1);
  for (uint32_t i = 0; i < 128; ++i) difat.write_sector(7, {0x07, 0x00, 0x00, 0x00}, i * 4);
  EXPECT_TRUE(parsed(difat.bytes()).has_directory);

  // Hostile mini sector sizes: slack and reads stay inside the bytes.
  for (uint16_t shift : {0, 1, 12, 31, 40}) {
    CfbImage hostile = layout_image();
    hostile.header_u16(32, shift);
    const Bytes& bytes = hostile.bytes();
    const CompoundFile odd = parsed(bytes);
    for (const FileRun& run : find_slack(odd, bytes.size()).mini_sectors)
      EXPECT_LE(run.offset + run.length, bytes.size()) << shift;
    for (const CfbDirectoryEntry& e : odd.entries) read_stream(odd, e, bytes.data(), bytes.size());
  }
}

using Runs = std::vector<std::pair<uint64_t, uint64_t>>;

Runs pairs(const std::vector<FileRun>& runs) {
  Runs out;
  for (const FileRun& r : runs) out.emplace_back(r.offset, r.length);
  return out;
}

// Reading through the chains is compared with olefile on the corpus; here
// where each piece lies, which places the records found in it, and the
// slack: what no live stream uses.
TEST(CompoundFile, StreamsAreReadThroughTheirOwnChainsAndSlackIsTheRest) {
  CfbImage image = layout_image();
  Bytes bytes = image.bytes();
  bytes.resize(bytes.size() + 100, 0);  // a cut sector at the end
  CompoundFile file = parsed(bytes);
  ASSERT_EQ(std::make_tuple(file.entries.size(), file.root_index), std::make_tuple(4u, 0));
  EXPECT_EQ(pairs(stream_runs(file, file.entries[1], bytes.size())), (Runs{{7 * 512, 512}, {5 * 512, 188}}));
  EXPECT_EQ(pairs(stream_runs(file, file.entries[2], bytes.size())),
            (Runs{{3 * 512 + 3 * 64, 64}, {3 * 512 + 64, 36}}));
  const CfbSlack slack = find_slack(file, bytes.size());
  // The end of sector 4 past "a" runs on into free sector 5; sectors 7 to 11
  // and the cut end are free. FAT, directory, mini stream and mini FAT are not slack.
  EXPECT_EQ(pairs(slack.sectors), (Runs{{5 * 512 + 188, 324 + 512}, {8 * 512, 5 * 512 + 100}}));
  // Mini sector 0, the end of 1 past "b" and all of 2, then 4 to 7.
  const uint64_t container = 3 * 512;
  EXPECT_EQ(pairs(slack.mini_sectors),
            (Runs{{container, 64}, {container + 64 + 36, 28 + 64}, {container + 256, 256}}));

  // A deleted stream leaves its sectors to the slack.
  bytes[image.sector_offset(1) + 128 + 66] = 0;
  ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  EXPECT_EQ(pairs(find_slack(file, bytes.size()).sectors), (Runs{{5 * 512, 8 * 512 + 100}}));

  // A chain that leaves the bytes ends the stream there.
  image.chain({4, 6});
  image.directory_entry(1, 1, "a", 2, 4, 700);
  ASSERT_TRUE(parse_compound_file(file, image.bytes().data(), image.bytes().size()));
  EXPECT_EQ(read_stream(file, file.entries[1], image.bytes().data(), 7 * 512 + 100).size(), 512u);
}

}  // namespace
}  // namespace lnk
