#pragma once

#include <QString>
#include <vector>

namespace zendral::help
{

struct SitemapLink
{
    // The topic's title in an index entry that offers several topics; often empty.
    QString title;
    // The topic as written: "temas/a.htm#x", "ms-its:GestIB.chm::/a.htm", "http://...".
    QString local;
};

// One <OBJECT type="text/sitemap"> of a contents (.hhc) or index (.hhk) file.
struct SitemapEntry
{
    // 0 for the outermost list, one more for each nested <UL>.
    int depth = 0;
    // The label; in an index, the keyword.
    QString name;
    std::vector<SitemapLink> links;
    // The keyword an index entry sends the reader to instead of a topic.
    QString seeAlso;
};

// Reads the entries of an already decoded sitemap, in document order. The markup is loose HTML:
// <LI> is never closed, names ignore letter case, values may be quoted either way or not at all
// and may hold character references.
std::vector<SitemapEntry> ParseSitemap(const QString& text);

} // namespace zendral::help
