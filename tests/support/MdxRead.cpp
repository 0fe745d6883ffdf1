#include "MdxRead.h"

#include "TempDir.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace zendral::test
{
namespace
{

constexpr std::size_t kPage = 512;
constexpr std::size_t kBlock = 1024;

std::uint32_t U32(std::string_view bytes, std::size_t at)
{
    if (at + 4 > bytes.size()) {
        return 0;
    }
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

std::uint32_t U16(std::string_view bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

std::string ZeroTerminated(std::string_view bytes, std::size_t at, std::size_t size)
{
    const std::string_view s = bytes.substr(at, size);
    return std::string(s.substr(0, s.find('\0')));
}

class Walker
{
public:
    Walker(MdxRead& index, MdxTagRead& tag, std::set<std::uint32_t>& seen)
        : m_index(index)
        , m_tag(tag)
        , m_seen(seen)
    {
    }

    // Walks the subtree at `page`; returns its highest key ("" when it has none).
    std::string Walk(std::uint32_t page, int depth)
    {
        const std::string where = "tag " + m_tag.name + " block " + std::to_string(page) + ": ";
        if (page < 6 || page % 2 != 0 || std::size_t{page} * kPage + kBlock > m_index.bytes.size()) {
            Fault(where + "page outside the key blocks of the file");
            return {};
        }
        if (!m_seen.insert(page).second) {
            Fault(where + "reached twice");
            return {};
        }
        ++m_tag.blocks;
        const std::string_view block =
            std::string_view(m_index.bytes).substr(std::size_t{page} * kPage, kBlock);
        const std::uint32_t n = U32(block, 0);
        if (n > m_tag.mostKeys) {
            Fault(where + std::to_string(n) + " keys, more than " + std::to_string(m_tag.mostKeys));
            return {};
        }
        if (U32(block, 4) != 0) {
            Fault(where + "link word is not 0");
        }
        const std::size_t tail = 8 + n * m_tag.itemLength;
        const std::uint32_t trailing = U32(block, tail);
        if (block.find_first_not_of('\0', tail + 4) != std::string_view::npos) {
            Fault(where + "bytes after the trailing pointer are not 0");
        }
        const auto key = [&](std::size_t i) {
            return std::string(block.substr(8 + i * m_tag.itemLength + 4, m_tag.keyLength));
        };
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view pad = block.substr(8 + i * m_tag.itemLength + 4 + m_tag.keyLength,
                                                      m_tag.itemLength - 4 - m_tag.keyLength);
            if (pad.find_first_not_of('\0') != std::string_view::npos) {
                Fault(where + "item padding is not 0");
            }
        }

        if (trailing == 0) {
            if (m_leafDepth == 0) {
                m_leafDepth = depth;
            } else if (m_leafDepth != depth) {
                Fault(where + "leaf at depth " + std::to_string(depth) + ", others at " +
                      std::to_string(m_leafDepth));
            }
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t record = U32(block, 8 + i * m_tag.itemLength);
                Add(key(i), record, where);
            }
            return n == 0 ? std::string() : key(n - 1);
        }
        if (n == 0) {
            Fault(where + "interior block without keys");
        }
        std::string highest;
        for (std::size_t i = 0; i <= n; ++i) {
            const std::uint32_t child = i < n ? U32(block, 8 + i * m_tag.itemLength) : trailing;
            highest = Walk(child, depth + 1);
            if (i < n && highest != key(i)) {
                Fault(where + "key " + std::to_string(i) + " is not the highest key under its child");
            }
        }
        return highest;
    }

    int LeafDepth() const { return m_leafDepth; }

private:
    void Fault(const std::string& what) { m_index.faults.push_back(what); }

    void Add(const std::string& key, std::uint32_t record, const std::string& where)
    {
        if (!m_tag.items.empty()) {
            const auto& [lastKey, lastRecord] = m_tag.items.back();
            const int cmp = std::memcmp(lastKey.data(), key.data(), key.size());
            if (cmp > 0 || (cmp == 0 && lastRecord >= record)) {
                Fault(where + "record " + std::to_string(record) + " out of order");
            }
        }
        if (record == 0) {
            Fault(where + "record number 0");
        }
        m_tag.items.emplace_back(key, record);
    }

    MdxRead& m_index;
    MdxTagRead& m_tag;
    std::set<std::uint32_t>& m_seen;
    int m_leafDepth = 0;
};

} // namespace

const MdxTagRead* MdxRead::Tag(std::string_view name) const
{
    for (const MdxTagRead& t : tags) {
        if (t.name == name) {
            return &t;
        }
    }
    return nullptr;
}

MdxRead ReadMdx(const std::filesystem::path& file)
{
    MdxRead index;
    index.bytes = ReadFile(file);
    const std::string_view b = index.bytes;
    const auto fault = [&](const std::string& what) { index.faults.push_back(what); };
    if (b.size() < 4 * kPage) {
        fault("file shorter than its header");
        return index;
    }
    if (b[0] != 0x02 || U16(b, 20) != 2 || U16(b, 22) != kBlock || b[24] != 0x01 || b[25] != 48 ||
        b[26] != 32) {
        fault("file header: version, block size or tag table layout");
    }
    index.pagesInFile = U32(b, 32);
    if (std::size_t{index.pagesInFile} * kPage != b.size()) {
        fault("pages in file " + std::to_string(index.pagesInFile) + " for " + std::to_string(b.size()) +
              " bytes");
    }
    if (U32(b, 36) != 0 || U32(b, 40) != 0) {
        fault("free list not empty");
    }
    const std::uint32_t count = U16(b, 28);
    std::set<std::uint32_t> seen;
    std::uint32_t pagesUsed = 4;
    for (std::size_t i = 0; i < count && i < 47; ++i) {
        const std::size_t slot = 544 + 32 * i;
        MdxTagRead tag;
        tag.name = ZeroTerminated(b, slot + 4, 11);
        tag.headerPage = U32(b, slot);
        if (b[slot + 15] != 0x10 || b[slot + 20] != 'C') {
            fault("tag " + tag.name + ": slot key format or type");
        }
        const std::size_t at = std::size_t{tag.headerPage} * kPage;
        if (tag.headerPage < 4 || at + kBlock > b.size() || !seen.insert(tag.headerPage).second) {
            fault("tag " + tag.name + ": header page " + std::to_string(tag.headerPage));
            continue;
        }
        tag.rootPage = U32(b, at);
        tag.tagPages = U32(b, at + 4);
        tag.keyLength = U16(b, at + 12);
        tag.mostKeys = U16(b, at + 14);
        tag.itemLength = U16(b, at + 18);
        tag.expression = ZeroTerminated(b, at + 24, 221);
        if (b[at + 8] != 0x10 || b[at + 9] != 'C' || b[at + 23] != 0 || b[at + 245] != 0) {
            fault("tag " + tag.name + ": key format, type, unique or filter byte");
        }
        if (tag.keyLength == 0 || tag.itemLength != (4 + tag.keyLength + 3) / 4 * 4 ||
            tag.mostKeys != (kBlock - 12) / tag.itemLength) {
            fault("tag " + tag.name + ": key length, item length and most keys disagree");
            continue;
        }
        Walker walker(index, tag, seen);
        walker.Walk(tag.rootPage, 1);
        tag.levels = walker.LeafDepth();
        if (tag.tagPages != 2 * tag.blocks) {
            fault("tag " + tag.name + ": header says " + std::to_string(tag.tagPages) + " pages for " +
                  std::to_string(tag.blocks) + " blocks");
        }
        pagesUsed += 2 + 2 * static_cast<std::uint32_t>(tag.blocks);
        index.tags.push_back(std::move(tag));
    }
    if (pagesUsed != index.pagesInFile) {
        fault("blocks reached take " + std::to_string(pagesUsed) + " pages of " +
              std::to_string(index.pagesInFile));
    }
    return index;
}

std::uint32_t SeekMdx(const MdxRead& index, const MdxTagRead& tag, std::string_view key)
{
    std::string wanted(key.substr(0, tag.keyLength));
    wanted.resize(tag.keyLength, ' ');
    const std::string_view b = index.bytes;
    // The path from the root: block page and the position taken in it.
    std::vector<std::pair<std::uint32_t, std::size_t>> path;
    std::uint32_t page = tag.rootPage;
    for (int guard = 0; guard < 64; ++guard) {
        const std::size_t at = std::size_t{page} * kPage;
        if (at + kBlock > b.size()) {
            return 0;
        }
        const std::uint32_t n = U32(b, at);
        const bool leaf = U32(b, at + 8 + n * tag.itemLength) == 0;
        std::size_t i = 0;
        while (i < n &&
               std::memcmp(b.data() + at + 8 + i * tag.itemLength + 4, wanted.data(), tag.keyLength) < 0) {
            ++i;
        }
        if (!leaf) {
            path.emplace_back(page, i);
            page = U32(b, at + 8 + i * tag.itemLength);
            continue;
        }
        if (i < n) {
            return U32(b, at + 8 + i * tag.itemLength);
        }
        // Past this leaf: up to the nearest block with a child to the right, then down its left edge.
        while (!path.empty() && path.back().second >= U32(b, std::size_t{path.back().first} * kPage)) {
            path.pop_back();
        }
        if (path.empty()) {
            return 0;
        }
        ++path.back().second;
        page = U32(b, std::size_t{path.back().first} * kPage + 8 + path.back().second * tag.itemLength);
        wanted.assign(tag.keyLength, '\0'); // everything from here on is greater or equal
    }
    return 0;
}

} // namespace zendral::test
