#include "IniFile.h"

#include "Error.h"
#include "TempDir.h"

#include <QTest>
#include <filesystem>

using namespace zendral;

class IniFileTest : public QObject
{
    Q_OBJECT

private slots:
    void valor_data();
    void valor();
    void archivo();
    void fallos();
};

void IniFileTest::valor_data()
{
    QTest::addColumn<QByteArray>("antes");
    QTest::addColumn<QByteArray>("seccion");
    QTest::addColumn<QByteArray>("clave");
    QTest::addColumn<QByteArray>("despues");

    const QByteArray s = "Transformadores", k = "Transformado";
    QTest::newRow("archivo vacio") << QByteArray() << s << k
                                   << QByteArray("[Transformadores]\r\nTransformado=1\r\n");
    QTest::newRow("falta la seccion, LF")
        << QByteArray("[Velorin]\nRuta=C:\\V\n") << s << k
        << QByteArray("[Velorin]\nRuta=C:\\V\n[Transformadores]\nTransformado=1\n");
    QTest::newRow("falta la seccion, sin salto final")
        << QByteArray("[Velorin]\r\nRuta=C:\\V") << s << k
        << QByteArray("[Velorin]\r\nRuta=C:\\V\r\n[Transformadores]\r\nTransformado=1\r\n");
    QTest::newRow("solo comentarios") << QByteArray("; nada\r\n") << s << k
                                      << QByteArray("; nada\r\n[Transformadores]\r\nTransformado=1\r\n");
    QTest::newRow("cambia el valor y nada mas")
        << QByteArray("; Velorin\r\n[General]\r\nTransformado=7\r\n\r\n[Transformadores]\r\n; ultimo\r\n"
                      "Otra = x \r\nTransformado=0\r\nSigue=2\r\n\r\n[Fin]\r\nA=1")
        << s << k
        << QByteArray("; Velorin\r\n[General]\r\nTransformado=7\r\n\r\n[Transformadores]\r\n; ultimo\r\n"
                      "Otra = x \r\nTransformado=1\r\nSigue=2\r\n\r\n[Fin]\r\nA=1");
    QTest::newRow("mayusculas distintas conservan su forma")
        << QByteArray("[TRANSFORMADORES]\nTRANSFORMADO = -1\n") << s << k
        << QByteArray("[TRANSFORMADORES]\nTRANSFORMADO =1\n");
    QTest::newRow("nombres con blancos alrededor")
        << QByteArray("  [ transformadores ]  \n\ttransformado\t=9\n") << s << k
        << QByteArray("  [ transformadores ]  \n\ttransformado\t=1\n");
    QTest::newRow("clave nueva tras la ultima linea de la seccion")
        << QByteArray("[Transformadores]\r\nOtra=1\r\n\r\n[Fin]\r\n") << s << k
        << QByteArray("[Transformadores]\r\nOtra=1\r\nTransformado=1\r\n\r\n[Fin]\r\n");
    QTest::newRow("seccion vacia al final sin salto")
        << QByteArray("[Transformadores]") << s << k << QByteArray("[Transformadores]\r\nTransformado=1\r\n");
    QTest::newRow("un comentario no es la clave")
        << QByteArray("[Transformadores]\n;Transformado=5\n") << s << k
        << QByteArray("[Transformadores]\n;Transformado=5\nTransformado=1\n");
    QTest::newRow("solo la primera seccion y la primera clave")
        << QByteArray(
               "[Transformadores]\nTransformado=2\nTransformado=3\n[Transformadores]\nTransformado=4\n")
        << s << k
        << QByteArray(
               "[Transformadores]\nTransformado=1\nTransformado=3\n[Transformadores]\nTransformado=4\n");
    QTest::newRow("la clave de otra seccion no cuenta")
        << QByteArray("[Otra]\nTransformado=2\n[Transformadores]\n") << s << k
        << QByteArray("[Otra]\nTransformado=2\n[Transformadores]\nTransformado=1\n");
    QTest::newRow("marca de orden de bytes")
        << QByteArray("\xEF\xBB\xBF[Transformadores]\nTransformado=0\n") << s << k
        << QByteArray("\xEF\xBB\xBF[Transformadores]\nTransformado=1\n");
    // windows-1252 letters fold with their accented capitals.
    QTest::newRow("acentos en windows-1252")
        << QByteArray("[Secci\xF3n]\nA\xD1O=0\n") << QByteArray("SECCI\xD3N") << QByteArray("a\xF1o")
        << QByteArray("[Secci\xF3n]\nA\xD1O=1\n");
}

void IniFileTest::valor()
{
    QFETCH(QByteArray, antes);
    QFETCH(QByteArray, seccion);
    QFETCH(QByteArray, clave);
    QFETCH(QByteArray, despues);
    const std::string out =
        ini::SetValue(antes.toStdString(), seccion.toStdString(), clave.toStdString(), "1");
    QCOMPARE(QByteArray::fromStdString(out), despues);
}

void IniFileTest::archivo()
{
    test::TempDir dir;
    const auto ini = dir / "Velorin.ini";
    ini::WriteInteger(ini, "Transformadores", "Transformado", -1);
    QCOMPARE(test::ReadFile(ini), std::string("[Transformadores]\r\nTransformado=-1\r\n"));
    dir.write("Velorin.ini", "[Velorin]\nVersion=5\n");
    ini::WriteInteger(ini, "Transformadores", "Transformado", 1);
    QCOMPARE(test::ReadFile(ini), std::string("[Velorin]\nVersion=5\n[Transformadores]\nTransformado=1\n"));
    ini::WriteInteger(ini, "transformadores", "TRANSFORMADO", 0);
    QCOMPARE(test::ReadFile(ini), std::string("[Velorin]\nVersion=5\n[Transformadores]\nTransformado=0\n"));
    // Nothing is left beside it.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

void IniFileTest::fallos()
{
    test::TempDir dir;
    const auto ini = dir.write("Velorin.ini", "[Transformadores]\nTransformado=1\n");
    // The replacement cannot be written: the old file stays as it was.
    std::filesystem::create_directory(dir / "Velorin.ini.tmp");
    QVERIFY_THROWS_EXCEPTION(Error, ini::WriteInteger(ini, "Transformadores", "Transformado", 0));
    QCOMPARE(test::ReadFile(ini), std::string("[Transformadores]\nTransformado=1\n"));
    // A file that cannot be read is not replaced.
    std::filesystem::create_directory(dir / "carpeta.ini");
    QVERIFY_THROWS_EXCEPTION(Error, ini::WriteInteger(dir / "carpeta.ini", "T", "K", 0));
    QVERIFY(std::filesystem::is_directory(dir / "carpeta.ini"));
}

QTEST_GUILESS_MAIN(IniFileTest)
#include "IniFileTest.moc"
