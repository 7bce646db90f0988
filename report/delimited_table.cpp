#include "report/delimited_table.h"

#include <algorithm>

#include "platform/text.h"
#include "report/escape_text.h"
#include "report/time_format.h"

namespace lnk {
namespace {

void pad_right(std::string& text, int32_t width) {
  if (width > 0 && text.size() < static_cast<size_t>(width)) text.append(width - text.size(), ' ');
}

void pad_left(std::string& text, int32_t width) {
  if (width > 0 && text.size() < static_cast<size_t>(width)) text.insert(0, width - text.size(), ' ');
}

void centre(std::string& text, int32_t width) {
  if (width <= 0 || text.size() >= static_cast<size_t>(width)) return;
  const size_t room = width - text.size();
  text.insert(0, room / 2, ' ');
  text.append(room - room / 2, ' ');
}

std::string render_number(const TableCell& cell, int32_t width, const TableStyle& style) {
  std::string text;
  if (style.sizes_in_hex && !(cell.flags & kCellAlwaysDecimal)) {
    int digits = cell.kind == kCellNumber16 ? 4 : 8;
    if (style.fixed_width && width > 2) digits = width - 2;
    text = "0x" + hex_lower(cell.value, digits);
  } else {
    text = std::to_string(cell.value);
  }
  if (style.fixed_width) pad_left(text, width);
  return text;
}

// Date and time texts of a time cell; both empty when not valid.
void time_texts(const TableCell& cell, const TableStyle& style, std::string& date_text,
                std::string& time_text) {
  const TimeValue t = TimeValue::from_filetime(cell.value);
  if (cell.flags & kCellNoFraction) {
    format_user_no_fraction(t, style.date_format, style.time_format, date_text, time_text);
  } else {
    format_user(t, style.date_format, style.time_format, date_text, time_text);
  }
}

std::string render_paired_time(const TableCell& cell, int32_t width, const TableStyle& style) {
  const bool blank = style.time_blank && style.fixed_width;
  std::string text = blank ? " " : "";
  if (!cell.text.empty()) {
    text += clean_cell_text(cell.text, style);
  } else {
    std::string date_text, time_text;
    time_texts(cell, style, date_text, time_text);
    if (date_text.empty()) return style.fixed_width ? text + " " : text;
    text += date_text + " " + time_text;
  }
  // The blank stands in front of the column, as it does in the header.
  if (style.fixed_width) pad_right(text, width + (blank ? 1 : 0));
  return text;
}

// The date column, the separator, and the time column that follows it.
std::string render_split_time(const TableCell& cell, const TableColumn& date_column,
                              const TableColumn* time_column, const TableStyle& style) {
  std::string date_text, time_text;
  if (!cell.text.empty()) {
    date_text = time_text = clean_cell_text(cell.text, style);
  } else {
    time_texts(cell, style, date_text, time_text);
    if (date_text.empty() && style.fixed_width) date_text = time_text = " ";
  }
  if (style.time_blank) time_text.insert(0, 1, ' ');
  if (style.fixed_width) pad_right(date_text, date_column.width);
  if (!time_column) return date_text;
  if (style.fixed_width) pad_right(time_text, time_column->width);
  return date_text + style.separator + time_text;
}

}  // namespace

TableStyle table_style(const cmd_params& options) {
  TableStyle style;
  style.separator = options.field_separator;
  style.replaced = options.separator_char;
  style.replacement = options.separator_substitute;
  style.fixed_width = !options.split_date_time;
  style.time_blank = options.whitespace_allowed;
  style.sizes_in_hex = options.sizes_in_hex;
  style.date_format = options.date_format;
  style.time_format = options.time_format;
  return style;
}

std::string clean_cell_text(const std::string& text, const TableStyle& style) {
  std::string out = escape_controls(text);
  if (style.replaced != 0) std::replace(out.begin(), out.end(), style.replaced, style.replacement);
  return out;
}

std::string render_header(const std::vector<TableColumn>& columns, const TableStyle& style) {
  std::string line;
  for (size_t i = 0; i < columns.size(); ++i) {
    const TableColumn& column = columns[i];
    if (i) line += style.separator;
    std::string name = column.name;
    if (style.fixed_width) {
      if (column.flags & kCellCentredHeader) centre(name, column.width);
      else pad_right(name, column.width);
    }
    const bool time_column = column.kind == kCellTimePart || column.kind == kCellDateTimePaired;
    if (style.time_blank && time_column) line += ' ';
    line += name;
  }
  line += '\n';
  return line;
}

std::string render_row(const std::vector<TableColumn>& columns, const std::vector<TableCell>& cells,
                       const TableStyle& style) {
  std::string line;
  const size_t count = std::min(columns.size(), cells.size());
  size_t written = 0;  // columns covered so far
  for (size_t i = 0; i < count; ++i) {
    if (i < written) continue;  // a time column written with its date column
    const TableColumn& column = columns[i];
    if (i) line += style.separator;
    written = i + 1;
    const TableCell& cell = cells[i];
    switch (cell.kind) {
      case kCellNumber16:
      case kCellNumber32:
      case kCellNumber64:
        line += render_number(cell, column.width, style);
        break;
      case kCellDateTimePaired:
        line += render_paired_time(cell, column.width, style);
        break;
      case kCellDateTime: {
        const bool has_time_column = i + 1 < columns.size() && columns[i + 1].kind == kCellTimePart;
        line += render_split_time(cell, column, has_time_column ? &columns[i + 1] : nullptr, style);
        if (has_time_column) written = i + 2;
        break;
      }
      default: {
        std::string text = clean_cell_text(cell.text, style);
        if (style.fixed_width) pad_right(text, column.width);
        line += text;
      }
    }
  }
  // A short row still gets every column.
  for (size_t i = written; i < columns.size(); ++i)
    if (i) line += style.separator;
  line += '\n';
  return line;
}

}  // namespace lnk
