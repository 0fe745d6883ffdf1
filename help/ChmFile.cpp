#include "ChmFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <chm_lib.h>

namespace zendral::help
{
namespace
{

// Objects above this size are refused rather than read into memory.
constexpr quint64 kMaxObjectSize = 64u * 1024u * 1024u;

// #SYSTEM record codes.
constexpr quint16 kSystemContents = 0;
constexpr quint16 kSystemIndex = 1;
constexpr quint16 kSystemDefaultTopic = 2;
constexpr quint16 kSystemTitle = 3;
constexpr quint16 kSystemLocale = 4;
constexpr quint16 kSystemDefaultWindow = 5;
constexpr quint16 kSystemCompiledStem = 6;

// Offsets inside a #WINDOWS entry, each a #STRINGS offset.
constexpr int kWindowName = 0x08;
constexpr int kWindowContents = 0x60;
constexpr int kWindowIndex = 0x64;
constexpr int kWindowDefaultTopic = 0x68;

quint32 Dword(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + at;
    return quint32{p[0]} | quint32{p[1]} << 8 | quint32{p[2]} << 16 | quint32{p[3]} << 24;
}

quint16 Word(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + at;
    return static_cast<quint16>(p[0] | p[1] << 8);
}

// Text up to the first NUL.
QByteArray CString(const QByteArray& b)
{
    const qsizetype nul = b.indexOf('\0');
    return nul >= 0 ? b.left(nul) : b;
}

const char* DecoderName(int codePage)
{
    switch (codePage) {
    case 874:
        return "windows-874";
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    default:
        return "windows-1252";
    }
}

// windows-1252 without ICU: 0x80-0x9F differ from Latin-1; the five unused bytes stay C1 controls.
QString DecodeCp1252(const QByteArray& bytes)
{
    static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out.append(QChar(u >= 0x80 && u < 0xA0 ? kHigh[u - 0x80] : char16_t{u}));
    }
    return out;
}

int EnumerateObject(chmFile*, chmUnitInfo* ui, void* context)
{
    static_cast<QStringList*>(context)->append(QString::fromUtf8(ui->path));
    return CHM_ENUMERATOR_CONTINUE;
}

} // namespace

int CodePageForLcid(quint32 lcid)
{
    const quint32 language = lcid & 0x3FF;
    switch (language) {
    case 0x05: // Czech
    case 0x0E: // Hungarian
    case 0x15: // Polish
    case 0x18: // Romanian
    case 0x1B: // Slovak
    case 0x1C: // Albanian
    case 0x24: // Slovenian
        return 1250;
    case 0x1A: // Croatian and Serbian/Bosnian in Latin script; the Cyrillic ones use 1251
        return lcid == 0x0C1A || lcid == 0x1C1A || lcid == 0x201A ? 1251 : 1250;
    case 0x02: // Bulgarian
    case 0x19: // Russian
    case 0x22: // Ukrainian
    case 0x23: // Belarusian
    case 0x2F: // Macedonian
    case 0x3F: // Kazakh
    case 0x44: // Tatar
        return 1251;
    case 0x08:
        return 1253;
    case 0x1F: // Turkish
        return 1254;
    case 0x2C: // Azerbaijani: Latin 1254, Cyrillic 1251
        return lcid == 0x082C ? 1251 : 1254;
    case 0x0D:
        return 1255;
    case 0x01: // Arabic
    case 0x20: // Urdu
    case 0x29: // Persian
        return 1256;
    case 0x25: // Estonian
    case 0x26: // Latvian
    case 0x27: // Lithuanian
        return 1257;
    case 0x2A:
        return 1258;
    case 0x1E:
        return 874;
    case 0x11:
        return 932;
    case 0x04: // Chinese: simplified in the PRC and Singapore, traditional elsewhere
        return lcid == 0x0804 || lcid == 0x1004 ? 936 : 950;
    case 0x12:
        return 949;
    default:
        return 1252;
    }
}

QString DecodeAnsi(const QByteArray& bytes, int codePage)
{
    QStringDecoder decoder(DecoderName(codePage));
    if (!decoder.isValid()) {
        decoder = QStringDecoder("windows-1252");
    }
    if (!decoder.isValid()) {
        return DecodeCp1252(bytes);
    }
    return decoder.decode(bytes);
}

QString DecodeHtml(const QByteArray& page, int codePage)
{
    if (const auto bom = QStringConverter::encodingForData(page)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(page);
    }
    static const QRegularExpression kCharset(QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9._:-]+))"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = kCharset.match(QString::fromLatin1(page.left(4096)));
    if (match.hasMatch()) {
        const QString label = match.captured(1).toLower();
        // As web browsers do: pages labelled Latin-1 or ASCII are windows-1252 in practice.
        if (label == u"iso-8859-1" || label == u"iso8859-1" || label == u"latin1" || label == u"us-ascii" ||
            label == u"ascii") {
            return DecodeAnsi(page, 1252);
        }
        QStringDecoder decoder(label.toLatin1().constData());
        if (decoder.isValid()) {
            return decoder.decode(page);
        }
    }
    return DecodeAnsi(page, codePage);
}

QString ResolveObjectPath(const QString& raw, const std::function<bool(const QString&)>& exists)
{
    QString path = raw;
    path.replace(u'\\', u'/');
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter()) {
        path = path.mid(2);
    }
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString candidate = u'/' + parts.mid(i).join(u'/');
        if (exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

QString ContextObjectPath(const QString& stored, const std::function<bool(const QString&)>& exists)
{
    if (stored.isEmpty() || stored.contains(u'\\') || stored.contains(u':')) {
        return {};
    }
    const QString object = stored.startsWith(u'/') ? stored : u'/' + stored;
    return object.size() > 1 && exists(object) ? object : QString();
}

std::unique_ptr<ChmFile> ChmFile::Open(const QString& path)
{
    chmFile* handle = chm_open(QFile::encodeName(path).constData());
    if (handle == nullptr) {
        return nullptr;
    }
    std::unique_ptr<ChmFile> file(new ChmFile(handle));
    file->ReadSystem();
    return file;
}

ChmFile::ChmFile(chmFile* handle)
    : m_handle(handle)
{
}

ChmFile::~ChmFile() { chm_close(m_handle); }

bool ChmFile::Exists(const QString& object) const
{
    const QByteArray name = object.toUtf8();
    if (name.isEmpty() || name.size() >= CHM_MAX_PATHLEN) {
        return false;
    }
    chmUnitInfo ui;
    return chm_resolve_object(m_handle, name.constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

std::optional<QByteArray> ChmFile::Read(const QString& object) const
{
    const QByteArray name = object.toUtf8();
    if (name.isEmpty() || name.size() >= CHM_MAX_PATHLEN) {
        return std::nullopt;
    }
    chmUnitInfo ui;
    if (chm_resolve_object(m_handle, name.constData(), &ui) != CHM_RESOLVE_SUCCESS ||
        ui.length > kMaxObjectSize) {
        return std::nullopt;
    }
    QByteArray data(static_cast<qsizetype>(ui.length), Qt::Uninitialized);
    LONGUINT64 done = 0;
    while (done < ui.length) {
        const LONGINT64 got =
            chm_retrieve_object(m_handle, &ui, reinterpret_cast<unsigned char*>(data.data()) + done, done,
                                static_cast<LONGINT64>(ui.length - done));
        if (got <= 0) {
            return std::nullopt;
        }
        done += static_cast<LONGUINT64>(got);
    }
    return data;
}

QStringList ChmFile::Objects() const
{
    QStringList objects;
    chm_enumerate(m_handle, CHM_ENUMERATE_ALL, &EnumerateObject, &objects);
    return objects;
}

QString ChmFile::Resolve(const QString& raw) const
{
    return ResolveObjectPath(raw, [this](const QString& object) { return Exists(object); });
}

QString ChmFile::StringAt(quint32 offset) const
{
    if (offset == 0 || offset >= static_cast<quint32>(m_strings.size())) {
        return {};
    }
    return Decode(CString(m_strings.mid(offset)));
}

QString ChmFile::ContextTopicName(quint32 context) const
{
    if (context == 0) {
        return {};
    }
    // The map is not sorted, and the first entry for a number wins.
    for (const auto& [number, offset] : m_contexts) {
        if (number == context) {
            return StringAt(offset);
        }
    }
    return {};
}

QString ChmFile::TopicForContext(quint32 context) const
{
    return ContextObjectPath(ContextTopicName(context),
                             [this](const QString& object) { return Exists(object); });
}

void ChmFile::ReadSystem()
{
    QByteArray values[7];
    const QByteArray system = Read(QStringLiteral("/#SYSTEM")).value_or(QByteArray());
    for (qsizetype at = 4; at + 4 <= system.size();) {
        const quint16 code = Word(system, at);
        const quint16 length = Word(system, at + 2);
        at += 4;
        if (at + length > system.size()) {
            break;
        }
        const QByteArray data = system.mid(at, length);
        if (code == kSystemLocale && length >= 4) {
            m_lcid = Dword(data, 0);
        } else if (code <= kSystemCompiledStem) {
            values[code] = CString(data);
        }
        at += length;
    }
    m_codePage = CodePageForLcid(m_lcid);
    m_strings = Read(QStringLiteral("/#STRINGS")).value_or(QByteArray());
    m_title = Decode(values[kSystemTitle]);

    // The window named as the default, else the first one, can name the three files too.
    const WindowFiles window = ReadWindow(Decode(values[kSystemDefaultWindow]));

    const QString stem = Decode(values[kSystemCompiledStem]);
    QStringList sitemaps;
    auto onlyOne = [&](const char* suffix) -> QString {
        if (sitemaps.isEmpty()) {
            sitemaps = Objects();
        }
        QString found;
        for (const QString& object : sitemaps) {
            if (object.endsWith(QLatin1String(suffix), Qt::CaseInsensitive) && !object.startsWith(u"/#") &&
                !object.startsWith(u"/$")) {
                if (!found.isEmpty()) {
                    return {};
                }
                found = object;
            }
        }
        return found;
    };
    auto firstOf = [&](std::initializer_list<QString> candidates, const char* suffix) -> QString {
        for (const QString& c : candidates) {
            if (!c.isEmpty()) {
                if (QString object = Resolve(c); !object.isEmpty()) {
                    return object;
                }
            }
        }
        return onlyOne(suffix);
    };
    m_contentsFile = firstOf({Decode(values[kSystemContents]), window.contents,
                              stem.isEmpty() ? QString() : stem + QStringLiteral(".hhc")},
                             ".hhc");
    m_indexFile = firstOf({Decode(values[kSystemIndex]), window.index,
                           stem.isEmpty() ? QString() : stem + QStringLiteral(".hhk")},
                          ".hhk");
    for (const QString& c : {Decode(values[kSystemDefaultTopic]), window.topic}) {
        const QString topic = c.section(u'#', 0, 0);
        if (!topic.isEmpty()) {
            m_defaultTopic = Resolve(topic);
            if (!m_defaultTopic.isEmpty()) {
                break;
            }
        }
    }

    ReadContexts();
}

ChmFile::WindowFiles ChmFile::ReadWindow(const QString& name) const
{
    WindowFiles files;
    const QByteArray windows = Read(QStringLiteral("/#WINDOWS")).value_or(QByteArray());
    if (windows.size() < 8) {
        return files;
    }
    const quint64 size = Dword(windows, 4);
    const quint64 fit = size >= kWindowDefaultTopic + 4 ? (quint64(windows.size()) - 8) / size : 0;
    const quint64 count = std::min<quint64>(Dword(windows, 0), fit);
    qsizetype chosen = count > 0 ? 8 : -1;
    for (quint64 i = 0; i < count && !name.isEmpty(); ++i) {
        const auto entry = static_cast<qsizetype>(8 + i * size);
        if (StringAt(Dword(windows, entry + kWindowName)) == name) {
            chosen = entry;
            break;
        }
    }
    if (chosen >= 0) {
        files.contents = StringAt(Dword(windows, chosen + kWindowContents));
        files.index = StringAt(Dword(windows, chosen + kWindowIndex));
        files.topic = StringAt(Dword(windows, chosen + kWindowDefaultTopic));
    }
    return files;
}

void ChmFile::ReadContexts()
{
    const QByteArray ivb = Read(QStringLiteral("/#IVB")).value_or(QByteArray());
    if (ivb.size() < 4) {
        return;
    }
    const quint64 declared = Dword(ivb, 0);
    const quint64 available = quint64(ivb.size()) - 4;
    const quint64 bytes = declared < available ? declared : available;
    for (quint64 at = 4; at + 8 <= 4 + bytes; at += 8) {
        m_contexts.emplace_back(Dword(ivb, qsizetype(at)), Dword(ivb, qsizetype(at + 4)));
    }
}

} // namespace zendral::help
