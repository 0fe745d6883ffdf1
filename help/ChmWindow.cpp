#include "ChmWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QWindow>

namespace zendral::help
{
namespace
{

const QString kScheme = QStringLiteral("chm");

// Prefixes of addresses into a compiled help file; the part up to "::" names the file.
bool StripItsPrefix(QString& address)
{
    for (const QLatin1String prefix :
         {QLatin1String("mk:@MSITStore:"), QLatin1String("ms-its:"), QLatin1String("its:")}) {
        if (address.startsWith(prefix, Qt::CaseInsensitive)) {
            address = address.mid(prefix.size());
            return true;
        }
    }
    return false;
}

// The help file an "its" address names ("GestIB.chm" of "ms-its:C:\\x\\GestIB.chm::/a.htm"), or
// empty when it names none.
QString ItsFileName(QString address)
{
    if (!StripItsPrefix(address)) {
        return {};
    }
    const qsizetype separator = address.indexOf(QLatin1String("::"));
    QString file = separator >= 0 ? address.left(separator) : address;
    file.replace(u'\\', u'/');
    return file.mid(file.lastIndexOf(u'/') + 1);
}

bool IsWebAddress(const QString& address)
{
    static const QRegularExpression kWeb(QStringLiteral("^(https?|ftp|mailto|news):"),
                                         QRegularExpression::CaseInsensitiveOption);
    return kWeb.match(address).hasMatch();
}

QString MissingPage(const QString& path)
{
    return QStringLiteral("<html><body><h2>Página no encontrada</h2>"
                          "<p>El archivo de ayuda no contiene la página «%1».</p></body></html>")
        .arg(path.toHtmlEscaped());
}

constexpr int kUrlRole = Qt::UserRole;
constexpr int kEntryRole = Qt::UserRole + 1;

} // namespace

QUrl TopicUrl(const QString& address)
{
    QString path = address.trimmed();
    if (IsWebAddress(path) || path.startsWith(kScheme + u':', Qt::CaseInsensitive)) {
        return QUrl(path);
    }
    if (StripItsPrefix(path) || path.contains(QLatin1String("::"))) {
        const qsizetype separator = path.indexOf(QLatin1String("::"));
        path = separator >= 0 ? path.mid(separator + 2) : QString();
    }
    QString fragment;
    if (const qsizetype hash = path.indexOf(u'#'); hash >= 0) {
        fragment = path.mid(hash + 1);
        path.truncate(hash);
    }
    path = QUrl::fromPercentEncoding(path.toUtf8());
    path.replace(u'\\', u'/');
    if (!path.startsWith(u'/')) {
        path.prepend(u'/');
    }
    QUrl url;
    url.setScheme(kScheme);
    // An empty authority keeps the form chm:///path.
    url.setAuthority(QStringLiteral(""));
    url.setPath(QDir::cleanPath(path));
    if (!fragment.isEmpty()) {
        url.setFragment(fragment);
    }
    return url;
}

ChmBrowser::ChmBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    // With external links on, Qt would hand every chm: link to the desktop instead of showing it.
    setOpenExternalLinks(false);
}

void ChmBrowser::SetFile(const ChmFile* file, const QString& fileName)
{
    m_file = file;
    m_fileName = fileName;
}

QVariant ChmBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl url = name.isRelative() && source().isValid() ? source().resolved(name) : name;
    if (url.scheme() != kScheme || m_file == nullptr) {
        return QTextBrowser::loadResource(type, name);
    }
    QString path = url.path();
    path.replace(u'\\', u'/');
    const std::optional<QByteArray> data = m_file->Read(path);
    switch (type) {
    case QTextDocument::HtmlResource:
        return data ? DecodeHtml(*data, m_file->CodePage()) : MissingPage(path);
    case QTextDocument::StyleSheetResource:
        return data ? DecodeHtml(*data, m_file->CodePage()) : QVariant();
    default:
        // Images go back as raw bytes; the document recognises PNG, GIF and JPEG by themselves.
        return data ? QVariant(*data) : QVariant();
    }
}

void ChmBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type)
{
    const QString scheme = name.scheme().toLower();
    if (scheme == u"ms-its" || scheme == u"its" || scheme == u"mk") {
        // Encoded, so that TopicUrl decodes it exactly once.
        const QString address = name.toString(QUrl::FullyEncoded);
        const QString target = ItsFileName(QUrl::fromPercentEncoding(address.toUtf8()));
        if (!target.isEmpty() && target.compare(m_fileName, Qt::CaseInsensitive) != 0) {
            setHtml(QStringLiteral("<p>Este enlace lleva a otro archivo de ayuda, «%1», "
                                   "que esta ventana no puede mostrar.</p>")
                        .arg(target.toHtmlEscaped()));
            return;
        }
        QTextBrowser::doSetSource(TopicUrl(address), type);
        return;
    }
    if (IsWebAddress(name.toString())) {
        QDesktopServices::openUrl(name);
        return;
    }
    if (name.isRelative() && source().isValid()) {
        QTextBrowser::doSetSource(source().resolved(name), type);
        return;
    }
    QTextBrowser::doSetSource(name, type);
}

ChmWindow::ChmWindow(const QString& chmPath)
    : m_path(chmPath)
    , m_notice(new QLabel(this))
    , m_tabs(new QTabWidget(this))
    , m_contents(new QTreeWidget(this))
    , m_indexSearch(new QLineEdit(this))
    , m_index(new QTreeWidget(this))
    , m_indexTopics(new QListWidget(this))
    , m_page(new ChmBrowser(this))
{
    setObjectName(QStringLiteral("VentanaAyuda"));
    m_notice->setObjectName(QStringLiteral("Aviso"));
    m_tabs->setObjectName(QStringLiteral("Pestanas"));
    m_contents->setObjectName(QStringLiteral("Contenido"));
    m_indexSearch->setObjectName(QStringLiteral("BuscarIndice"));
    m_index->setObjectName(QStringLiteral("Indice"));
    m_indexTopics->setObjectName(QStringLiteral("TemasIndice"));
    m_page->setObjectName(QStringLiteral("Pagina"));

    auto* toolBar = new QToolBar(this);
    QAction* back = toolBar->addAction(QStringLiteral("Atrás"));
    QAction* forward = toolBar->addAction(QStringLiteral("Adelante"));
    QAction* home = toolBar->addAction(QStringLiteral("Inicio"));
    back->setEnabled(false);
    forward->setEnabled(false);
    home->setEnabled(false);

    LayOut(toolBar);

    const QFileInfo info(chmPath);
    setWindowTitle(QStringLiteral("Ayuda - ") + info.fileName());
    if (!info.isFile()) {
        SetNotice(
            QStringLiteral("No se encuentra el archivo de ayuda %1.").arg(QDir::toNativeSeparators(chmPath)));
        return;
    }
    m_file = ChmFile::Open(chmPath);
    if (!m_file) {
        SetNotice(QStringLiteral("El archivo %1 no es un archivo de ayuda válido.")
                      .arg(QDir::toNativeSeparators(chmPath)));
        return;
    }
    if (!m_file->Title().isEmpty()) {
        setWindowTitle(m_file->Title());
    }
    m_page->SetFile(m_file.get(), info.fileName());
    home->setEnabled(true);
    BuildContents();
    BuildIndex();

    connect(back, &QAction::triggered, m_page, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_page, &QTextBrowser::forward);
    connect(home, &QAction::triggered, this, [this] { Open(DefaultUrl()); });
    connect(m_page, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_page, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_page, &QTextBrowser::sourceChanged, this, &ChmWindow::SyncContents);

    ConnectPanes();
}

ChmWindow::~ChmWindow()
{
    // The page pane reads from the file while it is torn down; let it go first.
    delete m_page;
    m_page = nullptr;
}

void ChmWindow::LayOut(QToolBar* toolBar)
{
    m_notice->setWordWrap(true);
    m_notice->setStyleSheet(QStringLiteral("background:#FFF4CE; border:1px solid #E0C060; padding:4px;"));
    m_notice->hide();

    m_contents->setHeaderHidden(true);
    m_index->setHeaderHidden(true);
    m_index->setRootIsDecorated(false);
    m_indexSearch->setPlaceholderText(QStringLiteral("Escriba la palabra clave"));
    m_indexTopics->hide();

    auto* indexPage = new QWidget(this);
    auto* indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(2, 2, 2, 2);
    indexLayout->addWidget(m_indexSearch);
    indexLayout->addWidget(m_index, 3);
    indexLayout->addWidget(m_indexTopics, 1);
    m_tabs->addTab(m_contents, QStringLiteral("Contenido"));
    m_tabs->addTab(indexPage, QStringLiteral("Índice"));

    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_page);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 640});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(toolBar);
    layout->addWidget(m_notice);
    layout->addWidget(splitter, 1);
    resize(920, 640);
}

void ChmWindow::ConnectPanes()
{
    auto openContents = [this](QTreeWidgetItem* item) {
        if (item != nullptr && !item->data(0, kUrlRole).toUrl().isEmpty()) {
            Open(item->data(0, kUrlRole).toUrl());
        }
    };
    connect(m_contents, &QTreeWidget::itemClicked, this, openContents);
    connect(m_contents, &QTreeWidget::itemActivated, this, openContents);
    connect(m_indexSearch, &QLineEdit::textEdited, this, &ChmWindow::SelectKeyword);
    connect(m_indexSearch, &QLineEdit::returnPressed, this,
            [this] { OpenIndexEntry(m_index->currentItem()); });
    connect(m_index, &QTreeWidget::currentItemChanged, this, &ChmWindow::ShowIndexTopics);
    connect(m_index, &QTreeWidget::itemActivated, this, &ChmWindow::OpenIndexEntry);
    auto openTopic = [this](QListWidgetItem* item) {
        if (item != nullptr) {
            Open(item->data(kUrlRole).toUrl());
        }
    };
    connect(m_indexTopics, &QListWidget::itemClicked, this, openTopic);
    connect(m_indexTopics, &QListWidget::itemActivated, this, openTopic);
}

QString ChmWindow::Notice() const { return m_notice->text(); }

void ChmWindow::SetNotice(const QString& text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

void ChmWindow::BuildContents()
{
    const QString sitemap = m_file->ContentsFile();
    const std::vector<SitemapEntry> entries =
        sitemap.isEmpty() ? std::vector<SitemapEntry>()
                          : ParseSitemap(m_file->Decode(m_file->Read(sitemap).value_or(QByteArray())));
    std::vector<QTreeWidgetItem*> parents;
    for (const SitemapEntry& entry : entries) {
        const std::size_t depth =
            std::min<std::size_t>(static_cast<std::size_t>(entry.depth), parents.size());
        parents.resize(depth);
        auto* item = depth == 0 ? new QTreeWidgetItem(m_contents) : new QTreeWidgetItem(parents.back());
        item->setText(0, entry.name);
        if (!entry.links.empty()) {
            const QUrl url = TopicUrl(entry.links.front().local);
            item->setData(0, kUrlRole, url);
            if (m_firstContentsUrl.isEmpty()) {
                m_firstContentsUrl = url;
            }
        }
        parents.push_back(item);
    }
    m_contents->expandAll();
}

void ChmWindow::BuildIndex()
{
    const QString sitemap = m_file->IndexFile();
    if (!sitemap.isEmpty()) {
        m_indexEntries = ParseSitemap(m_file->Decode(m_file->Read(sitemap).value_or(QByteArray())));
    }
    std::vector<QTreeWidgetItem*> parents;
    for (std::size_t i = 0; i < m_indexEntries.size(); ++i) {
        const SitemapEntry& entry = m_indexEntries[i];
        const std::size_t depth =
            std::min<std::size_t>(static_cast<std::size_t>(entry.depth), parents.size());
        parents.resize(depth);
        auto* item = depth == 0 ? new QTreeWidgetItem(m_index) : new QTreeWidgetItem(parents.back());
        item->setText(0, entry.name);
        item->setData(0, kEntryRole, static_cast<int>(i));
        parents.push_back(item);
    }
    m_index->expandAll();
}

QUrl ChmWindow::DefaultUrl() const
{
    if (m_file && !m_file->DefaultTopic().isEmpty()) {
        return TopicUrl(m_file->DefaultTopic());
    }
    return m_firstContentsUrl;
}

void ChmWindow::Open(const QUrl& url)
{
    if (m_file && url.isValid() && !url.isEmpty()) {
        m_page->setSource(url);
    }
}

void ChmWindow::ShowContext(quint32 context)
{
    if (!m_file) {
        return;
    }
    SetNotice({});
    m_tabs->setCurrentIndex(0);
    const QString stored = m_file->ContextTopicName(context);
    if (stored.isEmpty()) {
        SetNotice(QStringLiteral("El archivo de ayuda no tiene ningún tema para el número de contexto %1.")
                      .arg(context));
        Open(DefaultUrl());
        return;
    }
    // Only the topic of exactly that name: the HTML Help engine looks for no other.
    const QString topic = m_file->TopicForContext(context);
    if (topic.isEmpty()) {
        SetNotice(QStringLiteral("No se encuentra el tema «%1» en el archivo de ayuda.").arg(stored));
        Open(DefaultUrl());
        return;
    }
    Open(TopicUrl(topic));
}

void ChmWindow::ShowContents()
{
    if (!m_file) {
        return;
    }
    SetNotice({});
    m_tabs->setCurrentIndex(0);
    Open(DefaultUrl());
}

void ChmWindow::ShowIndex(const QString& keyword)
{
    if (!m_file) {
        return;
    }
    SetNotice({});
    m_tabs->setCurrentIndex(1);
    m_indexSearch->setText(keyword);
    SelectKeyword(keyword);
    if (m_page->source().isEmpty()) {
        Open(DefaultUrl());
    }
}

void ChmWindow::ShowTopic(const QString& topic)
{
    if (!m_file) {
        return;
    }
    SetNotice({});
    if (topic.isEmpty() || topic == u"/") {
        Open(DefaultUrl());
        return;
    }
    const QUrl url = TopicUrl(topic);
    if (url.scheme() == kScheme && !m_file->Exists(url.path())) {
        SetNotice(QStringLiteral("No se encuentra el tema «%1» en el archivo de ayuda.").arg(topic));
        if (m_page->source().isEmpty()) {
            Open(DefaultUrl());
        }
        return;
    }
    Open(url);
}

void ChmWindow::SelectKeyword(const QString& text)
{
    if (text.isEmpty()) {
        m_index->setCurrentItem(nullptr);
        return;
    }
    for (QTreeWidgetItemIterator it(m_index); *it != nullptr; ++it) {
        if ((*it)->text(0).startsWith(text, Qt::CaseInsensitive)) {
            m_index->setCurrentItem(*it);
            m_index->scrollToItem(*it, QAbstractItemView::PositionAtTop);
            return;
        }
    }
}

void ChmWindow::ShowIndexTopics(QTreeWidgetItem* item)
{
    m_indexTopics->clear();
    if (item == nullptr) {
        m_indexTopics->hide();
        return;
    }
    const SitemapEntry& entry = m_indexEntries[static_cast<std::size_t>(item->data(0, kEntryRole).toInt())];
    if (entry.links.size() > 1) {
        for (const SitemapLink& link : entry.links) {
            auto* topic = new QListWidgetItem(link.title.isEmpty() ? link.local : link.title, m_indexTopics);
            topic->setData(kUrlRole, TopicUrl(link.local));
        }
    }
    m_indexTopics->setVisible(entry.links.size() > 1);
}

void ChmWindow::OpenIndexEntry(QTreeWidgetItem* item)
{
    if (item == nullptr) {
        return;
    }
    const SitemapEntry& entry = m_indexEntries[static_cast<std::size_t>(item->data(0, kEntryRole).toInt())];
    if (entry.links.empty() && !entry.seeAlso.isEmpty()) {
        m_indexSearch->setText(entry.seeAlso);
        SelectKeyword(entry.seeAlso);
    } else if (entry.links.size() == 1) {
        Open(TopicUrl(entry.links.front().local));
    } else if (entry.links.size() > 1) {
        ShowIndexTopics(item);
        m_indexTopics->setCurrentRow(0);
        m_indexTopics->setFocus();
    }
}

void ChmWindow::SyncContents(const QUrl& url)
{
    QTreeWidgetItem* pathMatch = nullptr;
    for (QTreeWidgetItemIterator it(m_contents); *it != nullptr; ++it) {
        const QUrl itemUrl = (*it)->data(0, kUrlRole).toUrl();
        if (itemUrl.isEmpty() || itemUrl.path().compare(url.path(), Qt::CaseInsensitive) != 0) {
            continue;
        }
        if (itemUrl.fragment() == url.fragment()) {
            pathMatch = *it;
            break;
        }
        if (pathMatch == nullptr) {
            pathMatch = *it;
        }
    }
    if (pathMatch != nullptr) {
        const QSignalBlocker blocker(m_contents);
        m_contents->setCurrentItem(pathMatch);
    }
}

void ChmWindow::SetOwner(QWidget* owner)
{
    winId();
    QWindow* handle = windowHandle();
    if (handle == nullptr) {
        return;
    }
    QWindow* parent = owner != nullptr ? owner->window()->windowHandle() : nullptr;
    if (parent != handle) {
        handle->setTransientParent(parent);
    }
}

void ChmWindow::Present()
{
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

} // namespace zendral::help
