#include "kelvadorin/testing/container_writer.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <span>

#include "kelvadorin/tools/container_file.hpp"

namespace kdr::testing {

namespace {

[[noreturn]] void fail(const char* why) {
  std::fprintf(stderr, "build_container: %s\n", why);
  std::abort();
}

struct Placed {
  uint32_t id;
  uint32_t offset;
  uint32_t size;
};

class Builder {
 public:
  explicit Builder(const ContainerLayout& layout)
      : layout_(layout),
        bs_(layout.block_size),
        fill_(std::clamp<size_t>(layout.node_entries, 2, CONTAINER_NODE_MAX_ENTRIES)) {
    if (bs_ < CONTAINER_MIN_BLOCK_SIZE) fail("block size below 8");
    end_ = (CONTAINER_HEADER_END + bs_ - 1) / bs_ * bs_;
    out_.resize(end_);
  }

  // One chain of whole blocks holding `data`; an empty item still takes a block.
  uint32_t put_item(ByteView data) {
    uint64_t dpb = bs_ - 4u;
    uint64_t blocks = std::max<uint64_t>(1, (data.size() + dpb - 1) / dpb);
    uint64_t base = end_;
    end_ += blocks * bs_;
    if (end_ > UINT32_MAX) fail("container past 4 GiB");
    out_.resize(end_);
    auto block_at = [&](uint64_t i) { return base + (layout_.backward_chains ? blocks - 1 - i : i) * bs_; };
    for (uint64_t i = 0; i < blocks; ++i) {
      std::byte* p = out_.data() + block_at(i);
      store_le<uint32_t>(p, i + 1 < blocks ? static_cast<uint32_t>(block_at(i + 1)) : 0);
      size_t from = static_cast<size_t>(i * dpb);
      size_t take = std::min<size_t>(static_cast<size_t>(dpb), data.size() - std::min(from, data.size()));
      if (take) std::copy_n(data.data() + from, take, p + 4);
    }
    return static_cast<uint32_t>(block_at(0));
  }

  // The subtree over `entries`, children stored before their parent.
  uint32_t put_tree(std::span<const Placed> entries) {
    if (entries.size() <= fill_) return put_node(entries, {});
    // The smallest height whose full tree holds them all, then as few
    // children as the next height down allows, filled evenly.
    uint64_t below = fill_;  // capacity of a subtree one level lower
    while ((fill_ + 1) * (below + 1) - 1 < entries.size()) below = (fill_ + 1) * (below + 1) - 1;
    size_t children = static_cast<size_t>((entries.size() + 1 + below) / (below + 1));
    size_t rest = entries.size() - (children - 1);
    std::vector<uint32_t> child_offsets;
    std::vector<Placed> separators;
    size_t at = 0;
    for (size_t i = 0; i < children; ++i) {
      size_t take = rest / children + (i < rest % children ? 1 : 0);
      child_offsets.push_back(put_tree(entries.subspan(at, take)));
      at += take;
      if (i + 1 < children) separators.push_back(entries[at++]);
    }
    return put_node(separators, child_offsets);
  }

  Bytes finish(uint32_t root) {
    std::byte* h = out_.data() + CONTAINER_HEADER_OFFSET;
    const uint32_t fields[] = {CONTAINER_FILE_TYPE, bs_, static_cast<uint32_t>(end_), layout_.data_set,
                               layout_.data_subset, 0, 0, 0, root};
    for (size_t i = 0; i < std::size(fields); ++i) store_le<uint32_t>(h + 4 * i, fields[i]);
    return std::move(out_);
  }

 private:
  uint32_t put_node(std::span<const Placed> entries, std::span<const uint32_t> children) {
    Bytes node(CONTAINER_NODE_SIZE);
    for (size_t i = 0; i < children.size(); ++i) store_le<uint32_t>(node.data() + 4 * i, children[i]);
    store_le<uint32_t>(node.data() + 4 * CONTAINER_NODE_CHILDREN, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      std::byte* e = node.data() + 4 * CONTAINER_NODE_CHILDREN + 4 + i * CONTAINER_ENTRY_SIZE;
      // Flags, timestamp and iteration stay 0: nothing reads them.
      store_le<uint32_t>(e + 4, entries[i].id);
      store_le<uint32_t>(e + 8, entries[i].offset);
      store_le<uint32_t>(e + 12, entries[i].size);
    }
    return put_item(node);
  }

  const ContainerLayout& layout_;
  uint32_t bs_;
  size_t fill_;
  uint64_t end_ = 0;
  Bytes out_;
};

}  // namespace

Bytes build_container(std::vector<ContainerRecord> records, const ContainerLayout& layout) {
  std::stable_sort(records.begin(), records.end(),
                   [](const ContainerRecord& a, const ContainerRecord& b) { return a.first < b.first; });
  for (size_t i = 1; i < records.size(); ++i)
    if (records[i - 1].first == records[i].first) fail("repeated file id");
  Builder builder(layout);
  std::vector<Placed> placed;
  placed.reserve(records.size());
  for (const auto& [id, data] : records) {
    if (data.size() > UINT32_MAX) fail("record past 4 GiB");
    placed.push_back({id, builder.put_item(data), static_cast<uint32_t>(data.size())});
  }
  uint32_t root = builder.put_tree(placed);
  return builder.finish(root);
}

void write_container(const std::filesystem::path& path, std::vector<ContainerRecord> records,
                     const ContainerLayout& layout) {
  Bytes bytes = build_container(std::move(records), layout);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write the container file");
}

}  // namespace kdr::testing
