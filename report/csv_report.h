// The -csv layout: one header line per run, one row per record.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/delimited_table.h"
#include "report/idlist_breakout.h"
#include "report/record_values.h"

namespace lnk {

// Which record value fills a CSV column (TableColumn::field). The time
// column of a two-column date and time repeats its date column's field.
enum class CsvField : uint16_t {
  source_path,
  source_type,
  app_id,
  mru_index,
  stream_number,
  mru_time,
  file_modified,
  file_accessed,
  file_created,
  file_mft_changed,
  target_modified,
  target_accessed,
  target_created,
  object_id_time,
  target_attributes,
  lnk_offset,
  src_inode,
  src_seq,
  target_inode,
  target_seq,
  file_size,
  target_name,
  idlist_extra_info,
  volume_type,
  volume_serial,
  volume_label,
  local_path,
  common_path,
  network_info,
  extra_info,
  netbios_name,
  volume_id,
  object_id,
  mac_address,
  user_account,
  host_name,
  idlist_segments,
  anomalies,
  pinned,
  pin_position,
  access_count,
  destlist_path,
  destlist_netbios,
  destlist_volume_id,
  destlist_object_id,
  destlist_birth_volume_id,
  destlist_birth_object_id,
};

// The columns a run gets; conditional ones follow the options and the kind
// of source the first record came from. The jump-list columns also come
// when the run is known to read a jump list; the MFT-scan columns when the
// run reads volumes through their MFT, asked for or not.
std::vector<TableColumn> build_csv_columns(const LnkRecord& first_record, const SourceInfo& source,
                                           const useropts& options, bool jump_list_expected = false,
                                           bool volume_scan = false);

// One cell per column.
std::vector<TableCell> csv_row_cells(const std::vector<TableColumn>& columns, const LnkRecord& record,
                                     const SourceInfo& source, const RecordValues& values,
                                     const useropts& options);

// The "IDList segments" cell: a legend, then one "*<...>" entry per subpath.
std::string idlist_segments_text(const std::map<uint64_t, IdlistSegment>& segments,
                                 const cmd_params& options);

// Builds the columns and writes the header on the run's first record, then
// the row; counts a jump-list record whose fields the header lacks.
void write_csv_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                      const useropts& options, const RecordValues& values, WriterState& state);

}  // namespace lnk
