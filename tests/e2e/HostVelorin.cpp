// A stand-in for the host's side of the start-up: it shows a window of its own, starts the tool
// with a run and that window's handle in hexadecimal, and ends with the tool's exit code. The
// handle goes to standard output first, so that a test can find the window.
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "Uso: host-velorin PROGRAMA RUN\n");
        return 2;
    }
    QLabel ventana(QStringLiteral("Velorin"));
    ventana.setWindowTitle(QStringLiteral("Velorin (anfitrión de prueba)"));
    ventana.setAlignment(Qt::AlignBottom | Qt::AlignRight);
    ventana.resize(800, 500);
    ventana.show();
    const QString manejador = QString::number(ventana.winId(), 16).toUpper();
    std::printf("%s\n", qPrintable(manejador));
    std::fflush(stdout);

    QProcess herramienta;
    herramienta.setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(&herramienta, &QProcess::finished, &app,
                     [&app](int codigo, QProcess::ExitStatus estado) {
                         app.exit(estado == QProcess::NormalExit ? codigo : 70);
                     });
    QObject::connect(&herramienta, &QProcess::errorOccurred, &app, [&app](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            std::fprintf(stderr, "No se pudo iniciar la herramienta\n");
            app.exit(71);
        }
    });
    herramienta.start(args[1], {args[2], manejador});
    return app.exec();
}
