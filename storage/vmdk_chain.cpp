#include "storage/vmdk_chain.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <new>

namespace lnk {
namespace {

using Layers = std::vector<std::unique_ptr<VmdkLayer>>;

bool is_base(const VmdkLayer& layer) {
  const std::string& parent = layer.descriptor().parent_cid;
  // A descriptor without a parent CID names no parent either.
  return parent == kVmdkNoParentCid || parent.empty();
}

bool open_layers(const std::vector<std::string>& paths, VmdkFiles& files, Layers& layers, VmdkProblem& problem) {
  try {
    for (const std::string& path : paths) {
      auto layer = std::make_unique<VmdkLayer>();
      VmdkOpenStatus status = layer->open(path, files);
      if (!status.ok()) {
        problem = {VmdkProblemKind::cannot_open, path, {}, status};
        return false;
      }
      layers.push_back(std::move(layer));
    }
  } catch (const std::bad_alloc&) {
    problem = {VmdkProblemKind::no_memory, {}, {}, {}};
    return false;
  }
  return true;
}

std::string without_quotes(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  return text;
}

std::filesystem::path utf8_path(const std::string& text) { return std::u8string(text.begin(), text.end()); }

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(utf8_path(a), utf8_path(b), error)) return true;
  return utf8_path(a).lexically_normal() == utf8_path(b).lexically_normal();
}

// The parent file the child's hint names, looked for in the child's
// directory; empty when there is none.
std::string hinted_parent(const VmdkLayer& child, VmdkFiles& files) {
  const VmdkDescriptor& d = child.descriptor();
  if (d.parent_hint.empty()) return {};
  const char separator = d.encoding.find("windows") != std::string::npos ? '\\' : '/';
  const size_t cut = d.parent_hint.find_last_of(separator);
  const std::string last = cut == std::string::npos ? d.parent_hint : d.parent_hint.substr(cut + 1);
  const size_t dir_cut = child.path().find_last_of("/\\");
  const std::string directory = dir_cut == std::string::npos ? std::string() : child.path().substr(0, dir_cut + 1);
  std::string candidate = without_quotes(directory + last);
  if (files.get(candidate) != nullptr) return candidate;
  // Newer VMware writes Windows paths into UTF-8 descriptors.
  candidate = vmdk_sibling_path(child.path(), without_quotes(d.parent_hint));
  return files.get(candidate) != nullptr ? candidate : std::string();
}

}  // namespace

VmdkSetCheck check_vmdk_set(const std::vector<std::string>& paths, const VmdkOpener& opener) {
  VmdkSetCheck check;
  check.files = std::make_shared<VmdkFiles>(opener);
  VmdkFiles& files = *check.files;
  Layers layers;
  if (!open_layers(paths, files, layers, check.problem)) return check;
  std::map<std::string, const VmdkLayer*> by_cid;
  for (const auto& layer : layers) by_cid.emplace(layer->descriptor().cid, layer.get());
  for (const auto& layer : layers) {
    const VmdkDescriptor& d = layer->descriptor();
    if (is_base(*layer)) continue;
    if (d.cid == d.parent_cid) {
      check.problem = {VmdkProblemKind::cid_error, layer->path(), {}, {}};
      return check;
    }
    if (by_cid.count(d.parent_cid) != 0) continue;
    const std::string parent = hinted_parent(*layer, files);
    if (parent.empty()) {
      check.problem = {VmdkProblemKind::missing_parent, layer->path(), {}, {}};
      return check;
    }
    // The named parent is here already (or is the child itself), so its CID
    // is what does not match.
    const bool given = std::any_of(paths.begin(), paths.end(), [&](const std::string& p) { return same_file(p, parent); });
    if (given || same_file(parent, layer->path())) {
      check.problem = {VmdkProblemKind::cid_error, layer->path(), parent, {}};
      return check;
    }
    check.problem = {VmdkProblemKind::depends_on_parent, layer->path(), parent, {}};
    check.suggested = paths;
    check.suggested.push_back(parent);
    return check;
  }
  check.ok = true;
  return check;
}

bool VmdkChain::open(const std::vector<std::string>& paths, VmdkProblem& problem, const VmdkOpener& opener) {
  return open(paths, problem, std::make_shared<VmdkFiles>(opener));
}

bool VmdkChain::open(const std::vector<std::string>& paths, VmdkProblem& problem, std::shared_ptr<VmdkFiles> files) {
  files_ = std::move(files);
  layers_.clear();
  base_ = top_ = nullptr;
  problem = {};
  if (!open_layers(paths, *files_, layers_, problem)) return false;
  std::map<std::string, VmdkLayer*> by_cid;
  for (const auto& layer : layers_) {
    const auto [at, added] = by_cid.emplace(layer->descriptor().cid, layer.get());
    if (!added) {
      problem = {VmdkProblemKind::shared_cid, layer->path(), at->second->path(), {}};
      return false;
    }
    if (!is_base(*layer)) continue;
    if (base_ != nullptr) {
      problem = {VmdkProblemKind::several_bases, layer->path(), base_->path(), {}};
      return false;
    }
    base_ = layer.get();
  }
  if (base_ == nullptr) {
    problem = {VmdkProblemKind::no_base, {}, {}, {}};
    return false;
  }
  for (const auto& layer : layers_) {
    if (layer.get() == base_) continue;
    const auto parent = by_cid.find(layer->descriptor().parent_cid);
    if (parent == by_cid.end()) {
      problem = {VmdkProblemKind::missing_parent, layer->path(), {}, {}};
      return false;
    }
    if (parent->second == layer.get()) {
      problem = {VmdkProblemKind::cid_error, layer->path(), {}, {}};
      return false;
    }
    if (parent->second->child != nullptr) {
      problem = {VmdkProblemKind::branched, layer->path(), parent->second->child->path(), {}};
      return false;
    }
    layer->parent = parent->second;
    parent->second->child = layer.get();
  }
  // Every file must hang below the base; a loop of links never reaches it.
  size_t count = 1;
  VmdkLayer* top = base_;
  while (top->child != nullptr && count <= layers_.size()) {
    top = top->child;
    ++count;
  }
  if (count != layers_.size()) {
    for (const auto& layer : layers_) {
      bool reached = false;
      for (const VmdkLayer* at = top; at != nullptr && !reached; at = at->parent) reached = at == layer.get();
      if (!reached) {
        problem = {VmdkProblemKind::cid_error, layer->path(), {}, {}};
        break;
      }
    }
    return false;
  }
  top_ = top;
  return true;
}

HoldingRun VmdkChain::holding_at(uint64_t offset) {
  const uint64_t capacity = size();
  if (offset >= capacity) return {Holding::data, offset};
  if (offset >= run_start_ && offset < run_.end) return run_;
  HoldingRun run{Holding::zeros, capacity};
  for (VmdkLayer* layer = top_; layer != nullptr; layer = layer->parent) {
    const LayerHolding found = layer->holding(offset, *files_);
    run.end = std::min(run.end, found.run.end);
    if (found.held) {
      run.holding = found.run.holding;
      break;
    }
  }
  run.end = std::max(run.end, offset + 1);
  run_start_ = offset;
  run_ = run;
  return run;
}

int64_t VmdkChain::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (top_ == nullptr) return -1;
  const uint64_t capacity = size();
  if (offset >= capacity || buffer.empty()) return 0;
  const uint64_t wanted = std::min<uint64_t>(buffer.size(), capacity - offset);
  uint64_t done = 0;
  // Each pass produces at least one byte: every lookup ends past its offset.
  while (done < wanted) {
    const uint64_t at = offset + done;
    uint64_t end = capacity;
    VmdkLayer* holder = nullptr;
    LayerLookup found;
    for (VmdkLayer* layer = top_; layer != nullptr; layer = layer->parent) {
      found = layer->lookup(at, *files_);
      end = std::min(end, found.end);
      if (found.held) {
        holder = layer;
        break;
      }
    }
    const uint64_t piece = std::min(end - at, wanted - done);
    const auto target = buffer.subspan(done, piece);
    if (holder == nullptr) {
      std::fill(target.begin(), target.end(), uint8_t{0});
    } else if (!holder->read(found, at, target, *files_)) {
      return -1;
    }
    done += piece;
  }
  return static_cast<int64_t>(done);
}

bool VmdkChain::reads_ahead() {
  if (top_ == nullptr || files_->read_ahead() == nullptr) return false;
  return std::any_of(layers_.begin(), layers_.end(), [](const auto& layer) { return layer->compressed(); });
}

void VmdkChain::will_read(uint64_t offset, uint64_t length) {
  if (!reads_ahead()) return;
  const uint64_t end = std::min(size(), offset + std::min(length, UINT64_MAX - offset));
  // Grain by grain, as read_at finds them; every lookup ends past its offset.
  for (uint64_t at = offset; at < end;) {
    uint64_t next = end;
    for (VmdkLayer* layer = top_; layer != nullptr; layer = layer->parent) {
      const LayerLookup found = layer->lookup(at, *files_);
      next = std::min(next, found.end);
      if (!found.held) continue;
      if (!layer->will_read(found, *files_)) return;
      break;
    }
    at = next;
  }
}

}  // namespace lnk
