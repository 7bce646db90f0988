#include "shellitems/property_value.h"

#include <string>

#include "platform/text.h"

namespace lnk {
namespace {

// Filler after the VARTYPE.
constexpr uint64_t kValueDataOffset = 4;
constexpr uint64_t kMaxVectorElements = 1u << 20;

struct Element {
  std::string text;
  bool has_text = false;
  uint64_t number = 0;
  double real = 0;
  std::vector<uint8_t> bytes;
  uint64_t bytes_at = 0;  // offset of bytes in the reader
};

uint64_t pad4(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

void copy_bytes(const ByteReader& r, uint64_t off, uint64_t n, std::vector<uint8_t>& out) {
  auto s = r.sub(off, n).span();
  out.assign(s.begin(), s.end());
}

// The least a stored element of this type can take, so a vector count can be
// checked against the bytes before anything is read; 0 for types we skip.
uint64_t minimum_element_size(uint16_t type) {
  switch (type) {
    case kVtI1: case kVtUi1: return 1;
    case kVtBool: return 2;
    case kVtI4: case kVtError: case kVtUi4: case kVtInt:
    case kVtBstr: case kVtLpwstr: case kVtBlob: case kVtStream: return 4;
    case kVtR8: case kVtI8: case kVtUi8: case kVtDate: case kVtFiletime: return 8;
    case kVtClsid: return 16;
    default: return 0;
  }
}

// Strings and blobs inside a vector are padded to four bytes.
bool read_element(uint16_t type, const ByteReader& r, uint64_t off, bool in_vector,
                  TextCount count, Element& e, uint64_t& consumed) {
  switch (type) {
    case kVtI4: case kVtError: case kVtUi4: case kVtInt:
      if (!r.has(off, 4)) return false;
      e.number = r.u32(off);
      consumed = 4;
      return true;
    case kVtBool:
      if (!r.has(off, 2)) return false;
      e.number = r.u16(off);
      consumed = 2;
      // Writers that store the boolean as a 4-byte word leave 0 or 0xFFFF there.
      if (r.has(off, 4) && (r.u32(off) == 0 || r.u32(off) == 0xFFFF)) consumed = 4;
      return true;
    case kVtR8: case kVtI8: case kVtUi8: case kVtDate: case kVtFiletime:
      if (!r.has(off, 8)) return false;
      e.number = r.u64(off);
      e.real = r.f64(off);
      consumed = 8;
      return true;
    case kVtBstr: case kVtLpwstr: {
      if (!r.has(off, 4)) return false;
      uint64_t byte_count = uint64_t{r.u32(off)};
      if (count == TextCount::characters) byte_count *= 2;
      if (!r.has(off + 4, byte_count)) return false;
      e.text = r.utf16z(off + 4, byte_count);
      e.has_text = true;
      consumed = 4 + byte_count;
      if (in_vector) consumed = pad4(consumed);
      return true;
    }
    case kVtI1: case kVtUi1:
      if (!r.has(off, 1)) return false;
      e.bytes.assign(1, r.u8(off));
      e.bytes_at = off;
      consumed = 1;
      return true;
    case kVtBlob: {
      if (!r.has(off, 4)) return false;
      uint64_t size = r.u32(off);
      if (!r.has(off + 4, size)) return false;
      copy_bytes(r, off + 4, size, e.bytes);
      e.bytes_at = off + 4;
      consumed = 4 + size;
      if (in_vector) consumed = pad4(consumed);
      return true;
    }
    case kVtStream: {
      if (!r.has(off, 4)) return false;
      uint64_t name_size = r.u32(off);
      if (!r.has(off + 4, name_size)) return false;
      e.text = r.utf16z(off + 4, name_size);
      e.has_text = true;
      uint64_t data = off + 4 + name_size;
      while (data < r.size() && r.u8(data) == 0) ++data;
      copy_bytes(r, data, r.size() - data, e.bytes);
      e.bytes_at = data;
      consumed = r.size() - off;
      return true;
    }
    case kVtClsid:
      if (!r.has(off, 16)) return false;
      e.text = guid_text(r.guid(off));
      e.has_text = true;
      copy_bytes(r, off, 16, e.bytes);
      e.bytes_at = off;
      consumed = 16;
      return true;
    default:
      return false;
  }
}

std::string element_text(uint16_t type, const Element& e) {
  if (e.has_text) return e.text;
  if (type == kVtR8 || type == kVtDate) return std::to_string(e.real);
  return std::to_string(e.number);
}

}  // namespace

bool decode_property_value(Property& property, ByteReader value) {
  return decode_property_value_sized(property, value, TextCount::characters) != 0;
}

uint64_t decode_property_value_sized(Property& property, ByteReader value, TextCount count) {
  if (!value.has(0, kValueDataOffset)) return 0;
  uint16_t vartype = value.u16(0);
  property.vartype = vartype;
  uint16_t type = vartype & 0xFF;
  // Arrays and by-reference values never occur in stores we can read.
  if ((vartype & ~uint16_t{kVtVector | 0xFF}) != 0) return 0;
  uint64_t minimum = minimum_element_size(type);
  if (minimum == 0) return 0;
  ByteReader data = value.tail(kValueDataOffset);

  if ((vartype & kVtVector) == 0) {
    Element e;
    uint64_t consumed = 0;
    if (!read_element(type, data, 0, false, count, e, consumed)) return 0;
    property.text = std::move(e.text);
    property.number = e.number;
    property.real = e.real;
    property.bytes = std::move(e.bytes);
    property.bytes_offset = kValueDataOffset + e.bytes_at;
    return kValueDataOffset + consumed;
  }

  if (!data.has(0, 4)) return 0;
  uint64_t elements = data.u32(0);
  if (elements > kMaxVectorElements || elements > (data.size() - 4) / minimum) return 0;
  property.is_vector = true;
  uint64_t off = 4;
  property.bytes_offset = kValueDataOffset + off;
  for (uint64_t i = 0; i < elements; ++i) {
    Element e;
    uint64_t consumed = 0;
    if (!read_element(type, data, off, true, count, e, consumed) || consumed == 0) return 0;
    if (type == kVtI1 || type == kVtUi1) {
      property.bytes.push_back(e.bytes.front());
    } else {
      property.vector_texts.push_back(element_text(type, e));
      if (i == 0) {
        property.number = e.number;
        property.real = e.real;
      }
    }
    off += consumed;
  }
  return kValueDataOffset + off;
}

}  // namespace lnk
