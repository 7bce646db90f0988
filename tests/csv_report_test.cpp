#include "report/csv_report.h"

#include <algorithm>

#include "lnk/parse_lnk.h"
#include "report/delimited_table.h"
#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::kJan2;
using test::kJune5;
using test::split_fields;
using test::split_lines;
using test::write_all;
using Fields = std::vector<std::string>;

useropts csv_options(const std::vector<std::string>& args) { return test::options_for(args); }

SourceInfo csv_source(const useropts& o) {
  SourceInfo s = test::source_for(o);
  s.source_modified = s.source_accessed = s.source_created = kJan2 + 1234567;
  return s;
}

LnkRecord plain_record() {
  LnkRecord r;
  r.source_type = "Shortcut LNK (file)";
  r.header.file_attributes = 0x20;
  r.header.write_time = r.header.access_time = r.header.creation_time = kJune5;
  r.header.file_size = 0x0046ba18;
  r.shell_items = test::items_named("C:\\tools,old\\app.exe");
  r.drive_type = "fixed";
  r.volume_serial = "d29a-b834";
  return r;
}

// The header line and the rows of the written records, split at separator.
struct Table {
  std::string header_line;
  Fields header;
  std::vector<Fields> rows;
  // The fields under the named columns joined by "|"; "name+" is the column
  // after the named one (a time after its date), "<absent>" a missing column.
  std::string fields(size_t row, std::initializer_list<std::string> names) const {
    std::string joined, separator;
    for (std::string name : names) {
      const size_t next = !name.empty() && name.back() == '+' ? 1 : 0;
      if (next) name.pop_back();
      auto at = std::find(header.begin(), header.end(), name);
      const size_t i = static_cast<size_t>(at - header.begin()) + next;
      joined += separator + (at == header.end() ? "<absent>" : rows.at(row).at(i));
      separator = "|";
    }
    return joined;
  }
};

Table written(const std::vector<LnkRecord>& records, const useropts& o, const SourceInfo& s,
              const std::string& separator = ",") {
  std::vector<std::string> lines = split_lines(write_all(records, o, s));
  Table t;
  EXPECT_FALSE(lines.empty());
  if (lines.empty()) return t;
  t.header_line = lines[0];
  t.header = split_fields(lines[0], separator);
  for (size_t i = 1; i < lines.size(); ++i) {
    t.rows.push_back(split_fields(lines[i], separator));
    EXPECT_EQ(t.rows.back().size(), t.header.size()) << lines[i];
  }
  return t;
}

Table written(const std::vector<LnkRecord>& records, const useropts& o, const std::string& separator = ",") {
  return written(records, o, csv_source(o), separator);
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
  useropts o = csv_options({"-csv"});
  LnkRecord second = plain_record();
  second.header.file_size = 0;
  second.header.write_time = 0;
  const Table t = written({plain_record(), second}, o);
  EXPECT_EQ(t.header_line.rfind("source path/filename,source type,file mdate, time-UTC,file adate, time-UTC,"
                                "file cdate, time-UTC,tgt mdate, time-UTC,",
                                0),
            0u);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), " time-UTC"), 7);
  // Source times without a fraction; an empty time is still a blank after its date.
  EXPECT_EQ(t.fields(0, {"source path/filename", "file mdate", "file mdate+", "tgt mdate", "tgt mdate+", "ObjID date",
                         "ObjID date+", "file size", "target name", "tgt attrib", "vol serial"}),
            "E:\\case 1\\a.lnk|01/02/2010| 12:00:00|06/05/2009| 20:13:20.000|| |0x0046ba18|C:\\tools old\\app.exe|"
            "FILE_ATTRIBUTE_ARCHIVE|d29a-b834");
  // A zero header time falls back to the IDList's, which is zero too.
  EXPECT_EQ(t.fields(1, {"file size", "tgt mdate"}), "|");
}

TEST(CsvReport, SeparatorChoicesAndNoWhitespace) {
  useropts bar = csv_options({"-csv", "-csv_separator", "|"});
  LnkRecord r = plain_record();
  r.name_string = "one|two, three";
  Table t = written({r}, bar, "|");
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.fields(0, {"source path/filename", "extra info"}), "E:\\case,1\\a.lnk|[Description]: one;two, three");

  useropts tight = csv_options({"-csv", "-no_whitespace"});
  t = written({plain_record()}, tight);
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), "time-UTC"), 7);
  EXPECT_EQ(t.fields(0, {"tgt mdate+"}), "20:13:20.000");
}

TEST(CsvReport, PairedTimesUseFixedWidthColumns) {
  useropts o = csv_options({"-csv", "-pair_datetime"});
  LnkRecord r = plain_record();
  r.shell_items = test::items_named("C:\\a.exe");
  Table t = written({r}, o);
  ASSERT_EQ(t.rows.size(), 1u);
  const Fields& row = t.rows[0];
  EXPECT_EQ(t.header[0], "source path/filename" + std::string(20, ' '));
  EXPECT_EQ(t.fields(0, {"file size "}), "0x0046ba18");
  EXPECT_EQ(row[5], " 06/05/2009 20:13:20.000");
  EXPECT_EQ(t.header[5], "  tgt modify date [UTC] ");  // centred, after the time blank
  // Every short value is padded to its column, so the columns line up.
  for (size_t i = 0; i < t.header.size(); ++i) {
    if (t.header[i].find("ObjID") != std::string::npos) continue;
    EXPECT_EQ(row[i].size(), t.header[i].size()) << t.header[i];
  }
  // An invalid time is a blank, not a padded field.
  EXPECT_EQ(row[8], "  ");

  // -no_whitespace turns the columns back into plain two-column times.
  useropts plain = csv_options({"-csv", "-pair_datetime", "-no_whitespace"});
  t = written({r}, plain);
  EXPECT_EQ(t.header[0], "source path/filename");
  EXPECT_NE(std::find(t.header.begin(), t.header.end(), "tgt mdate"), t.header.end());
}

TEST(CsvReport, NumbersHexOrDecimalAndOffsetColumns) {
  useropts o = csv_options({"-csv", "-rawscan", "-base10"});
  LnkRecord r = plain_record();
  r.lnk_offset = 0x600;
  Table t = written({r}, o);
  // Carving a plain file shows the offset and not the file's own times.
  EXPECT_EQ(t.fields(0, {"file mdate", "LNK offset", "file size"}), "<absent>|1536|4635160");

  useropts ntfs = csv_options({"-csv", "-ntfs_scan"});
  SourceInfo volume = csv_source(ntfs);
  volume.mft_scan = true;
  volume.src_inode = 0x1c2;
  volume.src_seq = 7;
  volume.source_mft_changed = kJan2 + 1234567;
  r.target_mft_entry = 0x33;
  r.target_mft_seq = 2;
  t = written({r}, ntfs, volume);
  // The MFT change time keeps its fraction.
  EXPECT_EQ(t.fields(0, {"file mftdate+", "LNK offset", "src inode", "src seq#", "target inode", "target seq#"}),
            " 12:00:00.123|0x00000600|0x000001c2|0x0007|0x00000033|0x0002");

  // Without an MFT entry both inode pairs are empty cells.
  volume.src_inode = 0;
  r.target_mft_entry = 0;
  t = written({r}, ntfs, volume);
  EXPECT_EQ(t.fields(0, {"src inode", "src seq#", "target inode", "target seq#"}), "|||");
}

TEST(CsvReport, JumpListColumnsAndSlackEntries) {
  useropts o = csv_options({"-csv"});
  SourceInfo s = csv_source(o);
  s.app_id = "1b4dd67f29cb1962";
  s.app_name = "Windows Explorer";
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
  // A later plain shortcut keeps the run's columns (checked by written()).
  const Table t = written({slack, listed, unindexed, plain_record()}, o, s);
  ASSERT_EQ(t.rows.size(), 4u);
  auto columns_2_to_6 = [](const Fields& f) { return Fields(f.begin() + 2, f.begin() + 7); };
  EXPECT_EQ(columns_2_to_6(t.header), (Fields{"appid", "MRU/MFU", "stream#", "MRU date", " MRU-UTC"}));
  EXPECT_EQ(columns_2_to_6(t.rows[0]), (Fields{"1b4dd67f29cb1962 [Windows Explorer]", "na", "na", "na", " na"}));
  EXPECT_EQ(columns_2_to_6(t.rows[1]), (Fields{t.rows[0][2], "3", "17", "01/02/2010", " 12:00:00.000"}));
  EXPECT_EQ(t.rows[2][3] + t.rows[2][4], "");
}

TEST(CsvReport, ColumnsFixedByOptionsAndFirstRecord) {
  useropts o = csv_options({"-csv", "-username", "bob", "-hostname", "pc,1", "-idltimes"});
  LnkRecord jump = plain_record();
  jump.jumplist_kind = JumplistKind::without_destlist;
  const Table t = written({plain_record(), jump}, o);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(std::find(t.header.begin(), t.header.end(), "appid"), t.header.end());
  EXPECT_EQ(Fields(t.header.end() - 3, t.header.end()), (Fields{"user acct", "host name", "IDList segments"}));
  EXPECT_EQ(t.fields(1, {"host name"}), "pc 1");
}

TEST(CsvReport, ComposedTextCells) {
  useropts o = csv_options({"-csv"});
  LnkRecord r = plain_record();
  r.net_name = "\\\\srv\\share";
  r.device_name = "Z:";
  r.name_string = "line one\r\nline two";
  r.working_dir = "C:\\w";
  r.command_line_arguments = "/a,/b";
  r.shell_items = test::items_named("C:\\a.exe", {"first", "second"});
  r.vista_shell_items = test::items_named("C:\\v", {"vista"});
  r.property_store = test::text_properties({{"Title", "T"}});
  Table t = written({r}, o);
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.fields(0, {"network/device info", "extra info", "IDList extra info"}),
            "[NetworkName]: \\\\srv\\share; [DeviceName]: Z:|"
            "[Description]: line one[CRLF]line two; [WorkDir]: C:\\w; [CmdArgs]: /a /b|"
            "first; second; [1] vista; " + std::string(test::kStringNamedSetText) + "/Title [T]");

  // A second record of the run: no header line.
  r.property_store.clear();
  r.shell_items.clear();
  r.vista_shell_items.clear();
  r.net_name.clear();
  const std::vector<std::string> all = split_lines(write_all({plain_record(), r}, o));
  ASSERT_EQ(all.size(), 3u);  // the header goes out once, with the first record
  const std::vector<std::string> lines(all.begin() + 2, all.end());
  t.rows = {split_fields(lines[0], ",")};
  EXPECT_EQ(t.fields(0, {"IDList extra info", "network/device info"}), "|[DeviceName]: Z:");
}

TEST(CsvReport, IdlistExtraInfoPartsEachBringTheirSeparator) {
  struct Case {
    std::vector<std::string> items;
    std::vector<std::string> vista;
    std::vector<std::pair<std::string, std::string>> properties;
    std::string cell;
  };
  const std::string set = std::string(test::kStringNamedSetText) + "/";
  const Case cases[] = {
      {{"a", "b"}, {}, {}, "a; b"},
      {{}, {"v"}, {}, "; [1] v"},
      {{}, {"v", "w"}, {}, "; [1] v; [2] w"},
      {{}, {}, {{"N1", "1"}, {"N2", "2"}}, "; " + set + "N1 [1]; " + set + "N2 [2]"},
      {{"a"}, {"v"}, {{"N", "1"}}, "a; [1] v; " + set + "N [1]"}};
  for (const Case& c : cases) {
    useropts o = csv_options({"-csv"});
    LnkRecord r = plain_record();
    r.shell_items = test::items_named("C:\\x", c.items);
    if (!c.vista.empty()) r.vista_shell_items = test::items_named("C:\\v", c.vista);
    r.property_store = test::text_properties(c.properties);
    const Table t = written({r}, o);
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.fields(0, {"IDList extra info"}), c.cell) << c.cell;
  }
}

TEST(IdlistSegmentsCell, LegendThenOneEntryPerSubpath) {
  useropts o = csv_options({"-csv"});
  std::map<uint64_t, IdlistSegment> segments;
  EXPECT_EQ(idlist_segments_text(segments, o), "");
  segments[1].subpath = "C:\\";
  segments[1].is_path_segment = false;
  segments[1].modify_time = kJune5;
  segments[2].subpath = "C:\\Users";
  segments[2].modify_time = kJune5 + 4560000;
  segments[2].access_time = 1ULL << 63;  // set but not a valid time
  segments[2].create_time = kJan2;
  segments[2].mft_entry = 0x1234;
  segments[2].mft_seq = 3;
  EXPECT_EQ(idlist_segments_text(segments, o),
            "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>"
            "*<C:\\;0;0;0;0;0>"
            "*<C:\\Users;06/05/2009 20:13:20; ;01/02/2010 12:00:00;0x00001234;0x0003>");
  o.sizes_in_hex = false;
  EXPECT_TRUE(test::contains(idlist_segments_text(segments, o), ";4660;3>"));
}

TEST(TableRows, ShortRowsStillFillEveryColumn) {
  std::vector<TableColumn> columns{{kCellText, 0, 5, "a", 0},
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
  EXPECT_EQ(render_row(columns, std::vector<TableCell>(6), style), ",,,\n");
  EXPECT_EQ(render_header(columns, style), "a,d, t,b\n");
}

TEST(CsvReport, CorpusRowsHaveTheHeaderColumnCount) {
  const fs::path dir = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "lnk";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "corpus not present";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == ".lnk") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  files.resize(std::min<size_t>(files.size(), 400));
  const std::pair<std::vector<std::string>, std::string> layouts[] = {
      {{"-csv", "-idltimes", "-username", "u"}, ","},
      {{"-csv", "-csv_separator", "|"}, "|"},
      {{"-csv", "-pair_datetime", "-hostname", "h"}, ","}};
  for (const auto& [args, separator] : layouts) {
    useropts o = csv_options(args);
    std::ostringstream out;
    OutputSink sink(out);
    RecordWriter writer(sink, o);
    size_t records = 0;
    for (const fs::path& p : files) {
      const std::string text = test::slurp(p);
      std::vector<uint8_t> bytes(text.begin(), text.end());
      LnkRecord record;
      if (bytes.empty() || !parse_lnk_record(record, bytes, 0)) continue;
      writer.write(record, test::file_source(p.string(), o));
      ++records;
    }
    const auto lines = split_lines(out.str());
    ASSERT_EQ(lines.size(), records + 1) << args[1];
    EXPECT_GT(records, 100u);
    const size_t columns = split_fields(lines[0], separator).size();
    for (const std::string& line : lines) {
      EXPECT_EQ(split_fields(line, separator).size(), columns) << line;
      EXPECT_EQ(line.find('\r'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace lnk
