#include "Mdx.h"

#include "Bytes.h"
#include "CodePage.h"
#include "Error.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace zendral::dbf::mdx
{
namespace
{

// Every pointer in the file counts 512-byte pages; blocks, the unit of allocation, take two.
constexpr std::size_t kPage = 512;
constexpr std::size_t kBlock = 1024;
constexpr std::uint32_t kBlockPages = kBlock / kPage;
// Pages 0-3 hold the file header and the tag table; the first tag header takes page 4.
constexpr std::uint32_t kFirstFreePage = 4;
constexpr std::size_t kTagTable = 544;
constexpr std::size_t kSlotSize = 32;
// Slots counted in the header, including an unused one before the tag table.
constexpr unsigned char kSlotCount = 48;
constexpr std::size_t kTagNameSize = 11;
constexpr std::size_t kTableNameSize = 16;
constexpr std::size_t kExpressionSize = 221;
constexpr unsigned char kVersion = 0x02;
constexpr unsigned char kKeyFormat = 0x10;
constexpr unsigned char kDescendingOrUnique = 0x08 | 0x40;
// Count and link words before the items of a key block, and the child pointer after them.
constexpr std::size_t kBlockHead = 8;
constexpr std::size_t kBlockTail = 4;

// A key item is the 4-byte record number or child page and the key, padded to whole words.
std::size_t ItemLength(std::size_t keyLength) { return (4 + keyLength + 3) / 4 * 4; }

// Items one block holds while keeping room for the trailing child pointer.
std::size_t MostKeys(std::size_t keyLength)
{
    return (kBlock - kBlockHead - kBlockTail) / ItemLength(keyLength);
}

// Cuts `total` items into as few runs of at most `most` as possible, as even as they can be. No
// items give one empty run (the empty leaf of an empty table).
std::vector<std::size_t> Runs(std::size_t total, std::size_t most)
{
    const std::size_t count = std::max<std::size_t>(1, (total + most - 1) / most);
    std::vector<std::size_t> sizes(count, total / count);
    for (std::size_t i = 0; i < total % count; ++i) {
        ++sizes[i];
    }
    return sizes;
}

std::string FromZeroTerminated(const char* p, std::size_t size)
{
    const std::string_view s(p, size);
    return std::string(s.substr(0, s.find('\0')));
}

// Writes one tag's key blocks into `file`, taking blocks from page `next` on. Returns the root.
class TreeWriter
{
public:
    TreeWriter(std::string& file, std::uint32_t& next, const Tag& tag, std::string_view records,
               std::size_t recordLength)
        : m_file(file)
        , m_next(next)
        , m_tag(tag)
        , m_records(records)
        , m_recordLength(recordLength)
        , m_itemLength(ItemLength(tag.keyLength))
        , m_most(MostKeys(tag.keyLength))
    {
    }

    std::uint32_t Write()
    {
        // Record numbers from 0 in key order; equal keys keep file order.
        std::vector<std::uint32_t> order(m_records.size() / m_recordLength);
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
            return std::memcmp(Key(a), Key(b), m_tag.keyLength) < 0;
        });

        // Leaves first, then each level of interior blocks above them, up to a single root.
        std::vector<Node> level;
        std::size_t at = 0;
        for (const std::size_t n : Runs(order.size(), m_most)) {
            const std::uint32_t page = Allocate();
            char* block = Block(page);
            PutLe(block, n, 4);
            for (std::size_t i = 0; i < n; ++i) {
                PutItem(block, i, order[at + i] + 1, order[at + i]);
            }
            at += n;
            level.push_back({page, n > 0 ? order[at - 1] : 0});
        }
        while (level.size() > 1) {
            std::vector<Node> upper;
            std::size_t child = 0;
            // At least two children per block: the tag's key is at most 100 bytes, so a block
            // holds at least 9 keys and even runs never fall below two.
            for (const std::size_t n : Runs(level.size(), m_most + 1)) {
                assert(n >= 2);
                const std::uint32_t page = Allocate();
                char* block = Block(page);
                PutLe(block, n - 1, 4);
                for (std::size_t i = 0; i + 1 < n; ++i) {
                    const Node& c = level[child + i];
                    PutItem(block, i, c.page, c.highest);
                }
                const Node& last = level[child + n - 1];
                PutLe(block + kBlockHead + (n - 1) * m_itemLength, last.page, 4);
                upper.push_back({page, last.highest});
                child += n;
            }
            level = std::move(upper);
        }
        return level.front().page;
    }

private:
    // A written block and the record (from 0) that holds the highest key beneath it.
    struct Node
    {
        std::uint32_t page;
        std::uint32_t highest;
    };

    const char* Key(std::uint32_t record) const
    {
        return m_records.data() + std::size_t{record} * m_recordLength + m_tag.keyOffset;
    }

    std::uint32_t Allocate()
    {
        const std::uint32_t page = m_next;
        m_next += kBlockPages;
        m_file.resize(std::size_t{m_next} * kPage, '\0');
        return page;
    }

    char* Block(std::uint32_t page) { return m_file.data() + std::size_t{page} * kPage; }

    // Item i of a block: a record number (leaf) or a child page (interior), and a record's key.
    void PutItem(char* block, std::size_t i, std::uint32_t pointer, std::uint32_t keyRecord)
    {
        char* item = block + kBlockHead + i * m_itemLength;
        PutLe(item, pointer, 4);
        std::memcpy(item + 4, Key(keyRecord), m_tag.keyLength);
    }

    std::string& m_file;
    std::uint32_t& m_next;
    const Tag& m_tag;
    std::string_view m_records;
    std::size_t m_recordLength;
    std::size_t m_itemLength;
    std::size_t m_most;
};

// Links the tag table's slots into a binary search tree ordered by tag name, the first slot being
// the root: bytes 16 and 17 name the lower and higher child, byte 18 the parent (slot + 1).
void LinkTagNames(std::string& file, const std::vector<Tag>& tags)
{
    const auto slot = [&](std::size_t i) { return file.data() + kTagTable + kSlotSize * i; };
    for (std::size_t i = 1; i < tags.size(); ++i) {
        std::size_t parent = 0;
        for (;;) {
            const int side = tags[i].name < tags[parent].name ? 16 : 17;
            const auto child = static_cast<unsigned char>(slot(parent)[side]);
            if (child == 0) {
                slot(parent)[side] = static_cast<char>(i + 1);
                slot(i)[18] = static_cast<char>(parent + 1);
                break;
            }
            parent = child - 1u;
        }
    }
}

} // namespace

Tag TagFor(const IndexDef& def, const std::vector<FieldInfo>& fields)
{
    const std::string wanted(cp1252::Trim(def.fields));
    if (wanted.find_first_of(";+") != std::string::npos) {
        throw Error("el índice " + def.name + " tiene una clave de varios campos (" + cp1252::ToUtf8(wanted) +
                    "), que esta versión no sabe escribir");
    }
    const auto it = std::find_if(fields.begin(), fields.end(),
                                 [&](const FieldInfo& f) { return cp1252::EqualsNoCase(f.name, wanted); });
    if (it == fields.end()) {
        throw Error("el índice " + def.name + " se refiere al campo '" + cp1252::ToUtf8(wanted) +
                    "', que la tabla no tiene");
    }
    if (it->type != 'C') {
        throw Error("el índice " + def.name + " se refiere al campo " + it->name +
                    ", que no es de texto; solo se indexan campos de texto");
    }
    if (it->width > kMaxKeyLength) {
        throw Error("el índice " + def.name + " tendría claves de " + std::to_string(it->width) +
                    " bytes (como mucho " + std::to_string(kMaxKeyLength) + ")");
    }
    Tag tag;
    tag.name = def.name;
    tag.field = static_cast<std::size_t>(it - fields.begin());
    tag.keyOffset = static_cast<std::size_t>(it->offset);
    tag.keyLength = static_cast<std::size_t>(it->width);
    return tag;
}

std::string Build(std::string_view tableName, const std::vector<Tag>& tags,
                  const std::vector<FieldInfo>& fields, std::string_view records, std::size_t recordLength,
                  Date date)
{
    assert(!tags.empty() && tags.size() <= kMaxTags);
    assert(recordLength > 0 && records.size() % recordLength == 0);
    std::string file(kFirstFreePage * kPage, '\0');
    char* h = file.data();
    h[0] = static_cast<char>(kVersion);
    std::memcpy(h + 1, date.data(), 3);
    const std::string name = cp1252::Upper(tableName.substr(0, kTableNameSize));
    std::memcpy(h + 4, name.data(), name.size());
    PutLe(h + 20, kBlockPages, 2);
    PutLe(h + 22, kBlock, 2);
    h[24] = 0x01; // production index
    h[25] = static_cast<char>(kSlotCount);
    h[26] = static_cast<char>(kSlotSize);
    PutLe(h + 28, tags.size(), 2);
    std::memcpy(h + 44, date.data(), 3);
    h[529] = 0x01;

    std::uint32_t next = kFirstFreePage;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Tag& tag = tags[i];
        assert(tag.keyLength >= 1 && tag.keyLength <= static_cast<std::size_t>(kMaxKeyLength));
        assert(tag.keyOffset >= 1 && tag.keyOffset + tag.keyLength <= recordLength);
        const std::uint32_t headerPage = next;
        next += kBlockPages;
        file.resize(std::size_t{next} * kPage, '\0');
        const std::uint32_t firstKeyPage = next;
        const std::uint32_t root = TreeWriter(file, next, tag, records, recordLength).Write();

        char* slot = file.data() + kTagTable + kSlotSize * i;
        PutLe(slot, headerPage, 4);
        std::memcpy(slot + 4, tag.name.data(), std::min(tag.name.size(), kTagNameSize - 1));
        slot[15] = static_cast<char>(kKeyFormat);
        slot[19] = 0x02;
        slot[20] = 'C';

        char* t = file.data() + std::size_t{headerPage} * kPage;
        PutLe(t, root, 4);
        PutLe(t + 4, next - firstKeyPage, 4);
        t[8] = static_cast<char>(kKeyFormat);
        t[9] = 'C';
        PutLe(t + 12, tag.keyLength, 2);
        PutLe(t + 14, MostKeys(tag.keyLength), 2);
        PutLe(t + 18, ItemLength(tag.keyLength), 2);
        t[20] = 0x01; // change counter
        const std::string& expression = fields[tag.field].name;
        std::memcpy(t + 24, expression.data(), std::min(expression.size(), kExpressionSize - 1));
    }
    LinkTagNames(file, tags);
    PutLe(file.data() + 32, next, 4);
    return file;
}

std::vector<Tag> ReadTags(std::string_view file, const std::vector<FieldInfo>& fields)
{
    if (file.size() < kFirstFreePage * kPage) {
        throw Error("el archivo es demasiado corto para ser un índice (" + std::to_string(file.size()) +
                    " bytes)");
    }
    const char* h = file.data();
    if (static_cast<unsigned char>(h[0]) != kVersion) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(h[0]));
        throw Error(std::string("no es un índice de dBase IV (versión ") + hex + ")");
    }
    const std::size_t count = GetLe(h + 28, 2);
    if (count == 0 || count > kMaxTags || static_cast<unsigned char>(h[26]) != kSlotSize) {
        throw Error("su tabla de etiquetas no es válida");
    }
    std::vector<Tag> tags;
    for (std::size_t i = 0; i < count; ++i) {
        const char* slot = h + kTagTable + kSlotSize * i;
        const std::string name = cp1252::ToUtf8(FromZeroTerminated(slot + 4, kTagNameSize));
        const std::size_t at = std::size_t{GetLe(slot, 4)} * kPage;
        if (at < kFirstFreePage * kPage || at + kPage > file.size()) {
            throw Error("la etiqueta " + name + " apunta fuera del archivo");
        }
        const char* t = file.data() + at;
        const std::string expression(cp1252::Trim(FromZeroTerminated(t + 24, kExpressionSize)));
        if ((static_cast<unsigned char>(t[8]) & kDescendingOrUnique) != 0 || t[23] != 0) {
            throw Error("la etiqueta " + name + " es descendente o única");
        }
        if (t[245] != 0) {
            throw Error("la etiqueta " + name + " tiene un filtro");
        }
        const std::size_t keyLength = GetLe(t + 12, 2);
        const auto it = std::find_if(fields.begin(), fields.end(), [&](const FieldInfo& f) {
            return cp1252::EqualsNoCase(f.name, expression) && f.type == 'C' &&
                   static_cast<std::size_t>(f.width) == keyLength && f.width <= kMaxKeyLength;
        });
        if (t[9] != 'C' || it == fields.end()) {
            throw Error("la clave de la etiqueta " + name + " (" + cp1252::ToUtf8(expression) +
                        ") no es un campo de texto de la tabla");
        }
        Tag tag;
        tag.name = FromZeroTerminated(slot + 4, kTagNameSize);
        tag.field = static_cast<std::size_t>(it - fields.begin());
        tag.keyOffset = static_cast<std::size_t>(it->offset);
        tag.keyLength = keyLength;
        tags.push_back(std::move(tag));
    }
    return tags;
}

} // namespace zendral::dbf::mdx
