#include "platform/text.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"

namespace lnk {

namespace {

void take_or_append(std::string& slot, const std::string& value, std::vector<std::string>& names) {
  if (value.empty()) return;
  if (slot.empty())
    slot = value;
  else
    names.push_back(value);
}

template <typename T>
void append_all(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

void add_guid(ShellItem& item, const Guid& guid) {
  if (guid_is_zero(guid)) return;
  item.guids.push_back(guid);
  std::string name = guid_name_text(guid);
  if (!name.empty()) item.guid_names.push_back(name);
}

void merge_item(ShellItem& target, const ShellItem& source) {
  for (const auto& name : source.names)
    if (!name.empty()) target.names.push_back(name);
  target.flags |= source.flags;
  append_all(target.extra_list, source.extra_list);
  append_all(target.guid_names, source.guid_names);
  append_all(target.guids, source.guids);
  take_or_append(target.short_name, source.short_name, target.names);
  take_or_append(target.name, source.name, target.names);
  take_or_append(target.extra_name_a, source.extra_name_a, target.names);
  take_or_append(target.extra_name_b, source.extra_name_b, target.names);
  target.property_map_first.insert(source.property_map_first.begin(),
                                    source.property_map_first.end());
  target.property_map_second.insert(source.property_map_second.begin(),
                                    source.property_map_second.end());
  if (target.mft_entry == 0 && source.mft_entry != 0) {
    target.mft_entry = source.mft_entry;
    target.mft_seq = source.mft_seq;
  }
  if (target.create_time == 0 && source.create_time != 0) {
    target.create_time = source.create_time;
  }
  if (target.modify_time == 0 && source.modify_time != 0) {
    target.modify_time = source.modify_time;
  }
  if (target.access_time == 0 && source.access_time != 0) {
    target.access_time = source.access_time;
  }
  append_all(target.children, source.children);
  append_all(target.embedded_idlists, source.embedded_idlists);
  append_all(target.extension_blocks, source.extension_blocks);
  append_all(target.ansi_texts, source.ansi_texts);
  if (source.file_size != 0) target.file_size = source.file_size;
}

}  // namespace lnk
