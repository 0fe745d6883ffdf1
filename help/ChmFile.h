#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct chmFile;

namespace zendral::help
{

// The Windows ANSI code page of a locale ID (1252 for Spanish, Catalan, English, ...).
int CodePageForLcid(quint32 lcid);
// Decodes text in a Windows ANSI code page; code pages this build cannot decode fall back to 1252.
QString DecodeAnsi(const QByteArray& bytes, int codePage);
// Decodes an HTML page: a byte-order mark first, then the charset its <meta> declares, else the
// help file's code page. Pages are never assumed to be UTF-8.
QString DecodeHtml(const QByteArray& page, int codePage);

// Turns a path as a help project writes it ("temas\\a.htm", "C:/proj/temas/a.htm") into the
// archive's object name: "\" becomes "/", a drive is dropped and a leading "/" added. When no
// object has that name, leading folders are dropped one at a time until one does, so an absolute
// path of the build machine finds the topic it ends with. Empty when nothing matches.
QString ResolveObjectPath(const QString& raw, const std::function<bool(const QString&)>& exists);

// The object name of a topic as the context map stores it: its name relative to the help file
// ("temas/a.htm"), which may carry the leading "/" of chmlib's object names. Nothing else is
// mended, as the HTML Help engine mends nothing: a path of the build machine, a drive or a "\"
// gives empty, and so does a name that the file lacks.
QString ContextObjectPath(const QString& stored, const std::function<bool(const QString&)>& exists);

// A compiled HTML Help file opened with chmlib. Object names start with "/" and ignore letter case.
class ChmFile
{
public:
    // Null when the file is missing or not a CHM.
    static std::unique_ptr<ChmFile> Open(const QString& path);
    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    bool Exists(const QString& object) const;
    std::optional<QByteArray> Read(const QString& object) const;
    // Every object of the archive, bookkeeping included.
    QStringList Objects() const;

    int CodePage() const { return m_codePage; }
    quint32 Lcid() const { return m_lcid; }
    QString Decode(const QByteArray& bytes) const { return DecodeAnsi(bytes, m_codePage); }
    QString Title() const { return m_title; }
    // Object names, empty when the file has none.
    QString DefaultTopic() const { return m_defaultTopic; }
    QString ContentsFile() const { return m_contentsFile; }
    QString IndexFile() const { return m_indexFile; }
    // The topic name the context map stores for the number, as stored; empty when it lacks it.
    QString ContextTopicName(quint32 context) const;
    // The topic's object name, or empty when the context map lacks the number or names a topic
    // that the file does not have under exactly that name (ContextObjectPath).
    QString TopicForContext(quint32 context) const;
    // Resolves a topic name of the file's own tables to an object name, or empty.
    QString Resolve(const QString& raw) const;

private:
    // What a window of the project names; empty texts for what it leaves out.
    struct WindowFiles
    {
        QString contents;
        QString index;
        QString topic;
    };

    explicit ChmFile(chmFile* handle);
    // The project settings: locale, title, the contents and index files, the default topic.
    void ReadSystem();
    // The files of the window called `name`, else of the first window.
    WindowFiles ReadWindow(const QString& name) const;
    // The context map: context numbers and their topics' offsets in the string table.
    void ReadContexts();
    QString StringAt(quint32 offset) const;

    chmFile* m_handle;
    quint32 m_lcid = 0;
    int m_codePage = 1252;
    QString m_title;
    QString m_defaultTopic;
    QString m_contentsFile;
    QString m_indexFile;
    QByteArray m_strings;
    std::vector<std::pair<quint32, quint32>> m_contexts;
};

} // namespace zendral::help
