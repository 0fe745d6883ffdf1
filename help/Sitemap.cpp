#include "Sitemap.h"

#include <QList>
#include <algorithm>
#include <utility>

namespace zendral::help
{
namespace
{

struct Tag
{
    QString name; // lower case
    bool closing = false;
    QList<std::pair<QString, QString>> attributes; // names in lower case

    QString Attribute(QLatin1String wanted) const
    {
        for (const auto& [name, value] : attributes) {
            if (name == wanted) {
                return value;
            }
        }
        return {};
    }
};

// The named references help authors write by hand, accented letters of the Latin alphabets
// included; numeric references cover the rest.
char16_t NamedEntity(const QString& name)
{
    static const std::pair<const char*, char16_t> kEntities[] = {
        {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},     {"apos", u'\''},
        {"nbsp", 0x00A0},   {"iexcl", 0x00A1},  {"iquest", 0x00BF}, {"ordf", 0x00AA},   {"ordm", 0x00BA},
        {"middot", 0x00B7}, {"laquo", 0x00AB},  {"raquo", 0x00BB},  {"copy", 0x00A9},   {"reg", 0x00AE},
        {"euro", 0x20AC},   {"Aacute", 0x00C1}, {"Eacute", 0x00C9}, {"Iacute", 0x00CD}, {"Oacute", 0x00D3},
        {"Uacute", 0x00DA}, {"aacute", 0x00E1}, {"eacute", 0x00E9}, {"iacute", 0x00ED}, {"oacute", 0x00F3},
        {"uacute", 0x00FA}, {"Agrave", 0x00C0}, {"Egrave", 0x00C8}, {"Igrave", 0x00CC}, {"Ograve", 0x00D2},
        {"Ugrave", 0x00D9}, {"agrave", 0x00E0}, {"egrave", 0x00E8}, {"igrave", 0x00EC}, {"ograve", 0x00F2},
        {"ugrave", 0x00F9}, {"Ntilde", 0x00D1}, {"ntilde", 0x00F1}, {"Ccedil", 0x00C7}, {"ccedil", 0x00E7},
        {"Uuml", 0x00DC},   {"uuml", 0x00FC},   {"Iuml", 0x00CF},   {"iuml", 0x00EF},   {"Auml", 0x00C4},
        {"auml", 0x00E4},   {"Ouml", 0x00D6},   {"ouml", 0x00F6},   {"Euml", 0x00CB},   {"euml", 0x00EB},
        {"szlig", 0x00DF},  {"acirc", 0x00E2},  {"ecirc", 0x00EA},  {"icirc", 0x00EE},  {"ocirc", 0x00F4},
        {"ucirc", 0x00FB},
    };
    for (const auto& [entity, c] : kEntities) {
        if (name == QLatin1String(entity)) {
            return c;
        }
    }
    return 0;
}

// Replaces character references; an unknown or malformed one stays as written.
QString DecodeEntities(const QString& s)
{
    if (!s.contains(u'&')) {
        return s;
    }
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const qsizetype semicolon = s[i] == u'&' ? s.indexOf(u';', i + 1) : -1;
        if (semicolon < 0 || semicolon - i > 10) {
            out.append(s[i]);
            continue;
        }
        const QString name = s.mid(i + 1, semicolon - i - 1);
        char32_t code = 0;
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            const uint value = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            code = ok && value > 0 && value <= 0x10FFFF ? value : 0;
        } else {
            code = NamedEntity(name);
        }
        if (code == 0) {
            out.append(s[i]);
            continue;
        }
        out.append(QString::fromUcs4(&code, 1));
        i = semicolon;
    }
    return out;
}

bool IsNameChar(QChar c) { return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':'; }

// Reads the tag that starts at text[at] == '<'; `at` moves past its '>'.
Tag ReadTag(const QString& text, qsizetype& at)
{
    Tag tag;
    const qsizetype n = text.size();
    qsizetype p = at + 1;
    if (p < n && text[p] == u'/') {
        tag.closing = true;
        ++p;
    }
    const qsizetype nameStart = p;
    while (p < n && IsNameChar(text[p])) {
        ++p;
    }
    tag.name = text.mid(nameStart, p - nameStart).toLower();
    while (p < n && text[p] != u'>') {
        if (text[p].isSpace() || text[p] == u'/') {
            ++p;
            continue;
        }
        const qsizetype attrStart = p;
        while (p < n && !text[p].isSpace() && text[p] != u'=' && text[p] != u'>') {
            ++p;
        }
        const QString attrName = text.mid(attrStart, p - attrStart).toLower();
        while (p < n && text[p].isSpace()) {
            ++p;
        }
        QString value;
        if (p < n && text[p] == u'=') {
            ++p;
            while (p < n && text[p].isSpace()) {
                ++p;
            }
            if (p < n && (text[p] == u'"' || text[p] == u'\'')) {
                const QChar quote = text[p];
                const qsizetype end = text.indexOf(quote, p + 1);
                const qsizetype stop = end < 0 ? n : end;
                value = text.mid(p + 1, stop - p - 1);
                p = end < 0 ? n : end + 1;
            } else {
                const qsizetype valueStart = p;
                while (p < n && !text[p].isSpace() && text[p] != u'>') {
                    ++p;
                }
                value = text.mid(valueStart, p - valueStart);
            }
        }
        tag.attributes.append({attrName, DecodeEntities(value)});
    }
    at = p < n ? p + 1 : n;
    return tag;
}

} // namespace

std::vector<SitemapEntry> ParseSitemap(const QString& text)
{
    std::vector<SitemapEntry> entries;
    int openLists = 0;
    bool inSitemapObject = false;
    bool haveName = false;
    SitemapEntry current;
    QString pendingTitle;

    auto finish = [&] {
        if (inSitemapObject && (haveName || !current.links.empty())) {
            entries.push_back(std::move(current));
        }
        inSitemapObject = false;
        current = SitemapEntry();
    };

    qsizetype at = 0;
    while ((at = text.indexOf(u'<', at)) >= 0) {
        if (text.mid(at, 4) == QLatin1String("<!--")) {
            const qsizetype end = text.indexOf(QLatin1String("-->"), at + 4);
            at = end < 0 ? text.size() : end + 3;
            continue;
        }
        const Tag tag = ReadTag(text, at);
        if (tag.name == QLatin1String("ul")) {
            openLists = tag.closing ? std::max(0, openLists - 1) : openLists + 1;
        } else if (tag.name == QLatin1String("object")) {
            // An object left open ends where the next one starts.
            finish();
            if (!tag.closing) {
                inSitemapObject = tag.Attribute(QLatin1String("type"))
                                      .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
                haveName = false;
                pendingTitle.clear();
                current.depth = std::max(0, openLists - 1);
            }
        } else if (tag.name == QLatin1String("param") && inSitemapObject) {
            const QString name = tag.Attribute(QLatin1String("name")).trimmed().toLower();
            const QString value = tag.Attribute(QLatin1String("value"));
            if (name == QLatin1String("name")) {
                if (!haveName) {
                    current.name = value;
                    haveName = true;
                } else {
                    pendingTitle = value;
                }
            } else if (name == QLatin1String("local")) {
                current.links.push_back({pendingTitle, value});
                pendingTitle.clear();
            } else if (name == QLatin1String("see also")) {
                current.seeAlso = value;
            }
        }
    }
    finish();
    return entries;
}

} // namespace zendral::help
