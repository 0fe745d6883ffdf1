#include "DbfTable.h"

#include "AtomicFile.h"
#include "BoundedRead.h"
#include "Bytes.h"
#include "CodePage.h"
#include "DbfFormat.h"
#include "Decimal.h"
#include "Error.h"
#include "Mdx.h"
#include "RunLock.h"
#include "System.h"
#include "WorkDir.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

namespace zendral::dbf
{
namespace
{

// A path as UTF-8 text, as messages are, whatever the system's code page cannot hold.
std::string Utf8Text(const std::filesystem::path& filePath)
{
    const std::u8string u8 = filePath.u8string();
    return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
}

// Field names FieldByName remembers as they were asked for.
constexpr std::size_t kMaxLookups = 64;

// Records appended to a table opened exclusively are written once about this many bytes of them
// are waiting: a few write calls per batch instead of three per record.
constexpr std::size_t kBatchBytes = 64 * 1024;

} // namespace

// ---- Table ----------------------------------------------------------------------------------

struct Table::Impl
{
    explicit Impl(const Table& owner)
        : owner(owner)
    {
    }

    const Table& owner;
    LockedFile file;
    bool exclusive = false;
    bool dirty = false; // something was written since Open
    Contents c;
    State state = State::Inactive;
    std::size_t pos = 0; // index into c.live; c.live.size() at Eof
    bool bof = true;
    std::string buffer;      // the record being appended or edited
    std::size_t editing = 0; // number of the record being edited
    // Records of c.records before this number are on disk and counted by the header; the others
    // are posted appends that the next Flush writes.
    std::size_t onDisk = 0;
    std::string batch; // the bytes one Flush writes, kept for its capacity
    // Names FieldByName was asked for, exactly as asked, and the field each one found: a stage
    // asks for the same few names, in the same order, for every record, so the search starts
    // after the last one found.
    std::vector<std::pair<std::string, int>> lookups;
    std::size_t nextLookup = 0;
    // The production index's tags, which every change of the records keeps current.
    std::vector<mdx::Tag> tags;
    // Why the index that the header announces cannot be kept current; writes are refused then.
    std::string indexProblem;
    // Records changed since the index was written. The header stops announcing the index before
    // the first such change and announces it again once a fresh one has replaced the old, so
    // that a table killed in between claims no index rather than a stale one.
    bool indexStale = false;

    // A new table that CreateTable built beside its final name, not yet in place: its file, the
    // lock on it (moved to `file` while it is open) and its index tags. It replaces the old table
    // when this object closes it, or at once when CreateTable was asked to.
    std::optional<NewFile> pending;
    LockedFile pendingFile;
    std::vector<mdx::Tag> pendingTags;
    bool pendingOpen = false; // `file` is the pending file

    // Drops a pending table that was not put in place.
    void DiscardPending() noexcept
    {
        pendingFile.close();
        pending.reset();
        pendingTags.clear();
        pendingOpen = false;
    }

    const std::string& Name() const { return owner.m_tableName; }

    Error NotOpen() const { return Error("La tabla " + Name() + " no está abierta"); }

    void RequireBrowse() const
    {
        if (state == State::Inactive) {
            throw NotOpen();
        }
        if (state != State::Browse) {
            throw Error("La tabla " + Name() + " tiene cambios sin guardar");
        }
    }

    void RequireWritable() const
    {
        if (!c.writable) {
            throw Error("No se puede modificar la tabla " + Name() + ": su formato solo se puede leer");
        }
        if (!indexProblem.empty()) {
            throw Error("No se puede modificar la tabla " + Name() + ": su índice " + Name() +
                        ".MDX no se puede mantener al día (" + indexProblem + ")");
        }
    }

    // Takes the tags from the index that the header announces. Reading needs no index, so a
    // missing or foreign one only stops writes.
    void LoadIndex()
    {
        tags.clear();
        indexProblem.clear();
        indexStale = false;
        if (!c.indexFlag || !c.writable) {
            return;
        }
        const std::filesystem::path path = owner.IndexPath();
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            indexProblem = "no existe el archivo " + path.string();
            return;
        }
        try {
            // A regular file no larger than dBase's own limit (2 GB); a FIFO is refused at once.
            tags = mdx::ReadTags(ReadBoundedFile(path, 2048 * kMegabyte, path.string()), c.fields);
        } catch (const Error& e) {
            indexProblem = e.what();
        }
    }

    // True when posting the pending record changes what some tag holds.
    bool ChangesIndex() const
    {
        if (tags.empty()) {
            return false;
        }
        if (state == State::Insert) {
            return true;
        }
        const char* old = c.records.data() + editing * c.recordLength;
        return std::any_of(tags.begin(), tags.end(), [&](const mdx::Tag& t) {
            return std::memcmp(old + t.keyOffset, buffer.data() + t.keyOffset, t.keyLength) != 0;
        });
    }

    // Sets or clears the header bytes that announce the index, the table's and its key fields',
    // in one write so that they change together. Returns 0 or the errno.
    int WriteIndexFlags(bool on)
    {
        const std::size_t end = kHeaderSize + kDescriptorSize * c.fields.size();
        std::string header;
        try {
            header = ReadAt(file.fd(), 0, end, Name());
        } catch (const Error&) {
            return EIO;
        }
        if (header.size() < end) {
            return EIO;
        }
        SetIndexFlags(header, tags, on);
        const int err = WriteAt(file.fd(), kIndexFlagAt, header.data() + kIndexFlagAt, end - kIndexFlagAt);
        c.indexFlag = on && err == 0;
        return err;
    }

    // Before the first change of an indexed record: the header stops announcing the index (and
    // that reaches the disk before any record does), then the old index goes.
    void MarkIndexStale()
    {
        indexStale = true;
        dirty = true;
        int err = WriteIndexFlags(false);
        if (err == 0 && sys::SyncData(file.fd()) != 0) {
            err = errno;
        }
        if (err != 0) {
            throw Error("No se puede guardar el registro en la tabla " + Name() + ": " + SystemReason(err));
        }
        sys::Remove(owner.IndexPath());
    }

    // Writes the posted appends that are not on disk yet. They go in behind the current end of
    // the records: first all their bytes but the deletion flag of the first one, with a fresh
    // end-of-file marker after them; until that flag lands the old marker stays where they begin,
    // so readers that stop at the marker never meet a part of a record. Then the flag, and only
    // then the header count, which other readers trust. When a write fails the records of this
    // batch are hidden behind a new marker and dropped from memory too, and Error is thrown.
    void Flush()
    {
        const std::size_t count = c.RecordCount();
        if (onDisk == count) {
            return;
        }
        const int fd = file.fd();
        const std::size_t recordLength = c.recordLength;
        const std::uint64_t at = c.headerLength + std::uint64_t{onDisk} * recordLength;
        const char* first = c.records.data() + onDisk * recordLength;
        batch.assign(first + 1, (count - onDisk) * recordLength - 1);
        batch += kEndOfFile;
        // Header bytes 1-7: date of the last update and record count.
        char stamp[7];
        PutToday(stamp);
        PutLe(stamp + 3, count, 4);
        int err = c.endMarked ? 0 : WriteAt(fd, at, &kEndOfFile, 1);
        if (err == 0) {
            err = WriteAt(fd, at + 1, batch.data(), batch.size());
        }
        if (err == 0) {
            err = WriteAt(fd, at, first, 1);
        }
        if (err == 0) {
            err = WriteAt(fd, 1, stamp, sizeof stamp);
        }
        if (err != 0) {
            c.endMarked = WriteAt(fd, at, &kEndOfFile, 1) == 0;
            c.records.resize(onDisk * recordLength);
            while (!c.live.empty() && c.live.back() >= onDisk) {
                c.live.pop_back();
            }
            pos = std::min(pos, c.live.size());
            throw Error("No se puede guardar el registro en la tabla " + Name() + ": " + SystemReason(err));
        }
        c.endMarked = true;
        onDisk = count;
    }

    // Writes the whole index afresh from the records, replaces the file atomically and only then
    // announces it in the header again.
    void RebuildIndex()
    {
        const auto failed = [&](int err) {
            return Error("No se puede guardar el índice de la tabla " + Name() + ": " + SystemReason(err));
        };
        Flush();
        // The records the index lists are on disk before the header points at it.
        if (sys::SyncData(file.fd()) != 0) {
            throw failed(errno);
        }
        char today[3];
        PutToday(today);
        mdx::Date date;
        std::memcpy(date.data(), today, date.size());
        WriteFileAtomically(owner.IndexPath(),
                            mdx::Build(Name(), tags, c.fields, c.records, c.recordLength, date));
        if (const int err = WriteIndexFlags(true); err != 0) {
            throw failed(err);
        }
        indexStale = false;
    }

    // On Close: the index that changes left behind is written now.
    void FinishIndex()
    {
        if (state == State::Inactive || !indexStale) {
            return;
        }
        if (!exclusive && !file.Relock(LockedFile::Mode::Exclusive)) {
            throw Error("No se puede guardar el índice de la tabla " + Name() +
                        ": está en uso por otro programa");
        }
        RebuildIndex();
    }

    const FieldInfo& Info(int index) const
    {
        if (state == State::Inactive || index < 0 || static_cast<std::size_t>(index) >= c.fields.size()) {
            throw NotOpen();
        }
        return c.fields[static_cast<std::size_t>(index)];
    }

    FieldContext Context(int index) const { return {Name(), c.layout, Info(index), CurrentRecord()}; }

    // Number of the record being read, appended or edited, from 1; 0 when there is none.
    std::size_t CurrentRecord() const
    {
        switch (state) {
        case State::Insert:
            return c.RecordCount() + 1;
        case State::Edit:
            return editing + 1;
        case State::Browse:
            return pos < c.live.size() ? c.live[pos] + 1 : 0;
        default:
            return 0;
        }
    }

    std::string_view Raw(int index) const
    {
        const FieldInfo& f = Info(index);
        const char* record = nullptr;
        if (state == State::Edit || state == State::Insert) {
            record = buffer.data();
        } else if (pos < c.live.size()) {
            record = c.records.data() + c.live[pos] * c.recordLength;
        } else {
            throw Error("La tabla " + Name() + " no tiene registro actual");
        }
        return {record + f.offset, static_cast<std::size_t>(f.width)};
    }

    // Replaces the field in the record being appended or edited with `text`, blank-padded.
    void Store(int index, std::string_view text, bool rightAligned = false)
    {
        const FieldInfo& f = Info(index);
        if (state != State::Edit && state != State::Insert) {
            throw Error("La tabla " + Name() + " no está en modo de edición");
        }
        const auto width = static_cast<std::size_t>(f.width);
        text = text.substr(0, width);
        char* field = buffer.data() + f.offset;
        std::memset(field, ' ', width);
        std::copy(text.begin(), text.end(), field + (rightAligned ? width - text.size() : 0));
    }

    void StoreNumber(int index, const Decimal& value)
    {
        const FieldInfo& f = Info(index);
        const std::string text = FixedText(value, static_cast<std::size_t>(f.decimals));
        if (text.size() > static_cast<std::size_t>(f.width)) {
            // dBase would fill the field with asterisks; refuse instead of losing the number.
            throw Error("El valor " + text + " no cabe en el campo " + cp1252::ToUtf8(f.name) +
                        " de la tabla " + Name() + ", registro " + std::to_string(CurrentRecord()) +
                        " (ancho " + std::to_string(f.width) + ")");
        }
        Store(index, text, true);
    }

    // Text into a text field where cutting would change its meaning (numbers, logicals).
    void StoreWhole(int index, const std::string& text)
    {
        const FieldInfo& f = Info(index);
        if (text.size() > static_cast<std::size_t>(f.width)) {
            throw Error("El valor " + Quoted(text) + " no cabe en el campo " + cp1252::ToUtf8(f.name) +
                        " de la tabla " + Name() + ", registro " + std::to_string(CurrentRecord()) +
                        " (ancho " + std::to_string(f.width) + ")");
        }
        Store(index, text);
    }

    Error ReadOnlyType(int index) const
    {
        const FieldInfo& f = Info(index);
        return Error("No se puede escribir en el campo " + cp1252::ToUtf8(f.name) + " de la tabla " + Name() +
                     ": su tipo (" + Quoted(std::string(1, f.type)) + ") solo se puede leer");
    }

    // Releases the file and forgets the contents; returns the errno of a failed flush, or 0.
    int Release() noexcept
    {
        int err = 0;
        if (file.isOpen() && dirty && sys::Sync(file.fd()) != 0) {
            err = errno;
        }
        file.close();
        c = Contents();
        state = State::Inactive;
        pos = 0;
        bof = true;
        dirty = false;
        buffer.clear();
        onDisk = 0;
        batch = std::string();
        lookups.clear();
        tags.clear();
        indexProblem.clear();
        indexStale = false;
        return err;
    }
};

Table::Table(std::string objectName, std::filesystem::path directory, std::string tableName)
    : m_objectName(std::move(objectName))
    , m_directory(std::move(directory))
    , m_tableName(std::move(tableName))
    , m_impl(std::make_unique<Impl>(*this))
{
}

Table::~Table()
{
    if (m_impl->pending) {
        // A table built beside the old one and never closed: the old one stays.
        m_impl->Release();
        m_impl->DiscardPending();
        return;
    }
    try {
        m_impl->Flush();
        m_impl->FinishIndex();
    } catch (...) {
        // The table stays valid without the records that could not be written, and without the
        // index, which the header already withdrew.
    }
    m_impl->Release();
}

void Table::ClearFieldDefs() { m_fieldDefs.clear(); }

void Table::AddFieldDef(std::string name, FieldType type, int size)
{
    const std::string prefix = "La tabla " + m_tableName + " no admite el campo " + Quoted(name) + ": ";
    if (!IsValidName(name)) {
        throw Error(prefix +
                    "el nombre debe tener de 1 a 10 letras mayúsculas, cifras o '_', empezando por letra");
    }
    if (type == FieldType::String && (size < 1 || size > kMaxStringWidth)) {
        throw Error(prefix + "el ancho de un texto debe estar entre 1 y 254 (se pidió " +
                    std::to_string(size) + ")");
    }
    if (std::any_of(m_fieldDefs.begin(), m_fieldDefs.end(),
                    [&](const FieldDef& f) { return f.name == name; })) {
        throw Error(prefix + "ya hay otro con ese nombre");
    }
    m_fieldDefs.push_back({std::move(name), type, size});
}

void Table::AddIndexDef(std::string name, std::string fields, int options)
{
    const std::string prefix = "La tabla " + m_tableName + " no admite el índice " + Quoted(name) + ": ";
    if (!IsValidName(name)) {
        throw Error(prefix +
                    "el nombre debe tener de 1 a 10 letras mayúsculas, cifras o '_', empezando por letra");
    }
    if (options != 0) {
        throw Error(prefix + "solo se admiten índices ascendentes, con claves repetidas y que distinguen "
                             "mayúsculas de minúsculas");
    }
    if (std::any_of(m_indexDefs.begin(), m_indexDefs.end(),
                    [&](const IndexDef& d) { return d.name == name; })) {
        throw Error(prefix + "ya hay otro con ese nombre");
    }
    if (m_indexDefs.size() >= mdx::kMaxTags) {
        throw Error(prefix + "una tabla admite como mucho " + std::to_string(mdx::kMaxTags) + " índices");
    }
    m_indexDefs.push_back({std::move(name), std::move(fields), options});
}

void Table::CreateTable(Replace when)
{
    const std::string prefix = "No se puede crear la tabla " + m_tableName + ": ";
    if (Active()) {
        throw Error(prefix + "está abierta");
    }
    if (m_fieldDefs.empty()) {
        throw Error(prefix + "no tiene campos");
    }
    if (m_fieldDefs.size() > kMaxFields) {
        throw Error(prefix + "tiene " + std::to_string(m_fieldDefs.size()) + " campos (como mucho " +
                    std::to_string(kMaxFields) + ")");
    }

    const std::size_t headerLength = kHeaderSize + kDescriptorSize * m_fieldDefs.size() + 1;
    std::string bytes(headerLength, '\0');
    std::size_t recordLength = 1;
    std::vector<FieldInfo> fields;
    for (std::size_t i = 0; i < m_fieldDefs.size(); ++i) {
        FieldInfo& f = fields.emplace_back(InfoFor(m_fieldDefs[i]));
        f.offset = static_cast<int>(recordLength);
        char* d = bytes.data() + kHeaderSize + kDescriptorSize * i;
        std::memcpy(d, f.name.data(), f.name.size());
        d[11] = f.type;
        d[16] = static_cast<char>(f.width);
        d[17] = static_cast<char>(f.decimals);
        recordLength += static_cast<std::size_t>(f.width);
    }
    if (recordLength > kMaxRecordLength) {
        throw Error(prefix + "sus registros ocuparían " + std::to_string(recordLength) +
                    " bytes (como mucho " + std::to_string(kMaxRecordLength) + ")");
    }
    std::vector<mdx::Tag> tags;
    for (const IndexDef& def : m_indexDefs) {
        try {
            tags.push_back(mdx::TagFor(def, fields));
        } catch (const Error& e) {
            throw Error(prefix + e.what());
        }
    }
    bytes[0] = static_cast<char>(kVersion);
    PutToday(bytes.data() + 1);
    PutLe(bytes.data() + 8, headerLength, 2);
    PutLe(bytes.data() + 10, recordLength, 2);
    bytes[29] = static_cast<char>(kLanguageDriver);
    bytes[headerLength - 1] = kTerminator;
    bytes += kEndOfFile;

    // The new table is built whole beside the old one, under a name of its own, and renamed over
    // it in one step: on disk there is always the old complete table or the new one.
    Impl& d = *m_impl;
    d.DiscardPending();
    const std::filesystem::path path = m_directory / (m_tableName + ".DBF");
    d.pending.emplace(path);
    const int fd = d.pending->Detach();
    if (const int err = sys::Lock(fd, true); err != 0) {
        sys::Close(fd);
        d.DiscardPending();
        throw Error(prefix + SystemReason(err));
    }
    d.pendingFile = LockedFile::Own(fd);
    if (const int err = WriteAt(fd, 0, bytes.data(), bytes.size()); err != 0) {
        d.DiscardPending();
        throw Error(prefix + SystemReason(err));
    }
    d.pendingTags = std::move(tags);
    if (when == Replace::Now) {
        try {
            Install(d.pendingFile, {}, recordLength, fields);
        } catch (const Error&) {
            d.DiscardPending();
            throw;
        }
        d.DiscardPending();
    }
}

void Table::Install(LockedFile& file, std::string_view records, std::size_t recordLength,
                    const std::vector<FieldInfo>& fields)
{
    Impl& d = *m_impl;
    const std::string prefix = "No se puede guardar la tabla " + m_tableName + ": ";
    const std::vector<mdx::Tag>& tags = d.pendingTags;

    // The index is written beside its final name too, before anything is renamed.
    std::optional<NewFile> index;
    if (!tags.empty()) {
        char today[3];
        PutToday(today);
        mdx::Date date;
        std::memcpy(date.data(), today, date.size());
        index.emplace(m_directory / (m_tableName + ".MDX"));
        int err = index->Write(mdx::Build(m_tableName, tags, fields, records, recordLength, date));
        if (err == 0) {
            err = index->Sync();
        }
        if (const int e = index->Close(); err == 0) {
            err = e;
        }
        if (err != 0) {
            throw Error("No se puede guardar el índice de la tabla " + m_tableName + ": " +
                        SystemReason(err));
        }
    }
    if (sys::Sync(file.fd()) != 0) {
        throw Error(prefix + SystemReason(errno));
    }

    // Never replace a table that another program has open. Under a run's locks that was settled
    // before the run began; the check's own open is closed again, as Windows renames over no open
    // file.
    const std::filesystem::path target = FilePath();
    std::error_code ec;
    if (!runlock::IsHeld(target) && std::filesystem::exists(target, ec)) {
        LockedFile held = LockedFile::Open(target, LockedFile::Mode::Exclusive);
        if (!held.isOpen()) {
            throw Error("La tabla " + m_tableName + " está en uso por otro programa");
        }
    }
    runlock::Release(target);
    if (const int err = d.pending->Commit(); err != 0) {
        runlock::HoldFile(target);
        throw Error(prefix + SystemReason(err));
    }
    d.pending.reset();
    runlock::Hold(target, file.fd());

    // The new table announces no index yet, so the old index may go or be replaced; only once
    // the new one is in place does the header announce it.
    const std::filesystem::path indexTarget = IndexPath();
    runlock::Release(indexTarget);
    if (tags.empty()) {
        // An index left by the old table has no table any more.
        sys::Remove(indexTarget);
    } else {
        if (const int err = index->Commit(); err != 0) {
            throw Error("No se puede guardar el índice de la tabla " + m_tableName + ": " +
                        SystemReason(err));
        }
        runlock::HoldFile(indexTarget);
        const std::size_t end = kHeaderSize + kDescriptorSize * fields.size();
        std::string header = ReadAt(file.fd(), 0, end, m_tableName);
        if (header.size() < end) {
            throw Error(prefix + SystemReason(EIO));
        }
        SetIndexFlags(header, tags, true);
        int err = WriteAt(file.fd(), kIndexFlagAt, header.data() + kIndexFlagAt, end - kIndexFlagAt);
        if (err == 0 && sys::SyncData(file.fd()) != 0) {
            err = errno;
        }
        if (err != 0) {
            throw Error("No se puede guardar el índice de la tabla " + m_tableName + ": " +
                        SystemReason(err));
        }
    }
    sys::SyncDirectory(m_directory);
}

void Table::Open(bool exclusive)
{
    if (Active()) {
        return;
    }
    const std::string prefix = "No se puede abrir la tabla " + m_tableName + ": ";
    Impl& d = *m_impl;
    if (d.pendingFile.isOpen()) {
        // The table CreateTable built beside the old one: written here, put in place by Close.
        Contents c = ReadContents(d.pendingFile.fd(), m_tableName);
        d.file = std::move(d.pendingFile);
        d.c = std::move(c);
        d.onDisk = d.c.RecordCount();
        d.exclusive = true;
        d.dirty = false;
        d.state = State::Browse;
        d.pos = 0;
        d.bof = true;
        d.tags = d.pendingTags;
        // The index is written whole when the table is put in place.
        d.indexStale = !d.tags.empty();
        d.pendingOpen = true;
        return;
    }
    const std::filesystem::path path = FilePath();
    std::error_code ec;
    if (!std::filesystem::exists(m_directory, ec)) {
        throw Error(prefix + "no existe el directorio de trabajo " + m_directory.string());
    }
    if (!std::filesystem::exists(path, ec)) {
        throw Error(prefix + "no existe el archivo " + path.string());
    }
    LockedFile file =
        LockedFile::Open(path, exclusive ? LockedFile::Mode::Exclusive : LockedFile::Mode::Shared);
    if (!file.isOpen()) {
        throw Error(prefix + "está en uso por otro programa");
    }
    Contents c = ReadContents(file.fd(), m_tableName);

    d.file = std::move(file);
    d.c = std::move(c);
    d.onDisk = d.c.RecordCount();
    d.exclusive = exclusive;
    d.dirty = false;
    d.state = State::Browse;
    d.pos = 0;
    d.bof = true;
    d.LoadIndex();
}

void Table::Close()
{
    Impl& d = *m_impl;
    if (d.pendingOpen) {
        std::optional<Error> failure;
        try {
            d.Flush();
            Install(d.file, d.c.records, d.c.recordLength, d.c.fields);
        } catch (const Error& e) {
            failure = e;
        }
        d.Release();
        d.DiscardPending();
        if (failure) {
            throw *failure;
        }
        return;
    }
    std::optional<Error> failure;
    try {
        // An index is written only over records that all reached the disk.
        m_impl->Flush();
        m_impl->FinishIndex();
    } catch (const Error& e) {
        failure = e;
    }
    const int err = m_impl->Release();
    if (failure) {
        throw *failure;
    }
    if (err != 0) {
        throw Error("No se puede guardar la tabla " + m_tableName + ": " + SystemReason(err));
    }
}

bool Table::Active() const { return m_impl->state != State::Inactive; }

Table::State Table::CurrentState() const { return m_impl->state; }

void Table::First()
{
    m_impl->RequireBrowse();
    m_impl->Flush();
    m_impl->pos = 0;
    m_impl->bof = true;
}

void Table::Next() { MoveBy(1); }

void Table::Prior() { MoveBy(-1); }

void Table::Last()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.Flush();
    d.pos = d.c.live.empty() ? 0 : d.c.live.size() - 1;
    d.bof = d.c.live.empty();
}

void Table::MoveBy(long count)
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.Flush();
    const std::size_t n = d.c.live.size();
    if (count > 0) {
        const auto forward = static_cast<unsigned long>(count);
        d.pos += std::min<std::size_t>(forward, n - d.pos);
        d.bof = false;
    } else if (count < 0) {
        // -(count + 1) + 1 avoids negating LONG_MIN.
        const auto back = static_cast<unsigned long>(-(count + 1)) + 1;
        if (back > d.pos) {
            d.pos = 0;
            d.bof = true;
        } else {
            d.pos -= back;
            d.bof = false;
        }
    }
}

bool Table::Eof() const
{
    const Impl& d = *m_impl;
    switch (d.state) {
    case State::Inactive:
        return true;
    case State::Insert:
        return false;
    default:
        return d.pos >= d.c.live.size();
    }
}

bool Table::Bof() const { return m_impl->state == State::Inactive || m_impl->bof; }

std::size_t Table::RecordCount() const
{
    if (!Active()) {
        throw m_impl->NotOpen();
    }
    return m_impl->c.live.size();
}

std::size_t Table::Position() const
{
    const Impl& d = *m_impl;
    if (!Active()) {
        throw d.NotOpen();
    }
    return d.state == State::Insert ? d.c.live.size() : d.pos;
}

std::size_t Table::RecordNumber() const
{
    const Impl& d = *m_impl;
    if (!Active()) {
        throw d.NotOpen();
    }
    if (d.state == State::Insert) {
        return d.c.RecordCount() + 1;
    }
    return d.pos < d.c.live.size() ? d.c.live[d.pos] + 1 : 0;
}

Field Table::FieldByName(std::string_view name)
{
    Impl& d = *m_impl;
    if (!Active()) {
        throw d.NotOpen();
    }
    for (std::size_t k = 0, n = d.lookups.size(); k < n; ++k) {
        const std::size_t at = (d.nextLookup + k) % n;
        if (d.lookups[at].first == name) {
            d.nextLookup = at + 1;
            return Field(*this, d.lookups[at].second);
        }
    }
    for (std::size_t i = 0; i < d.c.fields.size(); ++i) {
        if (cp1252::EqualsNoCase(d.c.fields[i].name, name)) {
            if (d.lookups.size() < kMaxLookups) {
                d.lookups.emplace_back(name, static_cast<int>(i));
            }
            return Field(*this, static_cast<int>(i));
        }
    }
    // The object's name first, as the table engine words it; then the table and its file.
    throw Error(m_objectName + ": No se encuentra el campo '" + std::string(name) + "' en la tabla " +
                m_tableName + " (" + Utf8Text(FilePath()) + ")");
}

const std::vector<FieldInfo>& Table::Fields() const { return m_impl->c.fields; }

void Table::Append()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.RequireWritable();
    d.buffer.assign(d.c.recordLength, ' ');
    d.state = State::Insert;
}

void Table::Edit()
{
    Impl& d = *m_impl;
    if (d.state == State::Edit) {
        return;
    }
    d.RequireBrowse();
    d.RequireWritable();
    // An edit is written in place, over records that are all on disk.
    d.Flush();
    if (d.pos >= d.c.live.size()) {
        throw Error("La tabla " + m_tableName + " no tiene registro actual");
    }
    d.editing = d.c.live[d.pos];
    d.buffer = d.c.records.substr(d.editing * d.c.recordLength, d.c.recordLength);
    d.state = State::Edit;
}

void Table::Post()
{
    Impl& d = *m_impl;
    if (d.state != State::Edit && d.state != State::Insert) {
        throw Error("La tabla " + m_tableName + " no está en modo de edición");
    }
    // A table opened shared is written only while nobody else has it open: its lock turns
    // exclusive for the write and back to shared afterwards (a downgrade cannot conflict).
    struct SharedAgain
    {
        LockedFile* file = nullptr;
        ~SharedAgain()
        {
            if (file != nullptr) {
                try {
                    file->Relock(LockedFile::Mode::Shared);
                } catch (const Error&) {
                }
            }
        }
    } sharedAgain;
    if (!d.exclusive) {
        if (!d.file.Relock(LockedFile::Mode::Exclusive)) {
            throw Error("No se puede guardar el registro en la tabla " + m_tableName +
                        ": está en uso por otro programa");
        }
        sharedAgain.file = &d.file;
    }
    const bool changesIndex = d.ChangesIndex();
    if (changesIndex && !d.indexStale) {
        d.MarkIndexStale();
    }
    const std::size_t recordLength = d.c.recordLength;
    d.dirty = true;

    if (d.state == State::Edit) {
        assert(d.onDisk == d.c.RecordCount());
        const std::uint64_t at = d.c.headerLength + std::uint64_t{d.editing} * recordLength;
        // Header bytes 1-3: date of the last update, rewritten only when it changes.
        char today[3];
        PutToday(today);
        char stored[3] = {};
        int err = WriteAt(d.file.fd(), at, d.buffer.data(), recordLength);
        if (err == 0 && (sys::ReadAt(d.file.fd(), stored, sizeof stored, 1) != sizeof stored ||
                         std::memcmp(stored, today, sizeof today) != 0)) {
            err = WriteAt(d.file.fd(), 1, today, sizeof today);
        }
        if (err != 0) {
            throw Error("No se puede guardar el registro en la tabla " + m_tableName + ": " +
                        SystemReason(err));
        }
        d.c.records.replace(d.editing * recordLength, recordLength, d.buffer);
    } else {
        const std::size_t number = d.c.RecordCount();
        if (number >= 0xFFFFFFFFu) {
            throw Error("La tabla " + m_tableName + " no admite más registros");
        }
        d.c.records += d.buffer;
        d.c.live.push_back(number);
        // A shared table is written now, while its lock is exclusive; nobody else can read an
        // exclusive one, whose appends wait for a full batch. A failed Flush has dropped this
        // record again, and the append stays pending.
        if (!d.exclusive || (number + 1 - d.onDisk) * recordLength >= kBatchBytes) {
            d.Flush();
        }
        d.pos = d.c.live.size() - 1;
        d.bof = false;
    }
    d.state = State::Browse;
    d.buffer.clear();
    // A shared table is written only under the exclusive lock taken for this Post: its index is
    // brought up to date before others may open it again.
    if (changesIndex && !d.exclusive) {
        d.RebuildIndex();
    }
}

void Table::Cancel()
{
    Impl& d = *m_impl;
    if (d.state == State::Edit || d.state == State::Insert) {
        d.state = State::Browse;
        d.buffer.clear();
    }
}

void Table::Refresh()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.Flush();
    const std::size_t current =
        d.pos < d.c.live.size() ? d.c.live[d.pos] : std::numeric_limits<std::size_t>::max();
    d.c = ReadContents(d.file.fd(), m_tableName);
    d.onDisk = d.c.RecordCount();
    d.lookups.clear();
    // A stale index keeps the tags it had: Close still has to write it.
    if (!d.indexStale) {
        d.LoadIndex();
    }
    // The same record when it is still there, else the one that followed it.
    d.pos = static_cast<std::size_t>(std::lower_bound(d.c.live.begin(), d.c.live.end(), current) -
                                     d.c.live.begin());
    d.bof = d.bof && d.pos == 0;
}

std::filesystem::path Table::FilePath() const { return FindFile(m_directory, m_tableName + ".DBF"); }

std::filesystem::path Table::IndexPath() const { return FindFile(m_directory, m_tableName + ".MDX"); }

// ---- Field ----------------------------------------------------------------------------------

std::string Field::AsString() const
{
    const auto& d = *m_table->m_impl;
    return ReadString(d.Context(m_index), d.Raw(m_index));
}

std::int32_t Field::AsInteger() const
{
    const auto& d = *m_table->m_impl;
    const std::string text = NumberText(d.Context(m_index), d.Raw(m_index));
    if (text.empty()) {
        return 0;
    }
    const auto value = ParseDecimal(text);
    if (!value) {
        throw Error(Quoted(text) + " no es un valor entero válido" + d.Context(m_index).Where());
    }
    const Decimal rounded = Round(*value, 0, true);
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    if (rounded.whole.size() <= 10) {
        std::from_chars(rounded.whole.data(), rounded.whole.data() + rounded.whole.size(), magnitude);
    }
    if (rounded.whole.size() > 10 || magnitude > kLimit || (magnitude == kLimit && !rounded.negative)) {
        throw Error(Quoted(text) + " no cabe en un entero" + d.Context(m_index).Where());
    }
    return static_cast<std::int32_t>(rounded.negative ? -magnitude : magnitude);
}

double Field::AsFloat() const
{
    const auto& d = *m_table->m_impl;
    const std::string text = NumberText(d.Context(m_index), d.Raw(m_index));
    if (text.empty()) {
        return 0;
    }
    if (const auto value = ParseDecimal(text)) {
        if (const auto result = ToDouble(*value)) {
            return *result;
        }
    }
    throw Error(Quoted(text) + " no es un valor de coma flotante válido" + d.Context(m_index).Where());
}

bool Field::AsBoolean() const
{
    const auto& d = *m_table->m_impl;
    const FieldContext ctx = d.Context(m_index);
    const std::string_view raw = d.Raw(m_index);
    if (ctx.info.type == 'L') {
        return ReadString(ctx, raw) == "T";
    }
    if (ctx.info.type == 'C') {
        const std::string_view text = Trim(raw);
        return !text.empty() && std::string_view("TtYy").find(text[0]) != std::string_view::npos;
    }
    throw Error("El campo " + ctx.Field() + " de la tabla " + d.Name() + " no es lógico");
}

bool Field::IsNull() const
{
    const auto& d = *m_table->m_impl;
    return ReadIsNull(d.Context(m_index), d.Raw(m_index));
}

void Field::SetAsString(std::string_view ansi)
{
    auto& d = *m_table->m_impl;
    const FieldInfo& f = d.Info(m_index);
    switch (f.type) {
    case 'C':
        d.Store(m_index, ansi);
        return;
    case 'N':
    case 'F': {
        const std::string_view text = Trim(ansi);
        if (text.empty()) {
            d.Store(m_index, {});
            return;
        }
        const auto value = ParseDecimal(text);
        if (!value) {
            throw Error(Quoted(text) + " no es un valor numérico válido" + d.Context(m_index).Where());
        }
        d.StoreNumber(m_index, *value);
        return;
    }
    case 'L': {
        const char value = ParseLogical(ansi);
        if (value == 0) {
            throw Error(Quoted(ansi) + " no es un valor lógico válido" + d.Context(m_index).Where());
        }
        d.Store(m_index, std::string_view(&value, 1));
        return;
    }
    default:
        throw d.ReadOnlyType(m_index);
    }
}

void Field::SetAsInteger(std::int64_t value)
{
    auto& d = *m_table->m_impl;
    switch (d.Info(m_index).type) {
    case 'N':
    case 'F':
        d.StoreNumber(m_index, FromInteger(value));
        return;
    case 'C':
        d.StoreWhole(m_index, std::to_string(value));
        return;
    default:
        SetAsString(std::to_string(value));
    }
}

void Field::SetAsFloat(double value)
{
    auto& d = *m_table->m_impl;
    const auto decimal = FromDouble(value);
    const std::string text = decimal ? ShortestText(*decimal) : std::to_string(value);
    switch (d.Info(m_index).type) {
    case 'N':
    case 'F':
        if (!decimal) {
            throw Error(Quoted(text) + " no es un valor numérico válido" + d.Context(m_index).Where());
        }
        d.StoreNumber(m_index, *decimal);
        return;
    case 'C':
        d.StoreWhole(m_index, text);
        return;
    default:
        SetAsString(text);
    }
}

void Field::SetAsBoolean(bool value)
{
    auto& d = *m_table->m_impl;
    const char type = d.Info(m_index).type;
    if (type != 'L' && type != 'C') {
        throw Error("El campo " + cp1252::ToUtf8(d.Info(m_index).name) + " de la tabla " + d.Name() +
                    " no es lógico");
    }
    d.Store(m_index, value ? "T" : "F");
}

void Field::Clear()
{
    auto& d = *m_table->m_impl;
    if (std::string_view("CNFLD").find(d.Info(m_index).type) == std::string_view::npos) {
        throw d.ReadOnlyType(m_index);
    }
    d.Store(m_index, {});
}

const FieldInfo& Field::Info() const { return m_table->m_impl->Info(m_index); }

} // namespace zendral::dbf
