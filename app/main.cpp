#include "Ayuda.h"
#include "MainForm.h"
#include "QtPrompter.h"
#include "System.h"
#include "WorkDir.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The help viewer lives as long as the program; it closes its windows when it goes.
    zendral::help::Ayuda ayuda(app);
    // Spanish texts in Qt's own dialogs (file dialog, buttons).
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    // An installed program carries the translation beside it (translations/); a build uses Qt's.
    QTranslator traduccion;
    for (const QString& carpeta : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (traduccion.load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                            QStringLiteral("_"), carpeta)) {
            QApplication::installTranslator(&traduccion);
            break;
        }
    }

    ayuda.EstablecerArchivo(QString::fromLatin1(zendral::kArchivoAyuda));
    QApplication::setApplicationName(QStringLiteral("Zendral"));
    // Every window's icon, at each size drawn, so that no size is scaled from another.
    QIcon icono;
    const QDir iconos(QStringLiteral(":/icono"));
    for (const QString& png : iconos.entryList({QStringLiteral("*.png")})) {
        icono.addFile(iconos.filePath(png));
    }
    QApplication::setWindowIcon(icono);

    zendral::QtPrompter prompter(ayuda);
    const std::filesystem::path ini = zendral::sys::ExecutableFolder() / "Velorin.ini";
    zendral::TMForm MForm(QApplication::arguments().mid(1), prompter, ayuda, zendral::WorkingDirectory(),
                          ini);
    QObject::connect(&MForm, &zendral::TMForm::Cerrada, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    MForm.show();
    return app.exec();
}
