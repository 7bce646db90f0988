#include "report/csv_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cmdline/options.h"
#include "delimited_lines.h"
#include "lnk/parse_lnk.h"
#include "report/delimited_table.h"
#include "report/record_writer.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using testing_support::split_fields;
using testing_support::split_lines;

constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
uint64_t filetime_of(uint64_t unix_seconds) { return kUnixEpoch + unix_seconds * 10000000ULL; }
const uint64_t kJune5 = filetime_of(1244232800);  // 2009-06-05 20:13:20 UTC
const uint64_t kJan2 = filetime_of(1262433600);   // 2010-01-02 12:00:00 UTC

useropts options_for(std::vector<std::string> extra) {
  useropts o;
  ArgList args{"rook"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("input.lnk");
  EXPECT_TRUE(parse_useropts(o, args, "test"));
  o.source_path = "E:\\case,1\\a.lnk";
  o.source_modified = o.source_accessed = o.source_created = kJan2 + 1234567;
  o.source_type = "Shortcut LNK (file)";
  return o;
}

LnkRecord plain_record() {
  LnkRecord r;
  r.source_type = "Shortcut LNK (file)";
  r.header.file_attributes = 0x20;
  r.header.write_time = r.header.access_time = r.header.creation_time = kJune5;
  r.header.file_size = 0x0046ba18;
  r.idlist_path = "C:\\tools,old\\app.exe";
  r.drive_type = "fixed";
  r.volume_serial = "d29a-b834";
  return r;
}

std::string write_all(std::vector<LnkRecord> records, useropts& o) {
  std::ostringstream out;
  for (LnkRecord& r : records) write_record(out, r, o);
  return out.str();
}

// The field under a header name, or "<absent>".
std::string field(const std::vector<std::string>& header, const std::vector<std::string>& row,
                  const std::string& name, size_t offset = 0) {
  auto at = std::find(header.begin(), header.end(), name);
  if (at == header.end()) return "<absent>";
  size_t i = static_cast<size_t>(at - header.begin()) + offset;
  return i < row.size() ? row[i] : "<short row>";
}

TEST(CellText, LineBreaksSpelledOutAndSeparatorReplaced) {
  TableStyle comma;
  comma.replaced = ',';
  comma.replacement = ' ';
  EXPECT_EQ(clean_cell_text("a,b\r\nc\n\rd\ne\rf", comma), "a b[CRLF]c[LFCR]d[LF]e[CR]f");
  EXPECT_EQ(clean_cell_text("\r\r\n\n\n\r", comma), "[CR][CRLF][LF][LFCR]");
  TableStyle bar;
  bar.replaced = '|';
  bar.replacement = ';';
  EXPECT_EQ(clean_cell_text("x|y,z", bar), "x;y,z");
  EXPECT_EQ(clean_cell_text("x|y,z", TableStyle{}), "x|y,z");
}

TEST(CsvReport, DefaultLayoutHeaderOnceAndBlankBeforeTimes) {
  useropts o = options_for({"-csv"});
  LnkRecord second = plain_record();
  second.header.file_size = 0;
  second.header.write_time = 0;
  std::vector<std::string> lines = split_lines(write_all({plain_record(), second}, o));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("source path/filename,source type,file mdate, time-UTC,file adate, "
                           "time-UTC,file cdate, time-UTC,tgt mdate, time-UTC,",
                           0),
            0u);
  const auto header = split_fields(lines[0], ",");
  EXPECT_EQ(std::count(header.begin(), header.end(), " time-UTC"), 7);
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(split_fields(lines[i], ",").size(), header.size());

  const auto row = split_fields(lines[1], ",");
  EXPECT_EQ(row[0], "E:\\case 1\\a.lnk");
  EXPECT_EQ(field(header, row, "file mdate"), "01/02/2010");
  EXPECT_EQ(field(header, row, "file mdate", 1), " 12:00:00");  // no fraction
  EXPECT_EQ(field(header, row, "tgt mdate"), "06/05/2009");
  EXPECT_EQ(field(header, row, "tgt mdate", 1), " 20:13:20.000");
  EXPECT_EQ(field(header, row, "ObjID date"), "");
  EXPECT_EQ(field(header, row, "ObjID date", 1), " ");
  EXPECT_EQ(field(header, row, "file size"), "0x0046ba18");
  EXPECT_EQ(field(header, row, "target name"), "C:\\tools old\\app.exe");
  EXPECT_EQ(field(header, row, "tgt attrib"), "FILE_ATTRIBUTE_ARCHIVE");
  EXPECT_EQ(field(header, row, "vol serial"), "d29a-b834");

  const auto row2 = split_fields(lines[2], ",");
  EXPECT_EQ(field(header, row2, "file size"), "");
  // A zero header time falls back to the IDList's, which is zero too.
  EXPECT_EQ(field(header, row2, "tgt mdate"), "");
}

TEST(CsvReport, SeparatorChoicesAndNoWhitespace) {
  useropts bar = options_for({"-csv", "-csv_separator", "|"});
  LnkRecord r = plain_record();
  r.name_string = "one|two, three";
  auto lines = split_lines(write_all({r}, bar));
  ASSERT_EQ(lines.size(), 2u);
  auto header = split_fields(lines[0], "|");
  auto row = split_fields(lines[1], "|");
  ASSERT_EQ(row.size(), header.size());
  EXPECT_EQ(field(header, row, "extra info"), "[Description]: one;two, three");
  EXPECT_EQ(row[0], "E:\\case,1\\a.lnk");

  useropts tight = options_for({"-csv", "-no_whitespace"});
  lines = split_lines(write_all({plain_record()}, tight));
  header = split_fields(lines[0], ",");
  row = split_fields(lines[1], ",");
  EXPECT_EQ(std::count(header.begin(), header.end(), "time-UTC"), 7);
  EXPECT_EQ(field(header, row, "tgt mdate", 1), "20:13:20.000");

  useropts tab = options_for({"-csv", "-csv_separator", "tab"});
  lines = split_lines(write_all({plain_record()}, tab));
  EXPECT_EQ(split_fields(lines[0], "\t").size(), split_fields(lines[1], "\t").size());
  EXPECT_EQ(split_fields(lines[1], "\t")[0], "E:\\case,1\\a.lnk");
}

TEST(CsvReport, PairedTimesUseFixedWidthColumns) {
  useropts o = options_for({"-csv", "-pair_datetime"});
  LnkRecord r = plain_record();
  r.idlist_path = "C:\\a.exe";
  auto lines = split_lines(write_all({r}, o));
  ASSERT_EQ(lines.size(), 2u);
  auto header = split_fields(lines[0], ",");
  auto row = split_fields(lines[1], ",");
  ASSERT_EQ(row.size(), header.size());
  EXPECT_EQ(header[0], "source path/filename" + std::string(20, ' '));
  EXPECT_EQ(field(header, row, "file size "), "0x0046ba18");
  const std::string target_time = row[5];
  EXPECT_EQ(target_time, " 06/05/2009 20:13:20.000");
  EXPECT_EQ(header[5], "  tgt modify date [UTC] ");  // centred, after the time blank
  // Every short value is padded to its column, so the columns line up.
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i].find("ObjID") != std::string::npos) continue;
    EXPECT_EQ(row[i].size(), header[i].size()) << "column " << header[i];
  }
  // An invalid time is a blank, not a padded field.
  EXPECT_EQ(row[8], "  ");

  // -no_whitespace turns the columns back into plain two-column times.
  useropts plain = options_for({"-csv", "-pair_datetime", "-no_whitespace"});
  lines = split_lines(write_all({r}, plain));
  header = split_fields(lines[0], ",");
  EXPECT_EQ(header[0], "source path/filename");
  EXPECT_NE(std::find(header.begin(), header.end(), "tgt mdate"), header.end());
}

TEST(CsvReport, NumbersHexOrDecimalAndOffsetColumns) {
  useropts o = options_for({"-csv", "-rawscan", "-base10"});
  LnkRecord r = plain_record();
  r.lnk_offset = 0x600;
  auto lines = split_lines(write_all({r}, o));
  auto header = split_fields(lines[0], ",");
  auto row = split_fields(lines[1], ",");
  // Carving a plain file shows the offset and not the file's own times.
  EXPECT_EQ(field(header, row, "file mdate"), "<absent>");
  EXPECT_EQ(field(header, row, "LNK offset"), "1536");
  EXPECT_EQ(field(header, row, "file size"), "4635160");

  useropts ntfs = options_for({"-csv", "-ntfs_scan"});
  ntfs.mft_scan_active = true;
  ntfs.src_inode = 0x1c2;
  ntfs.src_seq = 7;
  ntfs.source_mft_changed = kJan2 + 1234567;
  r.target_mft_entry = 0x33;
  r.target_mft_seq = 2;
  lines = split_lines(write_all({r}, ntfs));
  header = split_fields(lines[0], ",");
  row = split_fields(lines[1], ",");
  ASSERT_EQ(row.size(), header.size());
  EXPECT_EQ(field(header, row, "file mftdate", 1), " 12:00:00.123");  // keeps its fraction
  EXPECT_EQ(field(header, row, "LNK offset"), "0x00000600");
  EXPECT_EQ(field(header, row, "src inode"), "0x000001c2");
  EXPECT_EQ(field(header, row, "src seq#"), "0x0007");
  EXPECT_EQ(field(header, row, "target inode"), "0x00000033");
  EXPECT_EQ(field(header, row, "target seq#"), "0x0002");

  // Without an MFT entry both inode pairs are empty cells.
  ntfs.header_due = true;
  ntfs.csv_columns.clear();
  ntfs.src_inode = 0;
  r.target_mft_entry = 0;
  lines = split_lines(write_all({r}, ntfs));
  row = split_fields(lines[1], ",");
  EXPECT_EQ(field(header, row, "src seq#"), "");
  EXPECT_EQ(field(header, row, "target seq#"), "");
}

TEST(CsvReport, JumpListColumnsAndSlackEntries) {
  useropts o = options_for({"-csv"});
  o.app_id = "1b4dd67f29cb1962";
  o.app_name = "Windows Explorer";
  LnkRecord slack = plain_record();
  slack.jumplist_kind = JumplistKind::with_destlist;
  slack.from_slack = true;
  LnkRecord listed = slack;
  listed.from_slack = false;
  listed.mru_index = 3;
  listed.stream_number = 0x11;
  listed.mru_time = kJan2;
  LnkRecord unindexed = listed;
  unindexed.mru_index = 99999;
  unindexed.stream_number = 0;
  auto lines = split_lines(write_all({slack, listed, unindexed, plain_record()}, o));
  ASSERT_EQ(lines.size(), 5u);
  auto header = split_fields(lines[0], ",");
  EXPECT_EQ(std::vector<std::string>(header.begin() + 2, header.begin() + 7),
            (std::vector<std::string>{"appid", "MRU/MFU", "stream#", "MRU date", " MRU-UTC"}));
  auto row = split_fields(lines[1], ",");
  EXPECT_EQ(std::vector<std::string>(row.begin() + 2, row.begin() + 7),
            (std::vector<std::string>{"1b4dd67f29cb1962 [Windows Explorer]", "na", "na", "na", " na"}));
  row = split_fields(lines[2], ",");
  EXPECT_EQ(std::vector<std::string>(row.begin() + 3, row.begin() + 7),
            (std::vector<std::string>{"3", "17", "01/02/2010", " 12:00:00.000"}));
  row = split_fields(lines[3], ",");
  EXPECT_EQ(row[3], "");
  EXPECT_EQ(row[4], "");
  // A later plain shortcut keeps the run's columns.
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(split_fields(lines[i], ",").size(), header.size());
}

TEST(CsvReport, ColumnsFixedByOptionsAndFirstRecord) {
  useropts o = options_for({"-csv", "-username", "bob", "-hostname", "pc,1", "-idltimes"});
  LnkRecord jump = plain_record();
  jump.jumplist_kind = JumplistKind::without_destlist;
  auto lines = split_lines(write_all({plain_record(), jump}, o));
  auto header = split_fields(lines[0], ",");
  EXPECT_EQ(std::find(header.begin(), header.end(), "appid"), header.end());
  EXPECT_EQ(header[header.size() - 3], "user acct");
  EXPECT_EQ(header[header.size() - 2], "host name");
  EXPECT_EQ(header.back(), "IDList segments");
  auto row = split_fields(lines[2], ",");
  ASSERT_EQ(row.size(), header.size());
  EXPECT_EQ(row[header.size() - 2], "pc 1");
}

TEST(CsvReport, ComposedTextCells) {
  useropts o = options_for({"-csv"});
  LnkRecord r = plain_record();
  r.net_name = "\\\\srv\\share";
  r.device_name = "Z:";
  r.name_string = "line one\r\nline two";
  r.working_dir = "C:\\w";
  r.command_line_arguments = "/a,/b";
  r.idlist_extra_list = {"first", "second"};
  r.vista_idlist_extra_info = "vista";
  r.property_store_names = {"System.Title"};
  r.property_store_values = {"T"};
  auto lines = split_lines(write_all({r}, o));
  ASSERT_EQ(lines.size(), 2u);
  auto header = split_fields(lines[0], ",");
  auto row = split_fields(lines[1], ",");
  EXPECT_EQ(field(header, row, "network/device info"), "[NetworkName]: \\\\srv\\share; [DeviceName]: Z:");
  EXPECT_EQ(field(header, row, "extra info"),
            "[Description]: line one[CRLF]line two; [WorkDir]: C:\\w; [CmdArgs]: /a /b");
  EXPECT_EQ(field(header, row, "IDList extra info"), "first; second; vista; System.Title [T]");

  // Names without their values are left out.
  r.property_store_values.clear();
  r.idlist_extra_list.clear();
  r.vista_idlist_extra_info.clear();
  r.net_name.clear();
  lines = split_lines(write_all({r}, o));
  ASSERT_EQ(lines.size(), 1u);  // the header went out with the first record
  row = split_fields(lines[0], ",");
  EXPECT_EQ(field(header, row, "IDList extra info"), "");
  EXPECT_EQ(field(header, row, "network/device info"), "[DeviceName]: Z:");
}

TEST(IdlistSegmentsCell, LegendThenOneEntryPerSubpath) {
  useropts o = options_for({"-csv"});
  std::map<uint64_t, IdlistSegment> segments;
  EXPECT_EQ(idlist_segments_text(segments, o), "");
  IdlistSegment drive;
  drive.subpath = "C:\\";
  drive.is_path_segment = false;
  drive.modify_time = kJune5;
  IdlistSegment folder;
  folder.subpath = "C:\\Users";
  folder.modify_time = kJune5 + 4560000;
  folder.create_time = kJan2;
  folder.mft_entry = 0x1234;
  folder.mft_seq = 3;
  segments[1] = drive;
  segments[2] = folder;
  EXPECT_EQ(idlist_segments_text(segments, o),
            "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>"
            "*<C:\\;0;0;0;0;0>"
            "*<C:\\Users;06/05/2009 20:13:20;0;01/02/2010 12:00:00;0x00001234;0x0003>");
  o.sizes_in_hex = false;
  EXPECT_NE(idlist_segments_text(segments, o).find(";4660;3>"), std::string::npos);
}

TEST(TableRows, ShortRowsStillFillEveryColumn) {
  std::vector<table_column> columns{{kCellText, 0, 5, "a", 0},
                                    {kCellDateTime, 0, 10, "d", 1},
                                    {kCellTimePart, 0, 12, "t", 1},
                                    {kCellText, 0, 5, "b", 2}};
  TableStyle style;
  style.separator = ",";
  style.date_format = "mm/dd/yyyy";
  style.time_format = "hh:mm:ss";
  TableCell time;
  time.kind = kCellDateTime;
  time.value = kJune5;
  EXPECT_EQ(render_row(columns, {TableCell{}}, style), ",,,\n");
  EXPECT_EQ(render_row(columns, {TableCell{}, time}, style), ",06/05/2009, 20:13:20,\n");
  std::vector<TableCell> too_many(6);
  EXPECT_EQ(render_row(columns, too_many, style), ",,,\n");
  EXPECT_EQ(render_header(columns, style), "a,d, t,b\n");
}

std::vector<fs::path> corpus_shortcuts(size_t limit) {
  const fs::path dir = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "lnk";
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == ".lnk") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.size() > limit) files.resize(limit);
  return files;
}

TEST(CsvReport, CorpusRowsHaveTheHeaderColumnCount) {
  const auto files = corpus_shortcuts(400);
  if (files.empty()) GTEST_SKIP() << "corpus not present";
  const std::vector<std::pair<std::vector<std::string>, std::string>> layouts{
      {{"-csv", "-idltimes", "-username", "u"}, ","},
      {{"-csv", "-csv_separator", "|"}, "|"},
      {{"-csv", "-pair_datetime", "-hostname", "h"}, ","}};
  for (const auto& [args, separator] : layouts) {
    useropts o = options_for(args);
    std::ostringstream out;
    size_t records = 0;
    for (const fs::path& p : files) {
      std::ifstream in(p, std::ios::binary);
      std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
      LnkRecord record;
      if (bytes.empty() ||
          !parse_lnk_record(record, bytes.data(), static_cast<uint32_t>(bytes.size()), o, 0))
        continue;
      o.source_path = p.string();
      write_record(out, record, o);
      ++records;
    }
    const auto lines = split_lines(out.str());
    ASSERT_EQ(lines.size(), records + 1) << args[1];
    const size_t columns = split_fields(lines[0], separator).size();
    for (const std::string& line : lines) {
      EXPECT_EQ(split_fields(line, separator).size(), columns) << line;
      EXPECT_EQ(line.find('\r'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace lnk
