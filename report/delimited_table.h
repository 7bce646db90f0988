// The small table engine behind the delimited layouts: header and cell
// rendering under the run's separator, replacement and width settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"

namespace lnk {

enum CellKind : uint16_t {
  kCellPlain = 0,
  kCellNumber16 = 2,
  kCellNumber32 = 4,
  kCellNumber64 = 8,
  kCellText = 9,
  kCellDateTime = 10,        // date here, time in the next (kCellTimePart) column
  kCellDateTimePaired = 11,  // date, blank, time in one column
  kCellTimePart = 16,
};

enum CellFlag : uint32_t {
  kCellTargetModified = 1,
  kCellTargetName = 32,
  kCellCentredHeader = 0x2000000,
  kCellNoFraction = 0x8000000,
  kCellAlwaysDecimal = 0x40000000,
};

// One column of a delimited layout: how its cells render and its header text.
struct TableColumn {
  uint16_t kind = 0;   // a CellKind
  uint32_t flags = 0;  // CellFlags
  int32_t width = 0;   // characters; used only in fixed-width mode
  std::string name;
  uint16_t field = 0;  // which record value fills the column
};

// What a delimited layout keeps from one record to the next in a run.
struct WriterState {
  bool header_due = true;
  // Built from the first record of the run and fixed from then on.
  std::vector<TableColumn> csv_columns;
  // The run knows before its first record that it reads a jump list, so the
  // CSV columns hold the jump-list fields whatever record comes first.
  bool jump_list_records_expected = false;
  // The run reads volumes through their MFT though -ntfs_scan was not given.
  bool volume_scan = false;
  // Jump-list records written under a CSV header without those columns.
  uint64_t records_lacking_jump_list_columns = 0;
};

struct TableCell {
  uint16_t kind = kCellText;
  uint32_t flags = 0;
  uint64_t value = 0;  // a number, or a FILETIME
  // For time kinds, a text here replaces the formatted time in every column
  // the cell covers (a jump-list entry without DestList data shows "na").
  std::string text;
};

// How the run's options shape delimited output.
struct TableStyle {
  std::string separator;
  char replaced = 0;  // 0: nothing is replaced
  char replacement = 0;
  bool fixed_width = false;
  bool time_blank = true;
  bool sizes_in_hex = true;
  std::string date_format;
  std::string time_format;
};

TableStyle table_style(const cmd_params& options);

// Control characters escaped (escape_text.h), so that a value never ends a
// line, and the separator character replaced.
std::string clean_cell_text(const std::string& text, const TableStyle& style);

// Column names joined by the separator, ending in a newline.
std::string render_header(const std::vector<TableColumn>& columns, const TableStyle& style);

// One cell per column; the cell of a kTimePart column is not read, the date
// cell before it writes both. Cells past the last column are dropped.
std::string render_row(const std::vector<TableColumn>& columns, const std::vector<TableCell>& cells,
                       const TableStyle& style);

}  // namespace lnk
