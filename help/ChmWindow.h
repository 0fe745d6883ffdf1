#pragma once

#include "ChmFile.h"
#include "Sitemap.h"

#include <QTextBrowser>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace zendral::help
{

// The address of a topic as pages, sitemaps and callers write it ("temas\\a.htm#x", "/a.htm",
// "ms-its:GestIB.chm::/a.htm", "mk:@MSITStore:C:\\x\\GestIB.chm::/a.htm") in the private scheme
// the page pane uses: chm:///temas/a.htm#x. Web and mail addresses come back unchanged.
QUrl TopicUrl(const QString& address);

// Shows the pages of one help file; images, style sheets and linked pages come out of the file.
class ChmBrowser final : public QTextBrowser
{
public:
    explicit ChmBrowser(QWidget* parent = nullptr);
    void SetFile(const ChmFile* file, const QString& fileName);

    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    const ChmFile* m_file = nullptr;
    QString m_fileName;
};

// One help window: contents and index beside the page, and a line for notices.
class ChmWindow final : public QWidget
{
public:
    explicit ChmWindow(const QString& chmPath);
    ~ChmWindow() override;

    bool IsOpen() const { return m_file != nullptr; }
    const QString& Path() const { return m_path; }
    QString Notice() const;
    ChmBrowser* Page() const { return m_page; }

    // The four requests. Each clears the previous notice.
    void ShowContext(quint32 context);
    void ShowContents();
    void ShowIndex(const QString& keyword);
    void ShowTopic(const QString& topic);

    // Keeps the window above its owner and usable while the owner is a modal dialog.
    void SetOwner(QWidget* owner);
    void Present();

private:
    // The tool bar and notice above, the contents and index beside the page.
    void LayOut(QToolBar* toolBar);
    // Clicks and keys in the contents, the index and its topics open their pages.
    void ConnectPanes();
    void BuildContents();
    void BuildIndex();
    void Open(const QUrl& url);
    QUrl DefaultUrl() const;
    void SetNotice(const QString& text);
    void SelectKeyword(const QString& text);
    void ShowIndexTopics(QTreeWidgetItem* item);
    void OpenIndexEntry(QTreeWidgetItem* item);
    void SyncContents(const QUrl& url);

    QString m_path;
    std::unique_ptr<ChmFile> m_file;
    std::vector<SitemapEntry> m_indexEntries;
    QUrl m_firstContentsUrl;
    QLabel* m_notice;
    QTabWidget* m_tabs;
    QTreeWidget* m_contents;
    QLineEdit* m_indexSearch;
    QTreeWidget* m_index;
    QListWidget* m_indexTopics;
    ChmBrowser* m_page;
};

} // namespace zendral::help
